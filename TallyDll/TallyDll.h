// Public interface of libTallyDll.so, the driver of the elapsed-time counter
// that records how long the lamp has been lit and how often it was switched
// on.
//
// A program connects with Etc_Connect, which hands back an opaque handle
// (the address of one device object), reads the counter through the other
// exports and ends with Etc_Disconnect. Every export returns an EtcError;
// failures are never thrown across this boundary.
//
// A C program sees the result codes (EtcError is int32_t there) and the
// exports with plain C parameters; the exports that take callables or the
// records holding strings, and their types, are C++ only.
// No export takes an array: every pointer argument is one value.
#pragma once

#include <platform/win32.h>
#include <serial/SerialPortSettings.h>

#include <stdint.h>

#ifdef __cplusplus
#include <cstddef>
#include <functional>
#include <string>
#endif

#define TALLYDLL_API __attribute__((visibility("default")))

#ifdef __cplusplus
enum EtcError : int32_t {
#else
typedef int32_t EtcError;
enum {
#endif
    EtcSuccess = 0,
    EtcErrorFailed = 1,            // connecting failed, or the diagnostics event/thread
    EtcErrorInvalidHandle = 5,     // not a handle this library handed out (or no handle pointer)
    EtcErrorInvalidParameter = 6,  // null output, empty callback, log ceiling above 7, and
                                   // Connect without a handle pointer
    EtcErrorCommandFailed = 7,     // a blocking command's reply timed out or did not convert
    EtcErrorBusy = 8,              // a diagnostics read already runs on this device
};

#ifdef __cplusplus
// What the counter says about itself in its "I?" reply.
struct EtcIdentificationStruct {
    std::string manufacturer;
    std::string model;
    std::string firmwareRevision;
    std::string response;  // the whole reply, terminator removed
};

// The counter's diagnostic values, each named after the query that reads
// it. The order of the fields is part of the library interface.
struct EtcDiagnosticsStruct {
    uint32_t s = 0;
    uint32_t t = 0;
    uint32_t p = 0;
    uint32_t b = 0;
    uint32_t b0 = 0;
    uint32_t b1 = 0;
    uint32_t b2 = 0;
    uint32_t e = 0;
    uint32_t e0 = 0;
    uint32_t e1 = 0;
    uint32_t e2 = 0;
    std::string v;
};
static_assert(offsetof(EtcDiagnosticsStruct, e2) == 10 * sizeof(uint32_t));
static_assert(offsetof(EtcDiagnosticsStruct, v) >= 11 * sizeof(uint32_t));

using EtcElapsedTimeCallback = std::function<void(int valid, double seconds)>;
using EtcPowerCycleCountCallback = std::function<void(int valid, uint32_t count)>;
using EtcDiagnosticsCallback = std::function<void(int valid, EtcDiagnosticsStruct diagnostics)>;
#endif  // __cplusplus

#ifdef __cplusplus
extern "C" {
#endif

// Creates a device on the port and identifies the counter ("I?"). Blocking:
// returns 0 only when a counter answered; `event` (if any) is handed over,
// signalled once the reply was handled and closed before the call returns.
// Not blocking: returns 0 once the query is sent; `event` (if any) is
// signalled when the reply was handled and Etc_IsValidDevice tells the
// outcome. On failure *handle is null and 1 is returned.
TALLYDLL_API EtcError Etc_Connect(SerialPortSettingsStruct settings, void** handle, int blocking,
                                  HANDLE event);
// Closes the port and destroys the device; *handle becomes null. Not
// blocking: the port is closed on a thread of the library, which signals
// `event` when the device is gone. Blocking: `event` (if any) is signalled
// once the device is gone, and stays the caller's to close.
TALLYDLL_API EtcError Etc_Disconnect(void** handle, int blocking, HANDLE event);
// Whether the device identified a counter: *valid 1 or 0. 0, 5, 6.
TALLYDLL_API EtcError Etc_IsValidDevice(void* handle, int* valid);
// Blocking "T?": the lamp's elapsed time in seconds (quarter-second
// counts). 0; 5; 6 null output; 7 the reply timed out or did not convert.
TALLYDLL_API EtcError Etc_GetElapsedTime(void* handle, double* seconds);
// Blocking "P?": the number of power cycles. 0, 5, 6, 7 as above.
TALLYDLL_API EtcError Etc_GetPowerCycleCount(void* handle, uint32_t* count);
// The highest severity logged (0..7), for every device now and later; 6
// above 7.
TALLYDLL_API EtcError Etc_SetLogCeiling(unsigned ceiling);
// The log file every device writes to. 0.
TALLYDLL_API EtcError Etc_SetLogfilePath(const wchar_t* path);
// The commands: reset ("R!") and the base counts ("!0BB%08X", "!0EE%06X").
// Blocking: 0 once the counter answered with a number, 7 otherwise. Not
// blocking: 0 at once; `event` (may be null) is signalled once the reply was
// handled. 5 when not listed.
TALLYDLL_API EtcError Etc_Reset(void* handle, int blocking, HANDLE event);
TALLYDLL_API EtcError Etc_SetBaseElapsedTimeCount(void* handle, uint32_t value, int blocking,
                                                  HANDLE event);
TALLYDLL_API EtcError Etc_SetBasePowerCycleCount(void* handle, uint32_t value, int blocking,
                                                 HANDLE event);

#ifdef __cplusplus
}  // extern "C"

// Exports with C++ types in their signatures keep C++ linkage.
// A copy of what the counter's "I?" reply said. 0, 5, 6.
TALLYDLL_API EtcError Etc_GetIdentification(void* handle, EtcIdentificationStruct* identification);
// The callback reads of "T?" and "P?": 0 at once (5 when not listed); the
// callback gets (1, value) or (0, 0) once, on the port's service thread. It
// may be empty, the reply is then only parsed and logged.
TALLYDLL_API EtcError Etc_GetElapsedTimeCallback(void* handle, EtcElapsedTimeCallback callback);
TALLYDLL_API EtcError Etc_GetPowerCycleCountCallback(void* handle,
                                                     EtcPowerCycleCountCallback callback);
// Blocking read of all twelve diagnostic values; 7 when one of them failed
// (the fields read before it keep their values), 8 when a read runs already,
// 1 when no thread could be started; 5, 6 as elsewhere.
TALLYDLL_API EtcError Etc_GetDiagnostics(void* handle, EtcDiagnosticsStruct* diagnostics);
// The callback gets (1, record) on the library's diagnostics thread once
// every value was read; a failed read makes no call. 0 started; 6 an empty
// callback; 8, 1 and 5 as for Etc_GetDiagnostics.
TALLYDLL_API EtcError Etc_GetDiagnosticsCallback(void* handle, EtcDiagnosticsCallback callback);
#endif  // __cplusplus
