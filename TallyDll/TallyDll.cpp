// The exported functions of libTallyDll.so: handle look-up, connect and
// disconnect, the log set-up calls, and thin wrappers over the device's
// operations. Nothing is thrown across this boundary.
#include "TallyDll.h"

#include "ElapsedTimeCounter.h"
#include "TallyLog.h"

#include <serial/DeviceList.h>
#include <serial/WorkerThreads.h>

#include <functional>
#include <memory>
#include <utility>

// Defined in this order on purpose: destroyed in reverse at unload, the
// closing threads are joined first (they may still be closing or destroying
// a device, which logs), then the devices still listed go, and the log goes
// last.
driverlog::CLibraryLog g_log{"CElapsedTimeCounter"};

namespace {

using driverlog::Debug;
using DeviceList = CDeviceList<CElapsedTimeCounter>;

constexpr unsigned kMaxLogCeiling = 7;

DeviceList g_devices;
CWorkerThreads g_closingThreads;

// A device must not be destroyed on its own service or diagnostics thread
// (its destructor waits for both to end); the last reference can be dropped
// there when a callback disconnects its own device, and the destruction
// then moves to a background thread.
void DestroyDevice(CElapsedTimeCounter* device) {
    if (!device->RunsOnThisThread()) {
        delete device;
        return;
    }
    // Without a thread the device is left alone: better than waiting for
    // the thread we run on.
    g_closingThreads.Start([device] { delete device; });
}

// Runs `work` on a closing thread, or on this one when no thread can be
// started: the work must happen either way.
void RunOnClosingThread(std::function<void()> work) {
    // Start drops what it was given when it fails, so the work is shared
    // with it rather than handed over.
    auto shared = std::make_shared<std::function<void()>>(std::move(work));
    if (!g_closingThreads.Start([shared] { std::exchange(*shared, nullptr)(); })) {
        std::exchange(*shared, nullptr)();
    }
}

// Runs an export's body; a failure inside becomes a code, never an
// exception in the caller.
template <typename Body>
EtcError Shielded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return EtcErrorFailed;
    }
}

// Runs `operation` on the listed device, or returns 5.
template <typename Operation>
EtcError WithDevice(void* handle, Operation&& operation) noexcept {
    return Shielded([&] {
        const DeviceList::Ptr device = g_devices.Find(handle);
        if (!device) return EtcErrorInvalidHandle;
        return operation(*device);
    });
}

}  // namespace

extern "C" {

EtcError Etc_Connect(SerialPortSettingsStruct settings, void** handle, int blocking,
                     HANDLE event) {
    if (!handle) return EtcErrorInvalidParameter;
    *handle = nullptr;
    return Shielded([&] {
        const DeviceList::Ptr device(new CElapsedTimeCounter, DestroyDevice);
        g_devices.Add(device);
        *handle = device.get();
        if (device->Connect(settings, blocking, event) != 0) {
            g_devices.Remove(device.get());
            *handle = nullptr;
            return EtcErrorFailed;
        }
        return EtcSuccess;
    });
}

EtcError Etc_Disconnect(void** handle, int blocking, HANDLE event) {
    if (!handle) return EtcErrorInvalidParameter;
    return Shielded([&] {
        DeviceList::Ptr device = g_devices.Remove(*handle);
        if (!device) return EtcErrorInvalidHandle;
        *handle = nullptr;
        device->Log().Log(Debug, L": Disconnecting from serial port.");

        // From inside one of the device's own callbacks the close cannot wait
        // for the thread it runs on; it goes to the background like a
        // disconnect that does not wait.
        if (blocking && !device->RunsOnThisThread()) {
            device->Disconnect();
            return EtcSuccess;
        }
        // The closing thread holds the only reference this call had: the
        // device lives until the port is closed, and is gone (unless another
        // call still uses it) when the caller's event is signalled.
        RunOnClosingThread([device = std::move(device), event]() mutable {
            device->Disconnect();
            device.reset();
            if (event) SetEvent(event);
        });
        return EtcSuccess;
    });
}

EtcError Etc_IsValidDevice(void* handle, int* valid) {
    return WithDevice(handle, [&](CElapsedTimeCounter& device) {
        if (!valid) return EtcErrorInvalidParameter;
        *valid = device.IsValidDevice();
        return EtcSuccess;
    });
}

EtcError Etc_GetElapsedTime(void* handle, double* seconds) {
    return WithDevice(handle,
                      [&](CElapsedTimeCounter& device) { return device.GetElapsedTime(seconds); });
}

EtcError Etc_GetPowerCycleCount(void* handle, uint32_t* count) {
    return WithDevice(handle,
                      [&](CElapsedTimeCounter& device) { return device.GetPowerCycleCount(count); });
}

EtcError Etc_SetLogCeiling(unsigned ceiling) {
    if (ceiling > kMaxLogCeiling) return EtcErrorInvalidParameter;
    return Shielded([&] {
        g_log.SetCeilingAndSave(static_cast<int>(ceiling));
        for (const auto& device : g_devices.Snapshot()) device->Log().LogCeilingSet(ceiling);
        return EtcSuccess;
    });
}

EtcError Etc_SetLogfilePath(const wchar_t* path) {
    return Shielded([&] {
        const std::wstring filePath = path ? path : L"";
        g_log.SetFilePathAndSave(filePath);
        for (const auto& device : g_devices.Snapshot()) device->Log().LogFilePathSet(filePath);
        return EtcSuccess;
    });
}

EtcError Etc_Reset(void* handle, int blocking, HANDLE event) {
    return WithDevice(handle,
                      [&](CElapsedTimeCounter& device) { return device.Reset(blocking, event); });
}

EtcError Etc_SetBaseElapsedTimeCount(void* handle, uint32_t value, int blocking, HANDLE event) {
    return WithDevice(handle, [&](CElapsedTimeCounter& device) {
        return device.SetBaseElapsedTimeCount(value, blocking, event);
    });
}

EtcError Etc_SetBasePowerCycleCount(void* handle, uint32_t value, int blocking, HANDLE event) {
    return WithDevice(handle, [&](CElapsedTimeCounter& device) {
        return device.SetBasePowerCycleCount(value, blocking, event);
    });
}

}  // extern "C"

EtcError Etc_GetIdentification(void* handle, EtcIdentificationStruct* identification) {
    return WithDevice(handle, [&](CElapsedTimeCounter& device) {
        if (!identification) return EtcErrorInvalidParameter;
        *identification = device.GetIdentification();
        return EtcSuccess;
    });
}

EtcError Etc_GetElapsedTimeCallback(void* handle, EtcElapsedTimeCallback callback) {
    return WithDevice(handle, [&](CElapsedTimeCounter& device) {
        return device.GetElapsedTimeCallback(std::move(callback));
    });
}

EtcError Etc_GetPowerCycleCountCallback(void* handle, EtcPowerCycleCountCallback callback) {
    return WithDevice(handle, [&](CElapsedTimeCounter& device) {
        return device.GetPowerCycleCountCallback(std::move(callback));
    });
}

EtcError Etc_GetDiagnostics(void* handle, EtcDiagnosticsStruct* diagnostics) {
    return WithDevice(handle,
                      [&](CElapsedTimeCounter& device) { return device.GetDiagnostics(diagnostics); });
}

EtcError Etc_GetDiagnosticsCallback(void* handle, EtcDiagnosticsCallback callback) {
    return WithDevice(handle, [&](CElapsedTimeCounter& device) {
        return device.GetDiagnosticsCallback(std::move(callback));
    });
}
