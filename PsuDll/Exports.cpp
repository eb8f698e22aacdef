// The exported interface of PsuDll: handle bookkeeping, the log set-up calls
// and one thin export per device operation. Nothing is thrown across it.
#include "PsuDll.h"

#include "AgilentE3633A.h"
#include "DeviceList.h"
#include "LibraryLog.h"

#include <memory>
#include <string>
#include <utility>

namespace psudll {

// Constructed in this order and destroyed in the reverse one, so the log
// outlives every device the list still holds at unload.
driverlog::CLibraryLog g_log{"CAgilentE3633A"};

namespace {

CDeviceList g_devices;

// Looks the handle up and runs `operation` on its device; 5 when the handle
// is not listed. The device stays alive until the operation has returned.
template <typename Operation>
AgilentError WithDevice(const void* handle, Operation operation) {
    try {
        const std::shared_ptr<CAgilentE3633A> device = g_devices.Find(handle);
        if (!device) return AgilentErrorInvalidHandle;
        return operation(*device);
    } catch (...) {
        return AgilentErrorFailed;
    }
}

// The ceiling and the file belong to the library's one log, so they are set
// there even with no device listed: the first entries of the next device
// then already go where, and as far as, the caller asked.
void ApplyCeiling(int ceiling) { g_log.SetCeiling(ceiling); }
void ApplyFilePath(const std::wstring& path) { g_log.SetFilePath(path); }

void LogCeiling(CAgilentE3633A& device, int ceiling) {
    device.Log().Log(driverlog::Debug, L": Logging ceiling set to ", ceiling);
}

void LogFilePath(CAgilentE3633A& device, const std::wstring& path) {
    device.Log().Log(driverlog::Debug, L": Logfile path set to \"", path, L"\"");
}

}  // namespace
}  // namespace psudll

using psudll::g_devices;
using psudll::WithDevice;

extern "C" {

AgilentError Agilent_Connect(SerialPortSettingsStruct settings, void** handle, int blocking,
                             HANDLE event) {
    if (!handle) return AgilentErrorInvalidParameter;
    try {
        auto device = std::make_shared<CAgilentE3633A>();
        CAgilentE3633A* const address = device.get();
        g_devices.Add(device);
        const int ceiling = psudll::g_log.SavedCeiling();
        psudll::ApplyCeiling(ceiling);
        psudll::LogCeiling(*device, ceiling);
        const std::wstring path = psudll::g_log.SavedPath();
        psudll::ApplyFilePath(path);
        psudll::LogFilePath(*device, path);
        *handle = address;
        if (device->Connect(blocking, event, settings) != 0) {
            *handle = nullptr;
            g_devices.Remove(address);
            return AgilentErrorFailed;
        }
        return AgilentSuccess;
    } catch (...) {
        *handle = nullptr;
        return AgilentErrorFailed;
    }
}

AgilentError Agilent_Disconnect(void** handle, int blocking, HANDLE event) {
    if (!handle) return AgilentErrorInvalidHandle;
    try {
        // Unlisted first, so no other caller queues commands behind the
        // disconnect; whoever is still working on it keeps it alive.
        std::shared_ptr<CAgilentE3633A> device = g_devices.Remove(*handle);
        if (!device) return AgilentErrorInvalidHandle;
        *handle = nullptr;
        device->Disconnect(blocking, event);
        if (!blocking) g_devices.Retire(std::move(device));
        return AgilentSuccess;
    } catch (...) {
        return AgilentErrorFailed;
    }
}

AgilentError Agilent_IsValidDevice(void* handle, int* valid) {
    return WithDevice(handle, [&](CAgilentE3633A& device) {
        if (!valid) return AgilentErrorInvalidParameter;
        *valid = device.IsValidDevice();
        return AgilentSuccess;
    });
}

AgilentError Agilent_IsRampedUp(void* handle, int* rampedUp) {
    return WithDevice(handle, [&](CAgilentE3633A& device) {
        if (!rampedUp) return AgilentErrorInvalidParameter;
        *rampedUp = device.IsRampedUp();
        return AgilentSuccess;
    });
}

AgilentError Agilent_SetOutput(void* handle, AgilentOutput output, int blocking, HANDLE event) {
    return WithDevice(handle, [&](CAgilentE3633A& d) { return d.SetOutput(output, blocking, event); });
}

AgilentError Agilent_SetDisplay(void* handle, AgilentDisplay display, int blocking, HANDLE event) {
    return WithDevice(handle,
                      [&](CAgilentE3633A& d) { return d.SetDisplay(display, blocking, event); });
}

AgilentError Agilent_SetDisplayMessage(void* handle, const char* text, int blocking, HANDLE event) {
    return WithDevice(handle,
                      [&](CAgilentE3633A& d) { return d.SetDisplayMessage(text, blocking, event); });
}

AgilentError Agilent_ClearDisplayMessage(void* handle, int blocking, HANDLE event) {
    return WithDevice(handle,
                      [&](CAgilentE3633A& d) { return d.ClearDisplayMessage(blocking, event); });
}

AgilentError Agilent_SetVoltageRange(void* handle, AgilentVoltageRange range, int blocking,
                                     HANDLE event) {
    return WithDevice(handle,
                      [&](CAgilentE3633A& d) { return d.SetVoltageRange(range, blocking, event); });
}

AgilentError Agilent_SetCurrent(void* handle, double amperes, int blocking, HANDLE event) {
    return WithDevice(handle, [&](CAgilentE3633A& d) { return d.SetCurrent(amperes, blocking, event); });
}

AgilentError Agilent_SetVoltage(void* handle, double volts, int blocking, HANDLE event) {
    return WithDevice(handle, [&](CAgilentE3633A& d) { return d.SetVoltage(volts, blocking, event); });
}

AgilentError Agilent_SetCurrentLimit(void* handle, double amperes, int blocking, HANDLE event) {
    return WithDevice(handle,
                      [&](CAgilentE3633A& d) { return d.SetCurrentLimit(amperes, blocking, event); });
}

AgilentError Agilent_SetVoltageLimit(void* handle, double volts, int blocking, HANDLE event) {
    return WithDevice(handle,
                      [&](CAgilentE3633A& d) { return d.SetVoltageLimit(volts, blocking, event); });
}

AgilentError Agilent_ResetOCP(void* handle, int blocking, HANDLE event) {
    return WithDevice(handle,
                      [&](CAgilentE3633A& d) { return d.ResetOverCurrentProtection(blocking, event); });
}

AgilentError Agilent_ResetOVP(void* handle, int blocking, HANDLE event) {
    return WithDevice(handle,
                      [&](CAgilentE3633A& d) { return d.ResetOverVoltageProtection(blocking, event); });
}

AgilentError Agilent_GetCurrent(void* handle, double* amperes) {
    return WithDevice(handle, [&](CAgilentE3633A& d) { return d.GetCurrent(amperes); });
}

AgilentError Agilent_GetVoltage(void* handle, double* volts) {
    return WithDevice(handle, [&](CAgilentE3633A& d) { return d.GetVoltage(volts); });
}

AgilentError Agilent_MeasureCurrent(void* handle, double* amperes) {
    return WithDevice(handle, [&](CAgilentE3633A& d) { return d.MeasureCurrent(amperes); });
}

AgilentError Agilent_MeasureVoltage(void* handle, double* volts) {
    return WithDevice(handle, [&](CAgilentE3633A& d) { return d.MeasureVoltage(volts); });
}

AgilentError Agilent_RampUp(void* handle, double current, double voltage, int seconds,
                            HANDLE abortEvent, int blocking, HANDLE completeEvent) {
    return WithDevice(handle, [&](CAgilentE3633A& d) {
        return d.RampUp(current, voltage, seconds, abortEvent, blocking, completeEvent);
    });
}

AgilentError Agilent_RampDown(void* handle, int seconds, HANDLE abortEvent, int blocking,
                              HANDLE completeEvent) {
    return WithDevice(handle, [&](CAgilentE3633A& d) {
        return d.RampDown(seconds, abortEvent, blocking, completeEvent);
    });
}

AgilentError Agilent_SetLogCeiling(unsigned ceiling) {
    if (ceiling > 7) return AgilentErrorFailed;
    const int level = static_cast<int>(ceiling);
    psudll::g_log.SetSavedCeiling(level);
    psudll::ApplyCeiling(level);
    g_devices.ForEach([&](CAgilentE3633A& device) { psudll::LogCeiling(device, level); });
    return AgilentSuccess;
}

AgilentError Agilent_SetLogfilePath(const wchar_t* path) {
    try {
        const std::wstring value = path ? path : L"";
        psudll::g_log.SetSavedPath(value);
        psudll::ApplyFilePath(value);
        g_devices.ForEach([&](CAgilentE3633A& device) { psudll::LogFilePath(device, value); });
        return AgilentSuccess;
    } catch (...) {
        return AgilentErrorFailed;
    }
}

}  // extern "C"

AgilentError Agilent_GetIdentification(void* handle, AgilentIdentificationStruct* identification) {
    return WithDevice(handle, [&](CAgilentE3633A& device) {
        if (!identification) return AgilentErrorInvalidParameter;
        *identification = device.GetIdentification();
        return AgilentSuccess;
    });
}

// The callable argument is released on return in every path, also when the
// handle is not listed.
AgilentError Agilent_GetCurrentCallback(void* handle, AgilentResponseCallback callback) {
    return WithDevice(handle, [&](CAgilentE3633A& d) { return d.GetCurrent(std::move(callback)); });
}

AgilentError Agilent_GetVoltageCallback(void* handle, AgilentResponseCallback callback) {
    return WithDevice(handle, [&](CAgilentE3633A& d) { return d.GetVoltage(std::move(callback)); });
}

AgilentError Agilent_MeasureCurrentCallback(void* handle, AgilentResponseCallback callback) {
    return WithDevice(handle,
                      [&](CAgilentE3633A& d) { return d.MeasureCurrent(std::move(callback)); });
}

AgilentError Agilent_MeasureVoltageCallback(void* handle, AgilentResponseCallback callback) {
    return WithDevice(handle,
                      [&](CAgilentE3633A& d) { return d.MeasureVoltage(std::move(callback)); });
}

AgilentError Agilent_RampUpReportProgress(void* handle, double current, double voltage, int seconds,
                                          HANDLE abortEvent, HANDLE completeEvent,
                                          AgilentProgressCallback progress) {
    return WithDevice(handle, [&](CAgilentE3633A& d) {
        return d.RampUpReportProgress(current, voltage, seconds, abortEvent, completeEvent,
                                      std::move(progress));
    });
}

AgilentError Agilent_RampDownReportProgress(void* handle, int seconds, HANDLE abortEvent,
                                            HANDLE completeEvent, AgilentProgressCallback progress) {
    return WithDevice(handle, [&](CAgilentE3633A& d) {
        return d.RampDownReportProgress(seconds, abortEvent, completeEvent, std::move(progress));
    });
}
