// The exported interface of PsuDll: one line per export through the
// library's one CDriverLibrary, which owns the log, the handle list and the
// closing threads. Nothing is thrown across it.
//
// Exports are called from any thread; the int flags of the C interface
// become bool here.
#include "PsuDll.h"

#include "AgilentE3633A.h"

#include <serial/DriverLibrary.h>

#include <utility>

namespace {

using Device = CAgilentE3633A;
using Reading = CAgilentE3633A::Reading;
using SetPoint = CAgilentE3633A::SetPoint;

// A log ceiling above 7 has always been refused with 1.
driver::CDriverLibrary<Device, AgilentError> g_library{
    "CAgilentE3633A",
    {AgilentSuccess, AgilentErrorFailed, AgilentErrorInvalidHandle, AgilentErrorInvalidParameter,
     AgilentErrorFailed}};

AgilentError Read(void* handle, Reading reading, double* value) {
    return g_library.Call(handle, [&](Device& d) { return d.Read(reading, *value); }, value);
}

AgilentError ReadWithCallback(void* handle, Reading reading, AgilentResponseCallback callback) {
    return g_library.Call(handle, [&](Device& d) { return d.Read(reading, std::move(callback)); });
}

AgilentError Set(void* handle, SetPoint setPoint, double value, int wait, HANDLE event) {
    return g_library.Call(handle, [&](Device& d) { return d.Set(setPoint, value, wait != 0, event); });
}

}  // namespace

extern "C" {

AgilentError Agilent_Connect(SerialPortSettingsStruct settings, void** handle, int wait, HANDLE event) {
    return g_library.Connect(handle, [&](Device& d) { return d.Connect(settings, wait != 0, event); });
}

// A waiting disconnect takes the caller's event over, as a waiting connect
// does: signalled, then closed.
AgilentError Agilent_Disconnect(void** handle, int wait, HANDLE event) {
    return g_library.Disconnect(handle, wait != 0, event, /*closeEventAfterWait=*/true);
}

AgilentError Agilent_IsValidDevice(void* handle, int* valid) {
    return g_library.Call(handle, [&](Device& d) { *valid = d.IsValidDevice(); return AgilentSuccess; }, valid);
}

AgilentError Agilent_IsRampedUp(void* handle, int* rampedUp) {
    return g_library.Call(handle, [&](Device& d) { *rampedUp = d.IsRampedUp(); return AgilentSuccess; }, rampedUp);
}

AgilentError Agilent_SetOutput(void* handle, AgilentOutput output, int wait, HANDLE event) {
    return g_library.Call(handle, [&](Device& d) { return d.SetOutput(output, wait != 0, event); });
}

AgilentError Agilent_SetDisplay(void* handle, AgilentDisplay display, int wait, HANDLE event) {
    return g_library.Call(handle, [&](Device& d) { return d.SetDisplay(display, wait != 0, event); });
}

AgilentError Agilent_SetDisplayMessage(void* handle, const char* text, int wait, HANDLE event) {
    return g_library.Call(handle, [&](Device& d) { return d.SetDisplayMessage(text, wait != 0, event); });
}

AgilentError Agilent_ClearDisplayMessage(void* handle, int wait, HANDLE event) {
    return g_library.Call(handle, [&](Device& d) { return d.ClearDisplayMessage(wait != 0, event); });
}

AgilentError Agilent_SetVoltageRange(void* handle, AgilentVoltageRange range, int wait, HANDLE event) {
    return g_library.Call(handle, [&](Device& d) { return d.SetVoltageRange(range, wait != 0, event); });
}

AgilentError Agilent_SetCurrent(void* handle, double amperes, int wait, HANDLE event) {
    return Set(handle, SetPoint::Current, amperes, wait, event);
}

AgilentError Agilent_SetVoltage(void* handle, double volts, int wait, HANDLE event) {
    return Set(handle, SetPoint::Voltage, volts, wait, event);
}

AgilentError Agilent_SetCurrentLimit(void* handle, double amperes, int wait, HANDLE event) {
    return Set(handle, SetPoint::CurrentLimit, amperes, wait, event);
}

AgilentError Agilent_SetVoltageLimit(void* handle, double volts, int wait, HANDLE event) {
    return Set(handle, SetPoint::VoltageLimit, volts, wait, event);
}

AgilentError Agilent_ResetOCP(void* handle, int wait, HANDLE event) {
    return g_library.Call(handle, [&](Device& d) { return d.ResetOverCurrentProtection(wait != 0, event); });
}

AgilentError Agilent_ResetOVP(void* handle, int wait, HANDLE event) {
    return g_library.Call(handle, [&](Device& d) { return d.ResetOverVoltageProtection(wait != 0, event); });
}

AgilentError Agilent_GetCurrent(void* handle, double* amperes) {
    return Read(handle, Reading::CurrentSetPoint, amperes);
}

AgilentError Agilent_GetVoltage(void* handle, double* volts) {
    return Read(handle, Reading::VoltageSetPoint, volts);
}

AgilentError Agilent_MeasureCurrent(void* handle, double* amperes) {
    return Read(handle, Reading::MeasuredCurrent, amperes);
}

AgilentError Agilent_MeasureVoltage(void* handle, double* volts) {
    return Read(handle, Reading::MeasuredVoltage, volts);
}

AgilentError Agilent_GetOutput(void* handle, AgilentOutput* output) {
    double state = 0.0;
    const AgilentError result = Read(handle, Reading::OutputState, output ? &state : nullptr);
    if (result == AgilentSuccess) *output = state != 0.0 ? AgilentOutput_On : AgilentOutput_Off;
    return result;
}

AgilentError Agilent_RampUp(void* handle, double current, double voltage, int seconds,
                            HANDLE abortEvent, int wait, HANDLE completeEvent) {
    return g_library.Call(handle, [&](Device& d) {
        return d.RampUp(current, voltage, seconds, abortEvent, wait != 0, completeEvent, nullptr);
    });
}

AgilentError Agilent_RampDown(void* handle, int seconds, HANDLE abortEvent, int wait,
                              HANDLE completeEvent) {
    return g_library.Call(handle, [&](Device& d) {
        return d.RampDown(seconds, abortEvent, wait != 0, completeEvent, nullptr);
    });
}

AgilentError Agilent_SetLogCeiling(unsigned ceiling) { return g_library.SetLogCeiling(ceiling); }

AgilentError Agilent_SetLogfilePath(const wchar_t* path) { return g_library.SetLogfilePath(path); }

}  // extern "C"

AgilentError Agilent_GetIdentification(void* handle, AgilentIdentificationStruct* identification) {
    return g_library.Call(
        handle, [&](Device& d) { *identification = d.GetIdentification(); return AgilentSuccess; },
        identification);
}

// The callable argument is released on return in every path, also when the
// handle is not listed.
AgilentError Agilent_GetCurrentCallback(void* handle, AgilentResponseCallback callback) {
    return ReadWithCallback(handle, Reading::CurrentSetPoint, std::move(callback));
}

AgilentError Agilent_GetVoltageCallback(void* handle, AgilentResponseCallback callback) {
    return ReadWithCallback(handle, Reading::VoltageSetPoint, std::move(callback));
}

AgilentError Agilent_MeasureCurrentCallback(void* handle, AgilentResponseCallback callback) {
    return ReadWithCallback(handle, Reading::MeasuredCurrent, std::move(callback));
}

AgilentError Agilent_MeasureVoltageCallback(void* handle, AgilentResponseCallback callback) {
    return ReadWithCallback(handle, Reading::MeasuredVoltage, std::move(callback));
}

// A progress form never waits.
AgilentError Agilent_RampUpReportProgress(void* handle, double current, double voltage, int seconds,
                                          HANDLE abortEvent, HANDLE completeEvent,
                                          AgilentProgressCallback progress) {
    return g_library.Call(handle, [&](Device& d) {
        return d.RampUp(current, voltage, seconds, abortEvent, false, completeEvent, std::move(progress));
    });
}

AgilentError Agilent_RampDownReportProgress(void* handle, int seconds, HANDLE abortEvent,
                                            HANDLE completeEvent, AgilentProgressCallback progress) {
    return g_library.Call(handle, [&](Device& d) {
        return d.RampDown(seconds, abortEvent, false, completeEvent, std::move(progress));
    });
}
