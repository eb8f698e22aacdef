// The exported interface of PsuDll: handle bookkeeping, the log set-up calls
// and one thin export per device operation. Nothing is thrown across it.
#include "PsuDll.h"

#include "AgilentE3633A.h"
#include "LibraryLog.h"

#include <serial/DeviceList.h>
#include <serial/WorkerThreads.h>

#include <memory>
#include <string>
#include <utility>

namespace psudll {

// Constructed in this order and destroyed in the reverse one: at unload the
// closing threads are joined first, while the devices they release can
// still log, then the listed devices go, and the log outlives them all.
driverlog::CLibraryLog g_log{"CAgilentE3633A"};

namespace {

CDeviceList<CAgilentE3633A> g_devices;
CWorkerThreads g_closing;

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

// Waits for the unlock of a disconnect, closes the port and lets the device
// go; the caller hears of it (through `event`, if any) only after that, so
// the port is free and the device's last entries are written by then.
void CloseAndRelease(std::shared_ptr<CAgilentE3633A> device, HANDLE event) {
    device->CloseAfterUnlock();
    device.reset();
    if (event) SetEvent(event);
}

}  // namespace
}  // namespace psudll

using psudll::g_closing;
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
        device->Log().ApplySavedSettings();
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
        device->UnlockForDisconnect();
        if (blocking) {
            psudll::CloseAndRelease(std::move(device), nullptr);
            return AgilentSuccess;
        }
        // The closing thread takes the device out of a shared slot rather
        // than holding a copy, so its release is the last one and the caller
        // is told after it; without a thread the caller closes it instead.
        auto slot = std::make_shared<std::shared_ptr<CAgilentE3633A>>(std::move(device));
        if (!g_closing.Start([slot, event] { psudll::CloseAndRelease(std::move(*slot), event); }))
            psudll::CloseAndRelease(std::move(*slot), event);
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
    // The ceiling belongs to the library's one log, so it applies even with
    // no device listed.
    psudll::g_log.SetCeilingAndSave(static_cast<int>(ceiling));
    for (const auto& device : g_devices.Snapshot()) device->Log().LogCeilingSet(ceiling);
    return AgilentSuccess;
}

AgilentError Agilent_SetLogfilePath(const wchar_t* path) {
    try {
        const std::wstring value = path ? path : L"";
        psudll::g_log.SetFilePathAndSave(value);
        for (const auto& device : g_devices.Snapshot()) device->Log().LogFilePathSet(value);
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
