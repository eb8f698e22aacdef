// CAgilentE3633A: one Agilent E3633A supply on one serial port. Connects and
// identifies the supply, keeps its front panel locked while connected, sends
// the SCPI set commands and numeric queries, unlocks the panel on the way
// out, and ramps the lamp up and down on a worker thread.
//
// Connecting and disconnecting are in AgilentE3633A.cpp, the commands and
// queries in AgilentE3633ACommands.cpp, the ramps in AgilentE3633AJobs.cpp,
// the reply parsers in AgilentE3633AProtocol.cpp.
//
// Ownership: made, listed and destroyed only by the library's
// CDriverLibrary (Exports.cpp); the port, the log, the closing event and
// the workers belong to the CDriverDevice base. The destructor shuts the
// device down before any member of this class goes.
//
// Threads: the exports call every public member from any caller's thread.
// The identification and numeric reply handlers run on the port's service
// thread; a ramp runs on one of the device's workers and calls the blocking
// set and query members from there. BeginDisconnect runs on the
// disconnecting caller's thread, BeforeClose on whichever thread shuts the
// device down.
#pragma once

#include "PsuDll.h"

#include <platform/OwnedHandle.h>
#include <serial/DriverDevice.h>
#include <serial/DriverLog.h>
#include <serial/PendingReply.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class CAgilentE3633A : public driver::CDriverDevice {
public:
    explicit CAgilentE3633A(driverlog::CLibraryLog& library);
    ~CAgilentE3633A() override;

    // Opens the port and sends "*IDN?" (see CDriverDevice::OpenAndIdentify
    // for the two forms and the caller's event); an E3633A's front panel is
    // locked once it has been identified.
    driver::ConnectResult Connect(const SerialPortSettingsStruct& settings, bool wait, HANDLE event);
    // Queues the unlock of the front panel; BeforeClose waits for it.
    void BeginDisconnect() override;

    AgilentIdentificationStruct GetIdentification() const;
    bool IsValidDevice() const { return m_bIsValidDevice.load(); }
    bool IsRampedUp() const { return m_bIsRampedUp.load(); }

    // Set commands: blocking, they return once the command has been written;
    // not blocking, they return at once and signal the event (if any) then.
    AgilentError SetOutput(AgilentOutput output, bool wait, HANDLE event);
    AgilentError SetDisplay(AgilentDisplay display, bool wait, HANDLE event);
    AgilentError SetDisplayMessage(const char* text, bool wait, HANDLE event);
    AgilentError ClearDisplayMessage(bool wait, HANDLE event);
    AgilentError SetVoltageRange(AgilentVoltageRange range, bool wait, HANDLE event);
    AgilentError ResetOverCurrentProtection(bool wait, HANDLE event);
    AgilentError ResetOverVoltageProtection(bool wait, HANDLE event);

    // The four numeric set points; a value that is not finite is refused
    // with 6 and nothing is sent.
    enum class SetPoint { Current, Voltage, CurrentLimit, VoltageLimit };
    AgilentError Set(SetPoint setPoint, double value, bool wait, HANDLE event);

    // The numeric queries (the output state reads as 1 on, 0 off). Blocking:
    // 0, or 7 when the reply timed out, did not convert or the device is
    // closing. With a callable: 0 at once; the callable is called once on
    // the service thread with (1, value) or (0, last good value).
    enum class Reading { CurrentSetPoint, VoltageSetPoint, MeasuredCurrent, MeasuredVoltage, OutputState };
    AgilentError Read(Reading reading, double& value);
    AgilentError Read(Reading reading, AgilentResponseCallback callback);

    // Lamp ramps: 0 started (or, blocking, completed), 6 bad argument, 8 no
    // thread, 9 another ramp runs, 10 a blocking ramp ended early. A ramp-up
    // of a lamp already lit (output on, current set above 0) starts from the
    // set points it finds instead of from 0 A.
    AgilentError RampUp(double current, double voltage, int seconds, HANDLE abortEvent,
                        bool wait, HANDLE completeEvent, AgilentProgressCallback progress);
    AgilentError RampDown(int seconds, HANDLE abortEvent, bool wait, HANDLE completeEvent,
                          AgilentProgressCallback progress);

protected:
    // Waits, bounded, until the unlock has been written or has failed.
    void BeforeClose() override;

private:
    // ---- Commands and replies ---------------------------------------------
    struct NumericReply {
        bool valid = false;
        double value = 0.0;  // the last good value when not valid
    };
    using PendingNumber = driver::CPendingReply<NumericReply>;

    void SendNumericQuery(Reading reading, std::shared_ptr<PendingNumber> reply);
    AgilentError SendSetCommand(const std::string& command, bool wait, HANDLE event);

    // Service thread: judges the "*IDN?" reply and locks the front panel of
    // a supply it recognises; true for an E3633A.
    bool OnIdentification(const char* text, bool timedOut);
    NumericReply OnNumericReply(const char* text, bool timedOut);

    // ---- Ramps --------------------------------------------------------------
    enum class RampKind { Up, Down };
    // What one ramp works with, copied into its worker so a later start can
    // never change it under the thread.
    struct RampRun {
        RampKind kind = RampKind::Up;
        double current = 0.0;
        double voltage = 0.0;
        int seconds = 0;
        HANDLE abortEvent = nullptr;
        HANDLE completeEvent = nullptr;  // signalled only when the ramp ran to its end
        AgilentProgressCallback progress;
    };

    // False, after logging it, when `seconds` is no usable ramp time.
    bool CheckRampTime(RampKind kind, int seconds);
    // Takes the ramp lock, makes way for the ramp and starts its worker;
    // blocking, waits for the ramp with the lock released.
    AgilentError LaunchRamp(RampRun run, bool wait);
    // Refuses with 9 while a ramp runs that nobody has aborted; an aborted or
    // finished one is waited for. Ramp lock held.
    AgilentError MakeWayForRamp();
    bool RunningRampAborted() const;

    // True when the ramp ran to its end.
    bool RunRamp(const RampRun& run);
    // How a ramp-up finds the lamp: dark, lit at set points of its own (then
    // `current` and `voltage` hold them), or unknown (a query went
    // unanswered).
    enum class LampFound { Dark, Lit, Unknown };
    LampFound FindLamp(double& current, double& voltage);
    // Each true when it ran to its end.
    bool RunRampUp(const RampRun& run);
    bool RunRampDown(const RampRun& run);
    // Waits out a step's pause; true when the ramp is to stop instead (its
    // abort event was signalled or closed, a new start cancelled it, or the
    // device is closing).
    bool WaitForStep(DWORD milliseconds, HANDLE abortEvent);
    void ReportProgress(const RampRun& run, double percent, const wchar_t* logText);

    // ---- Members ------------------------------------------------------------
    mutable std::mutex m_identificationMutex;  // guards m_identification
    AgilentIdentificationStruct m_identification;
    std::atomic<bool> m_bIsValidDevice{false};
    // The value of the last numeric reply that converted; touched only on
    // the service thread.
    double m_dLastValue = 0.0;

    std::atomic<bool> m_bIsRampedUp{false};
    // Set points the last completed ramp left commanded: where a ramp-down
    // starts when the supply cannot tell its own.
    std::atomic<double> m_dSettledCurrent{0.0};
    std::atomic<double> m_dSettledVoltage{0.0};
    // Serialises ramp starts; the running ramp works on its own copy.
    std::mutex m_rampMutex;
    // The abort event of the latest ramp, looked at before another starts.
    HANDLE m_hRampAbortEvent = nullptr;
    // Held from a start until the ramp ends, given back before anyone can
    // hear of the end, so a start right after a completion is not refused.
    driver::CExclusiveJob m_ramp;
    // Ends a running ramp whose caller aborted it but whose abort event was
    // consumed by our own look at it.
    platform::COwnedHandle m_rampCancelEvent = platform::COwnedHandle::NewEvent(true);

    // Set, under the send lock, when the unlock of a disconnect is queued:
    // no set command may follow it onto the wire (a ramp step racing the
    // disconnect would otherwise drive the lamp from a released panel).
    std::mutex m_sendMutex;
    bool m_bUnlockQueued = false;
    // Signalled once the unlock of a disconnect has been written or failed.
    platform::COwnedHandle m_unlockedEvent = platform::COwnedHandle::NewEvent(true);
};
