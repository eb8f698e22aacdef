// CAgilentE3633A: lamp ramps. A ramp-up sets the voltage, switches the
// output on at 0 A and raises the current in 50 timed steps that flatten
// towards the target; a ramp-down lowers current and voltage together to 0 in
// 20 timed steps and leaves the output on. Each ramp runs on a thread of its
// own, at most one per device at a time.
#include "AgilentE3633A.h"

#include "ScpiText.h"
#include "StepClock.h"

#include <climits>
#include <memory>
#include <cmath>
#include <string>

using driverlog::Debug;
using driverlog::Error;
using platform::COwnedHandle;

namespace {

constexpr int kRampUpSteps = 50;
constexpr int kRampDownSteps = 20;
// Each ramp-up step closes this fraction of the gap to the target.
constexpr double kRampUpFraction = 0.125;
// Step intervals are computed in 32-bit milliseconds.
constexpr int kMaxRampSeconds = INT_MAX / 1000;

// NaN fails every comparison, so it counts as "not greater than 0".
bool Positive(double value) { return value > 0.0; }

}  // namespace

// ---- Starting ---------------------------------------------------------------

AgilentError CAgilentE3633A::RampUp(double current, double voltage, int seconds, HANDLE abortEvent,
                                    int blocking, HANDLE completeEvent) {
    return StartRampUp(current, voltage, seconds, abortEvent, blocking != 0, completeEvent, nullptr);
}

AgilentError CAgilentE3633A::RampUpReportProgress(double current, double voltage, int seconds,
                                                  HANDLE abortEvent, HANDLE completeEvent,
                                                  AgilentProgressCallback progress) {
    return StartRampUp(current, voltage, seconds, abortEvent, false, completeEvent, &progress);
}

AgilentError CAgilentE3633A::RampDown(int seconds, HANDLE abortEvent, int blocking,
                                      HANDLE completeEvent) {
    return StartRampDown(seconds, abortEvent, blocking != 0, completeEvent, nullptr);
}

AgilentError CAgilentE3633A::RampDownReportProgress(int seconds, HANDLE abortEvent,
                                                    HANDLE completeEvent,
                                                    AgilentProgressCallback progress) {
    return StartRampDown(seconds, abortEvent, false, completeEvent, &progress);
}

AgilentError CAgilentE3633A::StartRampUp(double current, double voltage, int seconds,
                                         HANDLE abortEvent, bool blocking, HANDLE completeEvent,
                                         const AgilentProgressCallback* progress) {
    m_log.Log(Debug, L": Ramping the Agilent to (", psudll::FormatFixedW(voltage, 3), L"V,",
              psudll::FormatFixedW(current, 3), L"A) in ", seconds, L" seconds.");
    if (!Positive(current)) {
        m_log.Log(Error, L": Invalid ramp-up current value (", psudll::FormatFixedW(current, 3), L").");
        return AgilentErrorInvalidParameter;
    }
    if (!Positive(voltage)) {
        m_log.Log(Error, L": Invalid ramp-up voltage value (", psudll::FormatFixedW(voltage, 3), L").");
        return AgilentErrorInvalidParameter;
    }
    if (!CheckRampTime(RampKind::Up, seconds)) return AgilentErrorInvalidParameter;
    return LaunchRamp(RampKind::Up, current, voltage, seconds, abortEvent, blocking, completeEvent,
                      progress);
}

AgilentError CAgilentE3633A::StartRampDown(int seconds, HANDLE abortEvent, bool blocking,
                                           HANDLE completeEvent,
                                           const AgilentProgressCallback* progress) {
    m_log.Log(Debug, L": Ramping down the Agilent in ", seconds, L" seconds.");
    if (!CheckRampTime(RampKind::Down, seconds)) return AgilentErrorInvalidParameter;
    // A ramp-down reads where it starts from: it has no target.
    return LaunchRamp(RampKind::Down, 0.0, 0.0, seconds, abortEvent, blocking, completeEvent,
                      progress);
}

bool CAgilentE3633A::CheckRampTime(RampKind kind, int seconds) {
    if (seconds > 0 && seconds <= kMaxRampSeconds) return true;
    m_log.Log(Error, kind == RampKind::Up ? L": Invalid ramp-up time (" : L": Invalid ramp-down time (",
              seconds, L").");
    return false;
}

bool CAgilentE3633A::RunningRampAborted() const {
    if (!m_hRampAbortEvent) return false;
    // A closed abort event counts as an abort, just as it does for the thread.
    const DWORD state = WaitForSingleObject(m_hRampAbortEvent, 0);
    return state == WAIT_OBJECT_0 || state == WAIT_FAILED;
}

AgilentError CAgilentE3633A::MakeWayForRamp() {
    if (!m_rampThread) return AgilentSuccess;
    if (m_bRampRunning.load() && !RunningRampAborted()) {
        m_log.Log(Error, L": Ramping thread already running.");
        return AgilentErrorBusy;
    }
    // The old thread has ended or is ending after its current step. Looking
    // at an auto-reset abort event may have taken its signal away from the
    // thread, so it is told again through our own event.
    JoinRampThread();
    ResetEvent(m_rampCancelEvent.Get());
    return AgilentSuccess;
}

void CAgilentE3633A::JoinRampThread() {
    SetEvent(m_rampCancelEvent.Get());
    if (!m_rampThread) return;
    WaitForSingleObject(m_rampThread.Get(), INFINITE);
    m_rampThread.Reset();
}

AgilentError CAgilentE3633A::LaunchRamp(RampKind kind, double current, double voltage,
                                        int seconds, HANDLE abortEvent, bool blocking,
                                        HANDLE completeEvent,
                                        const AgilentProgressCallback* progress) {
    std::unique_lock lock(m_rampMutex);
    if (const AgilentError busy = MakeWayForRamp(); busy != AgilentSuccess) return busy;

    COwnedHandle ownComplete, ended;
    if (blocking) {
        ownComplete = COwnedHandle::NewEvent();
        ended = COwnedHandle::NewEvent(true);
        completeEvent = ownComplete.Get();
    }
    m_hRampAbortEvent = abortEvent;

    // The thread works on its own copy, handed over with it; the progress
    // callable of a start is never seen by a later one.
    auto start = std::make_unique<RampStart>();
    start->self = this;
    start->kind = kind;
    start->run.current = current;
    start->run.voltage = voltage;
    start->run.seconds = seconds;
    start->run.abortEvent = abortEvent;
    start->run.completeEvent = completeEvent;
    start->run.endedEvent = ended.Get();
    if (progress) start->run.progress = *progress;

    m_bRampRunning.store(true);
    const bool up = kind == RampKind::Up;
    m_rampThread.Reset(CreateThread(nullptr, 0, &RampThread, start.get(), 0, nullptr));
    if (!m_rampThread) {
        m_bRampRunning.store(false);
        m_log.Log(Error, up ? L": Failed to create the RampUpThread worker thread."
                            : L": Failed to create the RampDownThread worker thread.");
        return AgilentErrorThreadFailed;
    }
    start.release();  // the thread owns it now
    if (!blocking) return AgilentSuccess;

    // Every end of the thread signals `ended`, after the completion event
    // when the ramp ran to its end. Other starts may go on meanwhile.
    lock.unlock();
    WaitForSingleObject(ended.Get(), INFINITE);
    const bool completed = WaitForSingleObject(ownComplete.Get(), 0) == WAIT_OBJECT_0;
    lock.lock();
    return completed ? AgilentSuccess : AgilentErrorAborted;
}

// ---- The ramping threads --------------------------------------------------

DWORD WINAPI CAgilentE3633A::RampThread(LPVOID parameter) {
    const std::unique_ptr<RampStart> start(static_cast<RampStart*>(parameter));
    if (start->kind == RampKind::Up)
        start->self->RunRampUp(start->run);
    else
        start->self->RunRampDown(start->run);
    return 0;
}

bool CAgilentE3633A::WaitForStep(DWORD milliseconds, HANDLE abortEvent) {
    HANDLE handles[3];
    DWORD count = 0;
    // Without an abort event the pauses are still kept.
    if (abortEvent) handles[count++] = abortEvent;
    handles[count++] = m_rampCancelEvent.Get();
    handles[count++] = m_closedEvent.Get();
    // Signalled or failed (a closed abort event) both end the ramp.
    return WaitForMultipleObjects(count, handles, FALSE, milliseconds) != WAIT_TIMEOUT;
}

void CAgilentE3633A::ReportProgress(const RampRun& run, double percent) {
    if (run.progress) run.progress(percent);
}

void CAgilentE3633A::EndRamp(const RampRun& run, bool completed) {
    // Not running any more before anyone can hear of the end, so a start
    // that follows the completion at once is not refused.
    m_bRampRunning.store(false);
    if (completed && run.completeEvent) SetEvent(run.completeEvent);
    if (run.endedEvent) SetEvent(run.endedEvent);
}

void CAgilentE3633A::AbortRamp(const RampRun& run, const wchar_t* message) {
    m_bRampRunning.store(false);  // as early as possible: a start may be waiting to know
    m_log.Log(Debug, message);
    EndRamp(run, false);
}

void CAgilentE3633A::RunRampUp(const RampRun& run) {
    const int intervalMs = run.seconds * 1000 / kRampUpSteps;
    SetVoltage(run.voltage, 1, nullptr);
    SetCurrent(0.0, 1, nullptr);
    m_bIsRampedUp.store(0);
    ReportProgress(run, 0.0);
    SetOutput(AgilentOutput_On, 1, nullptr);

    double level = 0.0;
    psudll::CStepClock clock(intervalMs);
    clock.Start();
    bool aborted = WaitForStep(clock.RemainingMs(1), run.abortEvent);
    for (int step = 1; step <= kRampUpSteps && !aborted; ++step) {
        level = step == kRampUpSteps ? run.current : level + (run.current - level) * kRampUpFraction;
        SetCurrent(level, 1, nullptr);
        if (WaitForStep(clock.RemainingMs(step), run.abortEvent)) {
            aborted = true;
            break;
        }
        const double percent = 100.0 * step / kRampUpSteps;
        ReportProgress(run, percent);
        m_log.Log(Debug, L": Ramp-up @ ", psudll::FormatFixedW(percent, 1), L"% done.");
    }
    if (aborted) {
        AbortRamp(run, L": Aborting ramp up!");
        return;
    }
    m_dSettledCurrent.store(run.current);
    m_dSettledVoltage.store(run.voltage);
    m_bIsRampedUp.store(1);
    EndRamp(run, true);
}

void CAgilentE3633A::RunRampDown(const RampRun& run) {
    const int intervalMs = run.seconds * 1000 / kRampDownSteps;
    double current = 0.0, voltage = 0.0;
    // Never send values that were not read: without a reply the ramp starts
    // from what the last completed ramp left commanded.
    if (GetCurrent(&current) != AgilentSuccess) {
        current = m_dSettledCurrent.load();
        m_log.Log(Error, L": Could not read the current setpoint, ramping down from ",
                  psudll::FormatFixedW(current, 3), L"A.");
    }
    if (GetVoltage(&voltage) != AgilentSuccess) {
        voltage = m_dSettledVoltage.load();
        m_log.Log(Error, L": Could not read the voltage setpoint, ramping down from ",
                  psudll::FormatFixedW(voltage, 3), L"V.");
    }
    const double currentStep = current / kRampDownSteps;
    const double voltageStep = voltage / kRampDownSteps;

    ReportProgress(run, 0.0);
    psudll::CStepClock clock(intervalMs);
    clock.Start();
    for (int step = 1; step <= kRampDownSteps; ++step) {
        current -= currentStep;
        voltage -= voltageStep;
        if (step == kRampDownSteps) current = voltage = 0.0;
        SetCurrent(current, 1, nullptr);
        SetVoltage(voltage, 1, nullptr);
        if (WaitForStep(clock.RemainingMs(step), run.abortEvent)) {
            AbortRamp(run, L": Aborting ramp down!");
            return;
        }
        const double percent = 100.0 * step / kRampDownSteps;
        ReportProgress(run, percent);
        m_log.Log(Debug, L": Ramp-down @ ", psudll::FormatFixedW(percent, 1), L"% done.");
    }
    m_dSettledCurrent.store(0.0);
    m_dSettledVoltage.store(0.0);
    m_bIsRampedUp.store(0);
    EndRamp(run, true);
}
