// PsuDll: the driver library of the Agilent E3633A bench power supply that
// feeds the lamp. Programs connect to a supply, set and read it, and ramp the
// lamp up and down through these exports; each works on an opaque handle
// handed out by Agilent_Connect.
//
// A C program sees the result codes, the enumerations (as int32_t values)
// and the exports with plain C parameters; the exports that take callables
// or the identification record, and their types, are C++ only.
// No export takes an array: every pointer argument is one value.
#pragma once

#include <platform/win32.h>
#include <serial/SerialPortSettings.h>

#include <stdint.h>

#ifdef __cplusplus
#include <functional>
#include <string>
#endif

#define PSUDLL_API __attribute__((visibility("default")))

// The enumerations are 32-bit with every value representable, so a value
// outside a table can reach the library and be refused there. C has no
// enumeration of a fixed type: there the type is int32_t and the names are
// its constants.
#ifdef __cplusplus
#define PSUDLL_ENUM(name) enum name : int32_t
#else
#define PSUDLL_ENUM(name) \
    typedef int32_t name; \
    enum
#endif

// Result of every export.
PSUDLL_ENUM(AgilentError) {
    AgilentSuccess = 0,
    AgilentErrorFailed = 1,            // connecting failed, or a log ceiling above 7
    AgilentErrorInvalidHandle = 5,     // the handle is not one this library handed out
    AgilentErrorInvalidParameter = 6,  // null output, value outside its table, bad ramp argument
    AgilentErrorCommandFailed = 7,     // a blocking read's reply timed out or did not convert
    AgilentErrorThreadFailed = 8,      // a ramping thread could not be started
    AgilentErrorBusy = 9,              // a ramp is already running on this device
    AgilentErrorAborted = 10,          // a blocking ramp ended through its abort event
};

PSUDLL_ENUM(AgilentOutput) {
    AgilentOutput_On = 0,
    AgilentOutput_Off = 1,
};

PSUDLL_ENUM(AgilentDisplay) {
    AgilentDisplay_On = 0,
    AgilentDisplay_Off = 1,
};

PSUDLL_ENUM(AgilentVoltageRange) {
    AgilentVoltageRange_P8V = 0,
    AgilentVoltageRange_P20V = 1,
    AgilentVoltageRange_Low = 2,
    AgilentVoltageRange_High = 3,
};

#undef PSUDLL_ENUM

#ifdef __cplusplus
// What the supply said about itself in its "*IDN?" reply.
struct AgilentIdentificationStruct {
    std::string manufacturer;
    std::string model;
    std::string mainVersion;         // main power supply firmware version
    std::string ioRevision;          // I/O processor revision
    std::string frontPanelRevision;
    std::string response;            // the whole reply, terminator removed
};

// Reply of a callback read: valid 1 with the value, or 0 with the last good
// value. Called once, on the library's serial thread.
using AgilentResponseCallback = std::function<void(int valid, double value)>;
// Ramp progress in percent, called on the ramping thread.
using AgilentProgressCallback = std::function<void(double percent)>;
#endif  // __cplusplus

#ifdef __cplusplus
extern "C" {
#endif

PSUDLL_API AgilentError Agilent_Connect(SerialPortSettingsStruct settings, void** handle,
                                        int blocking, HANDLE event);
PSUDLL_API AgilentError Agilent_Disconnect(void** handle, int blocking, HANDLE event);

PSUDLL_API AgilentError Agilent_IsValidDevice(void* handle, int* valid);
PSUDLL_API AgilentError Agilent_IsRampedUp(void* handle, int* rampedUp);

PSUDLL_API AgilentError Agilent_SetOutput(void* handle, AgilentOutput output, int blocking,
                                          HANDLE event);
PSUDLL_API AgilentError Agilent_SetDisplay(void* handle, AgilentDisplay display, int blocking,
                                           HANDLE event);
PSUDLL_API AgilentError Agilent_SetDisplayMessage(void* handle, const char* text, int blocking,
                                                  HANDLE event);
PSUDLL_API AgilentError Agilent_ClearDisplayMessage(void* handle, int blocking, HANDLE event);
PSUDLL_API AgilentError Agilent_SetVoltageRange(void* handle, AgilentVoltageRange range,
                                                int blocking, HANDLE event);
PSUDLL_API AgilentError Agilent_SetCurrent(void* handle, double amperes, int blocking,
                                           HANDLE event);
PSUDLL_API AgilentError Agilent_SetVoltage(void* handle, double volts, int blocking,
                                           HANDLE event);
PSUDLL_API AgilentError Agilent_SetCurrentLimit(void* handle, double amperes, int blocking,
                                                HANDLE event);
PSUDLL_API AgilentError Agilent_SetVoltageLimit(void* handle, double volts, int blocking,
                                                HANDLE event);
PSUDLL_API AgilentError Agilent_ResetOCP(void* handle, int blocking, HANDLE event);
PSUDLL_API AgilentError Agilent_ResetOVP(void* handle, int blocking, HANDLE event);

PSUDLL_API AgilentError Agilent_GetCurrent(void* handle, double* amperes);
PSUDLL_API AgilentError Agilent_GetVoltage(void* handle, double* volts);
PSUDLL_API AgilentError Agilent_MeasureCurrent(void* handle, double* amperes);
PSUDLL_API AgilentError Agilent_MeasureVoltage(void* handle, double* volts);
// Blocking "OUTP?": whether the supply's output is on; 0, 6 or 7.
PSUDLL_API AgilentError Agilent_GetOutput(void* handle, AgilentOutput* output);

// A ramp-up first reads the current set point ("CURR?"). A lamp found lit
// (current above 0 and, by "OUTP?", the output on) is never stepped to 0 A:
// the ramp takes its 50 steps from the set points it finds ("VOLT?") without
// "CURR 0.000" or "OUTP ON". A supply that does not answer those queries is
// left alone and the ramp ends as aborted (the blocking form gives 10).
PSUDLL_API AgilentError Agilent_RampUp(void* handle, double current, double voltage,
                                       int seconds, HANDLE abortEvent, int blocking,
                                       HANDLE completeEvent);
PSUDLL_API AgilentError Agilent_RampDown(void* handle, int seconds, HANDLE abortEvent,
                                         int blocking, HANDLE completeEvent);

PSUDLL_API AgilentError Agilent_SetLogCeiling(unsigned ceiling);
PSUDLL_API AgilentError Agilent_SetLogfilePath(const wchar_t* path);

#ifdef __cplusplus
}  // extern "C"

// These take C++ types and so keep C++ linkage.
PSUDLL_API AgilentError Agilent_GetIdentification(void* handle,
                                                  AgilentIdentificationStruct* identification);

PSUDLL_API AgilentError Agilent_GetCurrentCallback(void* handle, AgilentResponseCallback callback);
PSUDLL_API AgilentError Agilent_GetVoltageCallback(void* handle, AgilentResponseCallback callback);
PSUDLL_API AgilentError Agilent_MeasureCurrentCallback(void* handle,
                                                       AgilentResponseCallback callback);
PSUDLL_API AgilentError Agilent_MeasureVoltageCallback(void* handle,
                                                       AgilentResponseCallback callback);

PSUDLL_API AgilentError Agilent_RampUpReportProgress(void* handle, double current, double voltage,
                                                     int seconds, HANDLE abortEvent,
                                                     HANDLE completeEvent,
                                                     AgilentProgressCallback progress);
PSUDLL_API AgilentError Agilent_RampDownReportProgress(void* handle, int seconds,
                                                       HANDLE abortEvent, HANDLE completeEvent,
                                                       AgilentProgressCallback progress);
#endif  // __cplusplus
