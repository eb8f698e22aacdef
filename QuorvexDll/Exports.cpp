// The exported functions of libQuorvexDll.so: each hands over to the
// library object, which looks the handle up, checks the output pointers and
// keeps the device alive for the call.
#include "QuorvexDll.h"

#include "ApertureDataFile.h"
#include "QuorvexProtocol.h"
#include "Quorvex.h"
#include "SpectralDataFile.h"

#include <serial/DriverLibrary.h>

#include <type_traits>

namespace {

// The library's log, device list and closing threads; "CQuorvex" is the
// process identity in every entry of the library's log.
driver::CDriverLibrary<CQuorvex, QuorvexError> g_library{
    "CQuorvex", {QuorvexSuccess, QuorvexErrorFailed, QuorvexErrorInvalidHandle, QuorvexErrorInvalidParameter,
                 QuorvexErrorInvalidParameter}};

// Runs a device method that takes the export's arguments as they are; one
// that returns nothing cannot fail.
template <typename Result, typename... Params, typename... Args>
QuorvexError Forward(void* handle, Result (CQuorvex::*method)(Params...), Args... args) {
    return g_library.Call(handle, [&](CQuorvex& device) {
        if constexpr (std::is_void_v<Result>) {
            (device.*method)(std::move(args)...);
            return QuorvexSuccess;
        } else {
            return (device.*method)(std::move(args)...);
        }
    });
}

// Copies what a device getter gives out to the caller (6 when `out` is null).
template <typename Value>
QuorvexError CopyOut(void* handle, Value (CQuorvex::*get)() const, Value* out) {
    return g_library.Call(
        handle,
        [&](CQuorvex& device) {
            *out = (device.*get)();
            return QuorvexSuccess;
        },
        out);
}

// The head's parameter number, converted once in the export.
unsigned Number(QuorvexParameter parameter) { return static_cast<unsigned>(parameter); }

// A null path is taken as an empty one.
std::wstring PathOf(const wchar_t* path) { return path ? path : L""; }

// The file check: the reader the upload uses, with no device.
template <typename File>
QuorvexError CheckFile(const wchar_t* path, std::vector<std::string>* errors) {
    if (errors) errors->clear();
    if (!path) return QuorvexErrorInvalidParameter;
    File file(path);
    return file.Read(errors) ? QuorvexSuccess : QuorvexErrorBadFile;
}

}  // namespace

// ---- Log set-up --------------------------------------------------------------

QuorvexError Quorvex_SetLogfilePath(const wchar_t* path) { return g_library.SetLogfilePath(path); }

QuorvexError Quorvex_SetLogCeiling(unsigned level) { return g_library.SetLogCeiling(level); }

// ---- Connection ----------------------------------------------------------------

QuorvexError Quorvex_Connect(int port, int baud, int parity, int dataBits, int stopBits,
                             int flowControl, void** handle, int wait, HANDLE event) {
    const SerialPortSettingsStruct settings{port, baud, parity, dataBits, stopBits, flowControl};
    return g_library.Connect(handle,
                             [&](CQuorvex& device) { return device.Connect(settings, wait != 0, event); });
}

// Only a waiting connect consumes the caller's event; a disconnect never does.
QuorvexError Quorvex_Disconnect(void** handle, int wait, HANDLE event) {
    return g_library.Disconnect(handle, wait != 0, event, false);
}

QuorvexError Quorvex_GetIdentification(void* handle, QuorvexIdentificationStruct* identification) {
    return CopyOut(handle, &CQuorvex::GetIdentification, identification);
}

QuorvexError Quorvex_IsValidDevice(void* handle, int* valid) {
    return g_library.Call(
        handle,
        [&](CQuorvex& device) {
            *valid = device.IsValidDevice() ? 1 : 0;
            return QuorvexSuccess;
        },
        valid);
}

QuorvexError Quorvex_GetLastDeviceError(void* handle, int* code, const wchar_t** message) {
    return g_library.Call(
        handle,
        [&](CQuorvex& device) {
            const std::optional<int> refusal = device.LastDeviceError();
            *code = refusal.value_or(0);
            *message = refusal ? quorvexdll::DeviceErrorMessage(*refusal) : L"";
            return QuorvexSuccess;
        },
        code, message);
}

// ---- Commands ------------------------------------------------------------------

QuorvexError Quorvex_Home(void* handle, int wait, HANDLE event) {
    return Forward(handle, &CQuorvex::Home, wait != 0, event);
}

QuorvexError Quorvex_SetPosition(void* handle, unsigned primary, unsigned secondary, int wait,
                                 HANDLE event) {
    return Forward(handle, &CQuorvex::SetPosition, primary, secondary, wait != 0, event);
}

QuorvexError Quorvex_GetPosition(void* handle, int* position) {
    return g_library.Call(handle, [&](CQuorvex& device) { return device.GetPosition(position); }, position);
}

QuorvexError Quorvex_GetPositionCallback(void* handle, QuorvexPositionCallback callback, HANDLE event) {
    return Forward(handle, &CQuorvex::GetPositionCallback, std::move(callback), event);
}

QuorvexError Quorvex_GetTemperature(void* handle, double* temperatures) {
    return g_library.Call(
        handle, [&](CQuorvex& device) { return device.GetTemperature(temperatures); }, temperatures);
}

QuorvexError Quorvex_GetTemperatureCallback(void* handle, QuorvexTemperatureCallback callback,
                                            HANDLE event) {
    return Forward(handle, &CQuorvex::GetTemperatureCallback, std::move(callback), event);
}

QuorvexError Quorvex_SetParameter(void* handle, QuorvexParameter parameter, int value, int wait,
                                  HANDLE /*event: not used*/) {
    return Forward(handle, &CQuorvex::SetParameter, Number(parameter), value, wait != 0);
}

QuorvexError Quorvex_GetParameter(void* handle, QuorvexParameter parameter, int* value) {
    return g_library.Call(
        handle, [&](CQuorvex& device) { return device.GetParameter(Number(parameter), value); }, value);
}

QuorvexError Quorvex_GetParameterCallback(void* handle, QuorvexParameter parameter,
                                          QuorvexParameterCallback callback, HANDLE event) {
    return Forward(handle, &CQuorvex::GetParameterCallback, Number(parameter), std::move(callback), event);
}

// ---- Calibration transfers -------------------------------------------------------

QuorvexError Quorvex_UploadSpectralCalibrationData(void* handle, const wchar_t* path, int wait,
                                                   HANDLE abortEvent, HANDLE doneEvent) {
    return Forward(handle, &CQuorvex::UploadSpectralData, PathOf(path), wait != 0, abortEvent,
                   doneEvent, nullptr);
}

QuorvexError Quorvex_UploadSpectralCalibrationData_ProgressCallback(void* handle, const wchar_t* path,
                                                                    HANDLE abortEvent, HANDLE doneEvent,
                                                                    QuorvexProgressCallback progress) {
    return Forward(handle, &CQuorvex::UploadSpectralData, PathOf(path), false, abortEvent, doneEvent,
                   std::move(progress));
}

QuorvexError Quorvex_UploadApertureCalibrationData(void* handle, const wchar_t* path, int wait,
                                                   HANDLE abortEvent, HANDLE doneEvent) {
    return Forward(handle, &CQuorvex::UploadApertureData, PathOf(path), wait != 0, abortEvent,
                   doneEvent, nullptr);
}

QuorvexError Quorvex_UploadApertureCalibrationData_ProgressCallback(void* handle, const wchar_t* path,
                                                                    HANDLE abortEvent, HANDLE doneEvent,
                                                                    QuorvexProgressCallback progress) {
    return Forward(handle, &CQuorvex::UploadApertureData, PathOf(path), false, abortEvent, doneEvent,
                   std::move(progress));
}

QuorvexError Quorvex_DownloadSpectralCalibrationData(void* handle, int wait, HANDLE abortEvent,
                                                     HANDLE doneEvent) {
    return Forward(handle, &CQuorvex::DownloadSpectralData, wait != 0, abortEvent, doneEvent);
}

QuorvexError Quorvex_DownloadApertureCalibrationData(void* handle, int wait, HANDLE abortEvent,
                                                     HANDLE doneEvent) {
    return Forward(handle, &CQuorvex::DownloadApertureData, wait != 0, abortEvent, doneEvent);
}

// ---- Calibration files ---------------------------------------------------------------

QuorvexError Quorvex_CheckSpectralCalibrationFile(const wchar_t* path, std::vector<std::string>* errors) {
    return CheckFile<CSpectralDataFile>(path, errors);
}

QuorvexError Quorvex_CheckApertureCalibrationFile(const wchar_t* path, std::vector<std::string>* errors) {
    return CheckFile<CApertureDataFile>(path, errors);
}

// ---- Held tables -------------------------------------------------------------------

QuorvexError Quorvex_SetSpectralCalibrationData(void* handle, QuorvexSpectralTable table) {
    return Forward(handle, &CQuorvex::SetSpectralData, std::move(table));
}

QuorvexError Quorvex_GetSpectralCalibrationData(void* handle, QuorvexSpectralTable* table) {
    return CopyOut(handle, &CQuorvex::GetSpectralData, table);
}

QuorvexError Quorvex_SetApertureCalibrationData(void* handle, QuorvexApertureTable table) {
    return Forward(handle, &CQuorvex::SetApertureData, std::move(table));
}

QuorvexError Quorvex_GetApertureCalibrationData(void* handle, QuorvexApertureTable* table) {
    return CopyOut(handle, &CQuorvex::GetApertureData, table);
}

QuorvexError Quorvex_SaveSpectralCalibrationData(void* handle, const wchar_t* path) {
    return Forward(handle, &CQuorvex::SaveSpectralData, PathOf(path));
}

QuorvexError Quorvex_SaveApertureCalibrationData(void* handle, const wchar_t* path) {
    return Forward(handle, &CQuorvex::SaveApertureData, PathOf(path));
}
