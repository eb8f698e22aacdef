// The exported functions of libTallyDll.so: each looks its handle up in the
// library's one device list and forwards to the device, or goes to the
// library's shared connect, disconnect and log set-up bodies. Nothing is
// thrown across this boundary.
#include "TallyDll.h"

#include "ElapsedTimeCounter.h"

#include <serial/DriverLibrary.h>

#include <utility>

namespace {

using Counter = CElapsedTimeCounter;

// The log, the device list and the closing threads of the library; at
// unload the closing threads are joined first, then the listed devices go,
// and the log last.
driver::CDriverLibrary<Counter, EtcError> g_library{
    "CElapsedTimeCounter",
    {EtcSuccess, EtcErrorFailed, EtcErrorInvalidHandle, EtcErrorInvalidParameter,
     EtcErrorInvalidParameter}};

}  // namespace

extern "C" {

EtcError Etc_Connect(SerialPortSettingsStruct settings, void** handle, int wait,
                     HANDLE event) {
    return g_library.Connect(
        handle, [&](Counter& device) { return device.Connect(settings, wait != 0, event); });
}

// A waiting disconnect signals the caller's event but leaves it open: the
// caller still owns it.
EtcError Etc_Disconnect(void** handle, int wait, HANDLE event) {
    return g_library.Disconnect(handle, wait != 0, event, false);
}

EtcError Etc_IsValidDevice(void* handle, int* valid) {
    return g_library.Get(handle, valid, [](Counter& device) { return device.IsValidDevice() ? 1 : 0; });
}

EtcError Etc_GetElapsedTime(void* handle, double* seconds) {
    return g_library.Call(
        handle, [&](Counter& device) { return device.GetElapsedTime(*seconds); }, seconds);
}

EtcError Etc_GetPowerCycleCount(void* handle, uint32_t* count) {
    return g_library.Call(
        handle, [&](Counter& device) { return device.GetPowerCycleCount(*count); }, count);
}

EtcError Etc_SetLogCeiling(unsigned ceiling) { return g_library.SetLogCeiling(ceiling); }

EtcError Etc_SetLogfilePath(const wchar_t* path) { return g_library.SetLogfilePath(path); }

EtcError Etc_Reset(void* handle, int wait, HANDLE event) {
    return g_library.Call(
        handle, [&](Counter& device) { return device.Reset(wait != 0, event); });
}

EtcError Etc_SetBaseElapsedTimeCount(void* handle, uint32_t value, int wait, HANDLE event) {
    return g_library.Call(handle, [&](Counter& device) {
        return device.SetBaseElapsedTimeCount(value, wait != 0, event);
    });
}

EtcError Etc_SetBasePowerCycleCount(void* handle, uint32_t value, int wait, HANDLE event) {
    return g_library.Call(handle, [&](Counter& device) {
        return device.SetBasePowerCycleCount(value, wait != 0, event);
    });
}

}  // extern "C"

EtcError Etc_GetIdentification(void* handle, EtcIdentificationStruct* identification) {
    return g_library.Get(handle, identification, [](Counter& device) { return device.GetIdentification(); });
}

EtcError Etc_GetElapsedTimeCallback(void* handle, EtcElapsedTimeCallback callback) {
    return g_library.Call(handle, [&](Counter& device) {
        return device.GetElapsedTimeCallback(std::move(callback));
    });
}

EtcError Etc_GetPowerCycleCountCallback(void* handle, EtcPowerCycleCountCallback callback) {
    return g_library.Call(handle, [&](Counter& device) {
        return device.GetPowerCycleCountCallback(std::move(callback));
    });
}

EtcError Etc_GetDiagnostics(void* handle, EtcDiagnosticsStruct* diagnostics) {
    return g_library.Call(
        handle, [&](Counter& device) { return device.GetDiagnostics(*diagnostics); }, diagnostics);
}

EtcError Etc_GetDiagnosticsCallback(void* handle, EtcDiagnosticsCallback callback) {
    return g_library.Call(handle, [&](Counter& device) {
        return device.GetDiagnosticsCallback(std::move(callback));
    });
}
