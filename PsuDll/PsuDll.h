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

// Makes a device on the serial port `settings` name, identifies the supply
// ("*IDN?") and, for an E3633A, locks its front panel.
// settings: the COM settings. handle: receives the device's handle, null on failure.
// blocking: 1 waits for the identification; 0 returns once it is sent.
// event: may be null. Blocking: signalled and closed once the supply was judged (the
// call takes it over). Not blocking: signalled once judged; Agilent_IsValidDevice tells.
// Returns 0; 1 the port failed or (blocking) no E3633A answered; 6 a null handle pointer.
PSUDLL_API AgilentError Agilent_Connect(SerialPortSettingsStruct settings, void** handle,
                                        int blocking, HANDLE event);
// Unlocks the front panel ("SYST:LOC"), closes the port and destroys the device.
// handle: the handle, set to null. blocking: 1 returns once the port is closed;
// 0 at once, the port closed on a closing thread. event: may be null; signalled once
// the port is closed (a blocking call also closes it).
// Returns 0; 5 the handle is not listed.
PSUDLL_API AgilentError Agilent_Disconnect(void** handle, int blocking, HANDLE event);

// Whether the device identified an E3633A. valid: receives 1 or 0.
// Returns 0; 5 not listed; 6 null output.
PSUDLL_API AgilentError Agilent_IsValidDevice(void* handle, int* valid);
// Whether the lamp is ramped up: 1 from the end of a ramp-up that ran to its
// end until the next ramp-up starts or a ramp-down ends. rampedUp: receives 1
// or 0. Returns 0; 5 not listed; 6 null output.
PSUDLL_API AgilentError Agilent_IsRampedUp(void* handle, int* rampedUp);

// The set commands below share their last two parameters and their results.
// blocking: 1 returns once the command has been written; 0 at once.
// event: may be null; not blocking, signalled once the command has been written.
// Returns 0; 1 (blocking) no event to wait on could be made; 5 not listed; 6 a value
// outside its table (nothing sent); 7 the device is disconnecting (nothing sent).
//
// Switches the output on or off ("OUTP ON", "OUTP OFF").
PSUDLL_API AgilentError Agilent_SetOutput(void* handle, AgilentOutput output, int blocking,
                                          HANDLE event);
// Switches the front display on or off ("DISP ON", "DISP OFF").
PSUDLL_API AgilentError Agilent_SetDisplay(void* handle, AgilentDisplay display, int blocking,
                                           HANDLE event);
// Shows `text` on the display ("DISP:TEXT"); 6 for a null text or one with a
// control character.
PSUDLL_API AgilentError Agilent_SetDisplayMessage(void* handle, const char* text, int blocking,
                                                  HANDLE event);
// Clears the display message ("DISP:TEXT:CLE").
PSUDLL_API AgilentError Agilent_ClearDisplayMessage(void* handle, int blocking, HANDLE event);
// Selects the 8 V or the 20 V range ("VOLT:RANG P8V", "VOLT:RANG P20V").
PSUDLL_API AgilentError Agilent_SetVoltageRange(void* handle, AgilentVoltageRange range,
                                                int blocking, HANDLE event);
// The set points, with three decimals ("CURR", "VOLT", "CURR:PROT",
// "VOLT:PROT"); 6 for a value that is not finite.
PSUDLL_API AgilentError Agilent_SetCurrent(void* handle, double amperes, int blocking,
                                           HANDLE event);
PSUDLL_API AgilentError Agilent_SetVoltage(void* handle, double volts, int blocking,
                                           HANDLE event);
PSUDLL_API AgilentError Agilent_SetCurrentLimit(void* handle, double amperes, int blocking,
                                                HANDLE event);
PSUDLL_API AgilentError Agilent_SetVoltageLimit(void* handle, double volts, int blocking,
                                                HANDLE event);
// Clears a tripped over-current or over-voltage protection ("CURR:PROT:CLE",
// "VOLT:PROT:CLE").
PSUDLL_API AgilentError Agilent_ResetOCP(void* handle, int blocking, HANDLE event);
PSUDLL_API AgilentError Agilent_ResetOVP(void* handle, int blocking, HANDLE event);

// The blocking reads: the current and voltage set points ("CURR?", "VOLT?")
// and the measured values ("MEAS:CURR?", "MEAS:VOLT?"), written to the output only
// on success. Returns 0; 5 not listed; 6 null output; 7 the reply timed out, did not
// convert, or the device is disconnecting.
PSUDLL_API AgilentError Agilent_GetCurrent(void* handle, double* amperes);
PSUDLL_API AgilentError Agilent_GetVoltage(void* handle, double* volts);
PSUDLL_API AgilentError Agilent_MeasureCurrent(void* handle, double* amperes);
PSUDLL_API AgilentError Agilent_MeasureVoltage(void* handle, double* volts);
// Blocking "OUTP?": whether the supply's output is on; 0, 5, 6 or 7.
PSUDLL_API AgilentError Agilent_GetOutput(void* handle, AgilentOutput* output);

// A ramp-up first reads the current set point ("CURR?"). A lamp found lit
// (current above 0 and, by "OUTP?", the output on) is never stepped to 0 A:
// the ramp takes its 50 steps from the set points it finds ("VOLT?") without
// "CURR 0.000" or "OUTP ON". A supply that does not answer those queries is
// left alone and the ramp ends as aborted (the blocking form gives 10).
// A ramp-down lowers current and voltage to 0 in 20 steps.
// current, voltage: the ramp-up's target (above 0, at most 20.6). seconds: the
// ramp's length, 1 and up. abortEvent: may be null; signalled, it ends the ramp
// after its current step. blocking: 1 returns once the ramp has ended; 0 at once.
// completeEvent: may be null; not blocking, signalled when the ramp ran to its end.
// Returns 0; 5 not listed; 6 a bad target or time; 8 no ramping thread; 9 a ramp
// runs already; 10 a blocking ramp ended early.
PSUDLL_API AgilentError Agilent_RampUp(void* handle, double current, double voltage,
                                       int seconds, HANDLE abortEvent, int blocking,
                                       HANDLE completeEvent);
PSUDLL_API AgilentError Agilent_RampDown(void* handle, int seconds, HANDLE abortEvent,
                                         int blocking, HANDLE completeEvent);

// Sets the highest severity logged (0..7) for every device, now and later.
// Returns 0; 1 a ceiling above 7.
PSUDLL_API AgilentError Agilent_SetLogCeiling(unsigned ceiling);
// Sets the log file every device writes to (null: none). Returns 0.
PSUDLL_API AgilentError Agilent_SetLogfilePath(const wchar_t* path);

#ifdef __cplusplus
}  // extern "C"

// These take C++ types and so keep C++ linkage.
// The fields of the supply's "*IDN?" reply. identification: receives a copy.
// Returns 0; 5 not listed; 6 null output.
PSUDLL_API AgilentError Agilent_GetIdentification(void* handle,
                                                  AgilentIdentificationStruct* identification);

// The callback reads: as the blocking reads, but the call returns 0 at once (5
// when not listed) and `callback` (may be empty) is called once on the library's
// serial thread with (1, value) or (0, the last good value).
PSUDLL_API AgilentError Agilent_GetCurrentCallback(void* handle, AgilentResponseCallback callback);
PSUDLL_API AgilentError Agilent_GetVoltageCallback(void* handle, AgilentResponseCallback callback);
PSUDLL_API AgilentError Agilent_MeasureCurrentCallback(void* handle,
                                                       AgilentResponseCallback callback);
PSUDLL_API AgilentError Agilent_MeasureVoltageCallback(void* handle,
                                                       AgilentResponseCallback callback);

// The progress forms of the ramps: never blocking; `progress` (may be empty) is
// called on the ramping thread with the percentage done. Results as the ramps'.
PSUDLL_API AgilentError Agilent_RampUpReportProgress(void* handle, double current, double voltage,
                                                     int seconds, HANDLE abortEvent,
                                                     HANDLE completeEvent,
                                                     AgilentProgressCallback progress);
PSUDLL_API AgilentError Agilent_RampDownReportProgress(void* handle, int seconds,
                                                       HANDLE abortEvent, HANDLE completeEvent,
                                                       AgilentProgressCallback progress);
#endif  // __cplusplus
