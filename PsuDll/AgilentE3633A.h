// CAgilentE3633A: one Agilent E3633A supply on one serial port. Connects and
// identifies the supply, keeps its front panel locked while connected, sends
// the SCPI set commands and numeric queries, disconnects, and ramps the lamp
// up and down on a worker thread of its own.
#pragma once

#include "LibraryLog.h"
#include "PsuDll.h"

#include <platform/OwnedHandle.h>
#include <serial/DriverLog.h>
#include <serial/SerialPort.h>

#include <atomic>
#include <mutex>
#include <string>

class CAgilentE3633A : public CSerialPort {
public:
    CAgilentE3633A();
    // Stops a running ramp and closes the port, so no thread can reach the
    // object once it is gone.
    ~CAgilentE3633A() override;

    // 0 the supply was identified (blocking) or identification was started
    // (not blocking); 1 the port or its thread failed; 2 no E3633A answered
    // (blocking only).
    int Connect(int blocking, HANDLE event, const SerialPortSettingsStruct& settings);
    // A disconnect in two halves, because the port cannot be closed on its
    // own service thread: the first queues the unlock of the front panel,
    // the second (on any other thread) waits until the unlock has gone out,
    // or can no longer go, and closes the port.
    void UnlockForDisconnect();
    void CloseAfterUnlock();

    AgilentIdentificationStruct GetIdentification() const;
    int IsValidDevice() const { return m_bIsValidDevice.load(); }
    int IsRampedUp() const { return m_bIsRampedUp.load(); }

    // Set commands: blocking, they return once the command has been written;
    // not blocking, they return at once and signal the event (if any) then.
    AgilentError SetOutput(AgilentOutput output, int blocking, HANDLE event);
    AgilentError SetDisplay(AgilentDisplay display, int blocking, HANDLE event);
    AgilentError SetDisplayMessage(const char* text, int blocking, HANDLE event);
    AgilentError ClearDisplayMessage(int blocking, HANDLE event);
    AgilentError SetVoltageRange(AgilentVoltageRange range, int blocking, HANDLE event);
    AgilentError SetCurrent(double amperes, int blocking, HANDLE event);
    AgilentError SetVoltage(double volts, int blocking, HANDLE event);
    AgilentError SetCurrentLimit(double amperes, int blocking, HANDLE event);
    AgilentError SetVoltageLimit(double volts, int blocking, HANDLE event);
    AgilentError ResetOverCurrentProtection(int blocking, HANDLE event);
    AgilentError ResetOverVoltageProtection(int blocking, HANDLE event);

    // Blocking numeric queries: 0, 6 (null output) or 7 (no usable reply).
    AgilentError GetCurrent(double* amperes);
    AgilentError GetVoltage(double* volts);
    AgilentError MeasureCurrent(double* amperes);
    AgilentError MeasureVoltage(double* volts);
    // The same with a callable called once on the serial thread.
    AgilentError GetCurrent(AgilentResponseCallback callback);
    AgilentError GetVoltage(AgilentResponseCallback callback);
    AgilentError MeasureCurrent(AgilentResponseCallback callback);
    AgilentError MeasureVoltage(AgilentResponseCallback callback);

    // Lamp ramps: 0 started (or, blocking, completed), 6 bad argument, 8 no
    // thread, 9 another ramp runs, 10 a blocking ramp was aborted.
    AgilentError RampUp(double current, double voltage, int seconds, HANDLE abortEvent,
                        int blocking, HANDLE completeEvent);
    AgilentError RampUpReportProgress(double current, double voltage, int seconds,
                                      HANDLE abortEvent, HANDLE completeEvent,
                                      AgilentProgressCallback progress);
    AgilentError RampDown(int seconds, HANDLE abortEvent, int blocking, HANDLE completeEvent);
    AgilentError RampDownReportProgress(int seconds, HANDLE abortEvent, HANDLE completeEvent,
                                        AgilentProgressCallback progress);

    driverlog::CDeviceLog& Log() { return m_log; }

private:
    // ---- Commands and replies ---------------------------------------------
    void SendQuery(const char* command, SerialResponseCallback handler);
    AgilentError SendSetCommand(const std::string& command, int blocking, HANDLE event);
    // "<command> <value>" with the value to three decimals, logged as
    // "Setting <what> to <value><unit>.".
    AgilentError SendSetPoint(const wchar_t* what, const char* command, double value,
                              const wchar_t* unit, int blocking, HANDLE event);
    AgilentError BlockingQuery(const char* command, const wchar_t* message, double* out);
    AgilentError CallbackQuery(const char* command, const wchar_t* message,
                               AgilentResponseCallback callback);
    // Waits for `event` unless the port is closed first; true when the event
    // came.
    bool WaitUnlessClosed(HANDLE event);

    void OnIdentification(const char* text, int timedOut);
    // Converts a numeric reply and hands (valid, value) to `deliver`.
    void OnNumericReply(const char* text, int timedOut, const AgilentResponseCallback& deliver);

    // ---- Ramps --------------------------------------------------------------
    // What one ramp thread works with, copied when it starts so a later start
    // can never change it under the thread.
    struct RampRun {
        double current = 0.0;
        double voltage = 0.0;
        int seconds = 0;
        HANDLE abortEvent = nullptr;
        HANDLE completeEvent = nullptr;
        HANDLE endedEvent = nullptr;  // blocking starts only: signalled on every end
        AgilentProgressCallback progress;
    };
    enum class RampKind { Up, Down };
    struct RampStart {
        CAgilentE3633A* self = nullptr;
        RampKind kind = RampKind::Up;
        RampRun run;
    };

    AgilentError StartRampUp(double current, double voltage, int seconds, HANDLE abortEvent,
                             bool blocking, HANDLE completeEvent,
                             const AgilentProgressCallback* progress);
    AgilentError StartRampDown(int seconds, HANDLE abortEvent, bool blocking,
                               HANDLE completeEvent, const AgilentProgressCallback* progress);
    // False, after logging it, when `seconds` is no usable ramp time.
    bool CheckRampTime(RampKind kind, int seconds);
    // Under the ramp lock: makes way for the ramp and starts its thread with
    // these settings; blocking, waits for it with the lock released.
    AgilentError LaunchRamp(RampKind kind, double current, double voltage, int seconds,
                            HANDLE abortEvent, bool blocking, HANDLE completeEvent,
                            const AgilentProgressCallback* progress);
    // Refuses with 9 while a ramp runs that nobody has aborted; an aborted or
    // finished one is waited for. Ramp lock held.
    AgilentError MakeWayForRamp();
    bool RunningRampAborted() const;
    // Tells the ramp thread (if any) to stop and waits for it.
    void JoinRampThread();

    static DWORD WINAPI RampThread(LPVOID parameter);
    void RunRampUp(const RampRun& run);
    void RunRampDown(const RampRun& run);
    // Waits out a step's pause; true when the ramp is to stop instead (its
    // abort event was signalled or closed, it was cancelled, or the port
    // closed).
    bool WaitForStep(DWORD milliseconds, HANDLE abortEvent);
    void ReportProgress(const RampRun& run, double percent);
    void EndRamp(const RampRun& run, bool completed);
    // Ends the ramp early, logging `message`.
    void AbortRamp(const RampRun& run, const wchar_t* message);

    // ---- Members ------------------------------------------------------------
    // First, so it outlives everything that might still log.
    driverlog::CDeviceLog m_log{psudll::g_log, psudll::kDeviceClassName, this};

    mutable std::mutex m_identificationMutex;  // guards m_identification
    AgilentIdentificationStruct m_identification;
    std::atomic<int> m_bIsValidDevice{0};
    HANDLE m_hIdentificationCompleteEvent = nullptr;
    // Stands in for the caller's event when a connect brought none.
    platform::COwnedHandle m_ownIdentificationEvent;
    // The last numeric reply; touched only on the serial thread.
    double m_dResponseValue = 0.0;
    int m_bResponseValid = 0;
    // One blocking query at a time, so callers never read each other's
    // replies.
    std::mutex m_queryMutex;

    std::atomic<int> m_bIsRampedUp{0};
    // The abort event of the running ramp, looked at before another starts.
    HANDLE m_hRampAbortEvent = nullptr;
    platform::COwnedHandle m_rampThread;
    // Set points the last completed ramp left commanded: where a ramp-down
    // starts when the supply cannot tell its own.
    std::atomic<double> m_dSettledCurrent{0.0};
    std::atomic<double> m_dSettledVoltage{0.0};
    // Guards the ramp members above; the running thread works on its own
    // copy of them.
    std::mutex m_rampMutex;
    std::atomic<bool> m_bRampRunning{false};
    // Ends a running ramp when its caller aborted it but the abort event was
    // consumed by our own look at it, or when the object goes.
    platform::COwnedHandle m_rampCancelEvent = platform::COwnedHandle::NewEvent(true);

    // Signalled once the port is closed: every wait for a command that can no
    // longer be written ends.
    platform::COwnedHandle m_closedEvent = platform::COwnedHandle::NewEvent(true);
    // Signalled once the unlock of a disconnect has been written, or has
    // failed, or was dropped by a close.
    platform::COwnedHandle m_unlockedEvent = platform::COwnedHandle::NewEvent(true);
};
