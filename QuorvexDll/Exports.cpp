// The exported functions of libQuorvexDll.so: each looks its handle up in
// the device list and hands over to the device object.
#include "QuorvexDll.h"

#include "DeviceList.h"
#include "Quorvex.h"

using driverlog::Debug;

namespace {

// Applies the saved ceiling and path to a device that has just been made.
// The file is pointed at before the first of the two entries is written, so
// that both reach it: the file back end keeps nothing written before it has
// a path.
void ApplySavedLogSettings(CQuorvex& device) {
    const int ceiling = g_log.SavedCeiling();
    const std::wstring path = g_log.SavedPath();
    g_log.SetCeiling(ceiling);
    g_log.SetFilePath(path);
    device.Log().Log(Debug, L": Logging ceiling set to ", ceiling);
    device.Log().Log(Debug, L": Logfile path set to \"", path, L"\"");
}

}  // namespace

// ---- Log set-up --------------------------------------------------------------

QuorvexError Quorvex_SetLogfilePath(const wchar_t* path) {
    const std::wstring value = path ? path : L"";
    g_log.SetSavedPath(value);
    bool applied = false;
    g_devices.ForEach([&](CQuorvex& device) {
        if (!applied) g_log.SetFilePath(value);
        applied = true;
        device.Log().Log(Debug, L": Logfile path set to \"", value, L"\"");
    });
    return QuorvexSuccess;
}

QuorvexError Quorvex_SetLogCeiling(unsigned level) {
    if (level > 7) return QuorvexErrorInvalidParameter;
    const int ceiling = static_cast<int>(level);
    g_log.SetSavedCeiling(ceiling);
    g_devices.ForEach([&](CQuorvex& device) {
        g_log.SetCeiling(ceiling);
        device.Log().Log(Debug, L": Logging ceiling set to ", ceiling);
    });
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
    g_devices.Add(device);
    ApplySavedLogSettings(*device);
    *handle = device.get();
    const int result = device->Connect(wait != 0, event, static_cast<unsigned>(port),
                                       static_cast<unsigned>(baud), parity, dataBits, stopBits,
                                       flowControl);
    if (result == 0) return QuorvexSuccess;
    *handle = nullptr;
    g_devices.Remove(device.get());
    device->Shutdown();
    return QuorvexErrorFailed;
}

QuorvexError Quorvex_Disconnect(void** handle, int wait, HANDLE event) {
    if (!handle) return QuorvexErrorInvalidHandle;
    std::shared_ptr<CQuorvex> device = g_devices.Remove(*handle);
    if (!device) return QuorvexErrorInvalidHandle;
    device->Log().Log(Debug, L": Disconnecting from serial port.");
    *handle = nullptr;
    if (wait) {
        device->Shutdown();
        return QuorvexSuccess;
    }
    device->m_hCloseDoneEvent = event;
    // The closing thread holds the device until the port is closed; the
    // object goes with the last reference (usually the thread's), and only
    // then does the caller hear of it.
    auto close = [device]() mutable {
        device->Shutdown();
        HANDLE done = device->m_hCloseDoneEvent;
        device.reset();
        if (done) SetEvent(done);
    };
    if (!g_devices.StartClosingThread(close)) close();
    return QuorvexSuccess;
}

QuorvexError Quorvex_GetIdentification(void* handle, QuorvexIdentificationStruct* identification) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    if (!identification) return QuorvexErrorInvalidParameter;
    *identification = device->GetIdentification();
    return QuorvexSuccess;
}

QuorvexError Quorvex_IsValidDevice(void* handle, int* valid) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    *valid = device->IsValidDevice();
    return QuorvexSuccess;
}

// ---- Commands ------------------------------------------------------------------

QuorvexError Quorvex_Home(void* handle, int wait, HANDLE event) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->Home(wait != 0, event);
}

QuorvexError Quorvex_SetPosition(void* handle, unsigned primary, unsigned secondary, int wait,
                                 HANDLE event) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->SetPosition(primary, secondary, wait != 0, event);
}

QuorvexError Quorvex_GetPosition(void* handle, int* position) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->GetPosition(position);
}

QuorvexError Quorvex_GetPositionCallback(void* handle, QuorvexPositionCallback callback, HANDLE event) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->GetPositionCallback(std::move(callback), event);
}

QuorvexError Quorvex_GetTemperature(void* handle, double* temperatures) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->GetTemperature(temperatures);
}

QuorvexError Quorvex_GetTemperatureCallback(void* handle, QuorvexTemperatureCallback callback,
                                            HANDLE event) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->GetTemperatureCallback(std::move(callback), event);
}

QuorvexError Quorvex_SetParameter(void* handle, QuorvexParameter parameter, int value, int wait,
                                  HANDLE /*event: not used*/) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->SetParameter(parameter, value, wait != 0);
}

QuorvexError Quorvex_GetParameter(void* handle, QuorvexParameter parameter, int* value) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->GetParameter(parameter, value);
}

QuorvexError Quorvex_GetParameterCallback(void* handle, QuorvexParameter parameter,
                                          QuorvexParameterCallback callback, HANDLE event) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->GetParameterCallback(parameter, std::move(callback), event);
}

// ---- Calibration transfers -------------------------------------------------------

QuorvexError Quorvex_UploadSpectralCalibrationData(void* handle, const wchar_t* path, int blocking,
                                                   HANDLE abortEvent, HANDLE doneEvent) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->UploadSpectralData(path ? path : L"", blocking != 0, abortEvent, doneEvent, nullptr);
}

QuorvexError Quorvex_UploadSpectralCalibrationData_ProgressCallback(void* handle, const wchar_t* path,
                                                                    HANDLE abortEvent, HANDLE doneEvent,
                                                                    QuorvexProgressCallback progress) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->UploadSpectralData(path ? path : L"", false, abortEvent, doneEvent, std::move(progress));
}

QuorvexError Quorvex_UploadApertureCalibrationData(void* handle, const wchar_t* path, int blocking,
                                                   HANDLE abortEvent, HANDLE doneEvent) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->UploadApertureData(path ? path : L"", blocking != 0, abortEvent, doneEvent, nullptr);
}

QuorvexError Quorvex_UploadApertureCalibrationData_ProgressCallback(void* handle, const wchar_t* path,
                                                                    HANDLE abortEvent, HANDLE doneEvent,
                                                                    QuorvexProgressCallback progress) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->UploadApertureData(path ? path : L"", false, abortEvent, doneEvent, std::move(progress));
}

QuorvexError Quorvex_DownloadSpectralCalibrationData(void* handle, int blocking, HANDLE abortEvent,
                                                     HANDLE doneEvent) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->DownloadSpectralData(blocking != 0, abortEvent, doneEvent);
}

QuorvexError Quorvex_DownloadApertureCalibrationData(void* handle, int blocking, HANDLE abortEvent,
                                                     HANDLE doneEvent) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->DownloadApertureData(blocking != 0, abortEvent, doneEvent);
}

// ---- Held tables -------------------------------------------------------------------

QuorvexError Quorvex_SetSpectralCalibrationData(void* handle, QuorvexSpectralTable table) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    device->SetSpectralData(std::move(table));
    return QuorvexSuccess;
}

QuorvexError Quorvex_GetSpectralCalibrationData(void* handle, QuorvexSpectralTable* table) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    if (!table) return QuorvexErrorInvalidParameter;
    *table = device->GetSpectralData();
    return QuorvexSuccess;
}

QuorvexError Quorvex_SetApertureCalibrationData(void* handle, QuorvexApertureTable table) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    device->SetApertureData(std::move(table));
    return QuorvexSuccess;
}

QuorvexError Quorvex_GetApertureCalibrationData(void* handle, QuorvexApertureTable* table) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    if (!table) return QuorvexErrorInvalidParameter;
    *table = device->GetApertureData();
    return QuorvexSuccess;
}

QuorvexError Quorvex_SaveSpectralCalibrationData(void* handle, const wchar_t* path) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->SaveSpectralData(path ? path : L"");
}

QuorvexError Quorvex_SaveApertureCalibrationData(void* handle, const wchar_t* path) {
    auto device = g_devices.Find(handle);
    if (!device) return QuorvexErrorInvalidHandle;
    return device->SaveApertureData(path ? path : L"");
}
