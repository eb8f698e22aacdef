// The exported functions of libQuorvexDll.so: each looks its handle up in
// the device list and hands over to the device object.
#include "QuorvexDll.h"

#include "Library.h"
#include "Quorvex.h"

using driverlog::Debug;

namespace {

// Runs `call` on the device `handle` names. The reference taken here keeps
// the device alive for the whole call even if another thread disconnects it.
template <typename Call>
QuorvexError WithDevice(void* handle, Call call) {
    const auto device = g_library.devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return call(*device);
}

// The same for a call that only forwards its arguments.
template <typename... Params, typename... Args>
QuorvexError CallDevice(void* handle, QuorvexError (CQuorvex::*method)(Params...), Args... args) {
    const auto device = g_library.devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return ((*device).*method)(std::move(args)...);
}

// The head's parameter number. Callers pass numbers the enumeration does not
// name, so it is converted here, from the caller's own value, and never
// read as the enumeration again.
unsigned Number(QuorvexParameter parameter) { return static_cast<unsigned>(parameter); }

// A null path is taken as an empty one.
std::wstring PathOf(const wchar_t* path) { return path ? path : L""; }

}  // namespace

// ---- Log set-up --------------------------------------------------------------

QuorvexError Quorvex_SetLogfilePath(const wchar_t* path) {
    const std::wstring value = PathOf(path);
    g_log.SetFilePathAndSave(value);
    for (const auto& device : g_library.devices.Snapshot()) device->Log().LogFilePathSet(value);
    return QuorvexSuccess;
}

QuorvexError Quorvex_SetLogCeiling(unsigned level) {
    if (level > 7) return QuorvexErrorInvalidParameter;
    g_log.SetCeilingAndSave(static_cast<int>(level));
    for (const auto& device : g_library.devices.Snapshot()) device->Log().LogCeilingSet(level);
    return QuorvexSuccess;
}

// ---- Connection ----------------------------------------------------------------

QuorvexError Quorvex_Connect(int port, int baud, int parity, int dataBits, int stopBits,
                             int flowControl, void** handle, int wait, HANDLE event) {
    if (!handle) return QuorvexErrorFailed;
    std::shared_ptr<CQuorvex> device;
    try {
        device = std::make_shared<CQuorvex>();
    } catch (...) {
        *handle = nullptr;
        return QuorvexErrorFailed;
    }
    g_library.devices.Add(device);
    device->Log().ApplySavedSettings();
    *handle = device.get();
    const SerialPortSettingsStruct settings{port, baud, parity, dataBits, stopBits, flowControl};
    if (device->Connect(wait != 0, event, settings) == 0) return QuorvexSuccess;
    *handle = nullptr;
    g_library.devices.Remove(device.get());
    device->Shutdown();
    return QuorvexErrorFailed;
}

QuorvexError Quorvex_Disconnect(void** handle, int wait, HANDLE event) {
    if (!handle) return QuorvexErrorInvalidHandle;
    std::shared_ptr<CQuorvex> device = g_library.devices.Remove(*handle);
    if (!device) return QuorvexErrorInvalidHandle;
    device->Log().Log(Debug, L": Disconnecting from serial port.");
    *handle = nullptr;
    if (wait) {
        device->Shutdown();
        return QuorvexSuccess;
    }
    // The closing thread holds the device until the port is closed; the
    // object goes with the last reference (usually the thread's), and only
    // then does the caller hear of it.
    auto close = [device, event]() mutable {
        device->Shutdown();
        device.reset();
        if (event) SetEvent(event);
    };
    if (!g_library.closingThreads.Start(close)) close();
    return QuorvexSuccess;
}

QuorvexError Quorvex_GetIdentification(void* handle, QuorvexIdentificationStruct* identification) {
    return WithDevice(handle, [&](CQuorvex& device) {
        if (!identification) return QuorvexErrorInvalidParameter;
        *identification = device.GetIdentification();
        return QuorvexSuccess;
    });
}

QuorvexError Quorvex_IsValidDevice(void* handle, int* valid) {
    return WithDevice(handle, [&](CQuorvex& device) {
        *valid = device.IsValidDevice();
        return QuorvexSuccess;
    });
}

// ---- Commands ------------------------------------------------------------------

QuorvexError Quorvex_Home(void* handle, int wait, HANDLE event) {
    return CallDevice(handle, &CQuorvex::Home, wait != 0, event);
}

QuorvexError Quorvex_SetPosition(void* handle, unsigned primary, unsigned secondary, int wait,
                                 HANDLE event) {
    return CallDevice(handle, &CQuorvex::SetPosition, primary, secondary, wait != 0, event);
}

QuorvexError Quorvex_GetPosition(void* handle, int* position) {
    return CallDevice(handle, &CQuorvex::GetPosition, position);
}

QuorvexError Quorvex_GetPositionCallback(void* handle, QuorvexPositionCallback callback, HANDLE event) {
    return CallDevice(handle, &CQuorvex::GetPositionCallback, std::move(callback), event);
}

QuorvexError Quorvex_GetTemperature(void* handle, double* temperatures) {
    return CallDevice(handle, &CQuorvex::GetTemperature, temperatures);
}

QuorvexError Quorvex_GetTemperatureCallback(void* handle, QuorvexTemperatureCallback callback,
                                            HANDLE event) {
    return CallDevice(handle, &CQuorvex::GetTemperatureCallback, std::move(callback), event);
}

QuorvexError Quorvex_SetParameter(void* handle, QuorvexParameter parameter, int value, int wait,
                                  HANDLE /*event: not used*/) {
    return CallDevice(handle, &CQuorvex::SetParameter, Number(parameter), value, wait != 0);
}

QuorvexError Quorvex_GetParameter(void* handle, QuorvexParameter parameter, int* value) {
    return CallDevice(handle, &CQuorvex::GetParameter, Number(parameter), value);
}

QuorvexError Quorvex_GetParameterCallback(void* handle, QuorvexParameter parameter,
                                          QuorvexParameterCallback callback, HANDLE event) {
    return CallDevice(handle, &CQuorvex::GetParameterCallback, Number(parameter),
                      std::move(callback), event);
}

// ---- Calibration transfers -------------------------------------------------------

QuorvexError Quorvex_UploadSpectralCalibrationData(void* handle, const wchar_t* path, int blocking,
                                                   HANDLE abortEvent, HANDLE doneEvent) {
    return CallDevice(handle, &CQuorvex::UploadSpectralData, PathOf(path), blocking != 0, abortEvent,
                      doneEvent, nullptr);
}

QuorvexError Quorvex_UploadSpectralCalibrationData_ProgressCallback(void* handle, const wchar_t* path,
                                                                    HANDLE abortEvent, HANDLE doneEvent,
                                                                    QuorvexProgressCallback progress) {
    return CallDevice(handle, &CQuorvex::UploadSpectralData, PathOf(path), false, abortEvent, doneEvent,
                      std::move(progress));
}

QuorvexError Quorvex_UploadApertureCalibrationData(void* handle, const wchar_t* path, int blocking,
                                                   HANDLE abortEvent, HANDLE doneEvent) {
    return CallDevice(handle, &CQuorvex::UploadApertureData, PathOf(path), blocking != 0, abortEvent,
                      doneEvent, nullptr);
}

QuorvexError Quorvex_UploadApertureCalibrationData_ProgressCallback(void* handle, const wchar_t* path,
                                                                    HANDLE abortEvent, HANDLE doneEvent,
                                                                    QuorvexProgressCallback progress) {
    return CallDevice(handle, &CQuorvex::UploadApertureData, PathOf(path), false, abortEvent, doneEvent,
                      std::move(progress));
}

QuorvexError Quorvex_DownloadSpectralCalibrationData(void* handle, int blocking, HANDLE abortEvent,
                                                     HANDLE doneEvent) {
    return CallDevice(handle, &CQuorvex::DownloadSpectralData, blocking != 0, abortEvent, doneEvent);
}

QuorvexError Quorvex_DownloadApertureCalibrationData(void* handle, int blocking, HANDLE abortEvent,
                                                     HANDLE doneEvent) {
    return CallDevice(handle, &CQuorvex::DownloadApertureData, blocking != 0, abortEvent, doneEvent);
}

// ---- Held tables -------------------------------------------------------------------

QuorvexError Quorvex_SetSpectralCalibrationData(void* handle, QuorvexSpectralTable table) {
    return WithDevice(handle, [&](CQuorvex& device) {
        device.SetSpectralData(std::move(table));
        return QuorvexSuccess;
    });
}

QuorvexError Quorvex_GetSpectralCalibrationData(void* handle, QuorvexSpectralTable* table) {
    return WithDevice(handle, [&](CQuorvex& device) {
        if (!table) return QuorvexErrorInvalidParameter;
        *table = device.GetSpectralData();
        return QuorvexSuccess;
    });
}

QuorvexError Quorvex_SetApertureCalibrationData(void* handle, QuorvexApertureTable table) {
    return WithDevice(handle, [&](CQuorvex& device) {
        device.SetApertureData(std::move(table));
        return QuorvexSuccess;
    });
}

QuorvexError Quorvex_GetApertureCalibrationData(void* handle, QuorvexApertureTable* table) {
    return WithDevice(handle, [&](CQuorvex& device) {
        if (!table) return QuorvexErrorInvalidParameter;
        *table = device.GetApertureData();
        return QuorvexSuccess;
    });
}

QuorvexError Quorvex_SaveSpectralCalibrationData(void* handle, const wchar_t* path) {
    return CallDevice(handle, &CQuorvex::SaveSpectralData, PathOf(path));
}

QuorvexError Quorvex_SaveApertureCalibrationData(void* handle, const wchar_t* path) {
    return CallDevice(handle, &CQuorvex::SaveApertureData, PathOf(path));
}
