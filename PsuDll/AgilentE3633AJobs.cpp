// CAgilentE3633A: lamp ramps. A ramp-up of a dark lamp sets the voltage,
// switches the output on at 0 A and raises the current in 50 timed steps
// that flatten towards the target; one of a lit lamp takes the same steps
// from the set points it finds; a ramp-down lowers current and voltage
// together to 0 in 20 timed steps and leaves the output on. Each ramp runs
// on one of the device's workers, at most one per device at a time, and
// ends early on its abort event or when the device closes.
#include "AgilentE3633A.h"

#include "StepClock.h"

#include <serial/ReplyText.h>

#include <climits>
#include <cmath>
#include <utility>

using driver::CPendingReply;
using driver::WaitEnd;
using driverlog::Debug;
using driverlog::Error;

namespace {

constexpr int kRampUpSteps = 50;
constexpr int kRampDownSteps = 20;
// Each ramp-up step closes this fraction of the gap to the target.
constexpr double kRampUpFraction = 0.125;
// Step intervals are computed in 32-bit milliseconds.
constexpr int kMaxRampSeconds = INT_MAX / 1000;
// The E3633A's ratings on its high range: a target above them is a mistake
// the supply would only refuse halfway through the ramp.
constexpr double kMaxAmps = 20.6;
constexpr double kMaxVolts = 20.6;

// NaN fails every comparison, so it is no usable target either.
bool UsableTarget(double value, double rating) { return value > 0.0 && value <= rating; }

}  // namespace

// ---- Starting ---------------------------------------------------------------

AgilentError CAgilentE3633A::RampUp(double current, double voltage, int seconds, HANDLE abortEvent,
                                    bool wait, HANDLE completeEvent,
                                    AgilentProgressCallback progress) {
    Log().Log(Debug, L": Ramping the Agilent to (", replytext::FormatFixedW(voltage, 3), L"V,",
              replytext::FormatFixedW(current, 3), L"A) in ", seconds, L" seconds.");
    if (!UsableTarget(current, kMaxAmps)) {
        Log().Log(Error, L": Invalid ramp-up current value (", replytext::FormatFixedW(current, 3), L").");
        return AgilentErrorInvalidParameter;
    }
    if (!UsableTarget(voltage, kMaxVolts)) {
        Log().Log(Error, L": Invalid ramp-up voltage value (", replytext::FormatFixedW(voltage, 3), L").");
        return AgilentErrorInvalidParameter;
    }
    if (!CheckRampTime(RampKind::Up, seconds)) return AgilentErrorInvalidParameter;
    return LaunchRamp(RampRun{RampKind::Up, current, voltage, seconds, abortEvent, completeEvent,
                              std::move(progress)},
                      wait);
}

AgilentError CAgilentE3633A::RampDown(int seconds, HANDLE abortEvent, bool wait,
                                      HANDLE completeEvent, AgilentProgressCallback progress) {
    Log().Log(Debug, L": Ramping down the Agilent in ", seconds, L" seconds.");
    if (!CheckRampTime(RampKind::Down, seconds)) return AgilentErrorInvalidParameter;
    // A ramp-down reads where it starts from: it has no target.
    return LaunchRamp(RampRun{RampKind::Down, 0.0, 0.0, seconds, abortEvent, completeEvent,
                              std::move(progress)},
                      wait);
}

bool CAgilentE3633A::CheckRampTime(RampKind kind, int seconds) {
    if (seconds > 0 && seconds <= kMaxRampSeconds) return true;
    Log().Log(Error, kind == RampKind::Up ? L": Invalid ramp-up time (" : L": Invalid ramp-down time (",
              seconds, L").");
    return false;
}

bool CAgilentE3633A::RunningRampAborted() const {
    if (!m_hRampAbortEvent) return false;
    // A closed abort event counts as an abort, just as it does for the ramp.
    const DWORD state = WaitForSingleObject(m_hRampAbortEvent, 0);
    return state == WAIT_OBJECT_0 || state == WAIT_FAILED;
}

AgilentError CAgilentE3633A::MakeWayForRamp() {
    if (!m_ramp.Busy()) return AgilentSuccess;
    if (!RunningRampAborted()) {
        Log().Log(Error, L": Ramping thread already running.");
        return AgilentErrorBusy;
    }
    // The old ramp has ended or ends after its current step. Looking at an
    // auto-reset abort event may have taken its signal away from the ramp,
    // so it is told again through our own event.
    SetEvent(m_rampCancelEvent.Get());
    m_ramp.WaitUntilIdle(ClosingEvent());
    ResetEvent(m_rampCancelEvent.Get());
    return AgilentSuccess;
}

AgilentError CAgilentE3633A::LaunchRamp(RampRun run, bool wait) {
    std::unique_lock lock(m_rampMutex);
    if (const AgilentError busy = MakeWayForRamp(); busy != AgilentSuccess) return busy;

    // Completed with whether the ramp ran to its end, once the ramp no
    // longer counts as running, so a start that follows the completion at
    // once is not refused. A blocking start has always ignored the caller's
    // completion event; otherwise it is signalled only for a ramp that ran
    // to its end.
    std::shared_ptr<CPendingReply<bool>> ended;
    if (wait) {
        ended = CPendingReply<bool>::ForWaiter();
        if (!ended->Valid()) return AgilentErrorThreadFailed;
    } else if (const HANDLE complete = run.completeEvent) {
        ended = CPendingReply<bool>::ForCallback([complete](const bool& completed) {
            if (completed) SetEvent(complete);
        });
    }
    m_hRampAbortEvent = run.abortEvent;
    const bool up = run.kind == RampKind::Up;
    const driver::JobStart started =
        StartJob(m_ramp, [this, run = std::move(run)] { return RunRamp(run); }, ended);
    if (started == driver::JobStart::Busy) return AgilentErrorBusy;
    if (started == driver::JobStart::NoThread) {
        Log().Log(Error, up ? L": Failed to create the RampUpThread worker thread."
                            : L": Failed to create the RampDownThread worker thread.");
        return AgilentErrorThreadFailed;
    }
    if (!wait) return AgilentSuccess;

    // Other starts may go on meanwhile; they find this ramp busy.
    lock.unlock();
    const bool completed = Await(*ended) == WaitEnd::Reply && ended->Take();
    return completed ? AgilentSuccess : AgilentErrorAborted;
}

// ---- The ramp worker --------------------------------------------------------

bool CAgilentE3633A::RunRamp(const RampRun& run) {
    const bool completed = run.kind == RampKind::Up ? RunRampUp(run) : RunRampDown(run);
    if (!completed)
        Log().Log(Debug, run.kind == RampKind::Up ? L": Aborting ramp up!" : L": Aborting ramp down!");
    return completed;
}

bool CAgilentE3633A::WaitForStep(DWORD milliseconds, HANDLE abortEvent) {
    HANDLE handles[3];
    DWORD count = 0;
    // Without an abort event the pauses are still kept.
    if (abortEvent) handles[count++] = abortEvent;
    handles[count++] = m_rampCancelEvent.Get();
    handles[count++] = ClosingEvent();
    // Signalled or failed (a closed abort event) both end the ramp.
    return WaitForMultipleObjects(count, handles, FALSE, milliseconds) != WAIT_TIMEOUT;
}

void CAgilentE3633A::ReportProgress(const RampRun& run, double percent, const wchar_t* logText) {
    if (run.progress) run.progress(percent);
    if (logText) Log().Log(Debug, logText, replytext::FormatFixedW(percent, 1), L"% done.");
}

CAgilentE3633A::LampFound CAgilentE3633A::FindLamp(double& current, double& voltage) {
    // The current set point first, so that a dark lamp, the usual start,
    // costs one query.
    if (Read(Reading::CurrentSetPoint, current) != AgilentSuccess) return LampFound::Unknown;
    if (!(current > 0.0)) return LampFound::Dark;
    double output = 0.0;
    if (Read(Reading::OutputState, output) != AgilentSuccess) return LampFound::Unknown;
    if (output == 0.0) return LampFound::Dark;
    if (Read(Reading::VoltageSetPoint, voltage) != AgilentSuccess) return LampFound::Unknown;
    return LampFound::Lit;
}

bool CAgilentE3633A::RunRampUp(const RampRun& run) {
    // A lit lamp set to 0 A at once would take a step that shocks it and can
    // shift its calibration; it is ramped from where it stands instead. A
    // supply that cannot tell is not touched.
    double level = 0.0, voltage = run.voltage;
    const LampFound found = FindLamp(level, voltage);
    m_bIsRampedUp.store(false);
    if (found == LampFound::Unknown) {
        Log().Log(Error, L": Could not read the current setpoint or the output state, not ramping up.");
        return false;
    }
    if (found == LampFound::Dark) {
        level = 0.0;
        Set(SetPoint::Voltage, run.voltage, true, nullptr);
        Set(SetPoint::Current, 0.0, true, nullptr);
        ReportProgress(run, 0.0, nullptr);
        SetOutput(AgilentOutput_On, true, nullptr);
    } else {
        Log().Log(Debug, L": The lamp is lit at (", replytext::FormatFixedW(voltage, 3), L"V,",
                  replytext::FormatFixedW(level, 3), L"A), ramping from there.");
        ReportProgress(run, 0.0, nullptr);
    }
    // The voltage follows the current's curve only when a lit lamp's set
    // point differs from the target; a dark lamp has it set before.
    const bool rampVoltage = found == LampFound::Lit && voltage != run.voltage;

    psudll::CStepClock clock(std::chrono::milliseconds(run.seconds * 1000 / kRampUpSteps));
    if (WaitForStep(clock.RemainingMs(1), run.abortEvent)) return false;
    for (int step = 1; step <= kRampUpSteps; ++step) {
        const bool last = step == kRampUpSteps;
        if (rampVoltage) {
            voltage = last ? run.voltage : voltage + (run.voltage - voltage) * kRampUpFraction;
            Set(SetPoint::Voltage, voltage, true, nullptr);
        }
        level = last ? run.current : level + (run.current - level) * kRampUpFraction;
        Set(SetPoint::Current, level, true, nullptr);
        if (WaitForStep(clock.RemainingMs(step), run.abortEvent)) return false;
        ReportProgress(run, 100.0 * step / kRampUpSteps, L": Ramp-up @ ");
    }
    m_dSettledCurrent.store(run.current);
    m_dSettledVoltage.store(run.voltage);
    m_bIsRampedUp.store(true);
    return true;
}

bool CAgilentE3633A::RunRampDown(const RampRun& run) {
    double current = 0.0, voltage = 0.0;
    // Never send values that were not read: without a reply the ramp starts
    // from what the last completed ramp left commanded.
    if (Read(Reading::CurrentSetPoint, current) != AgilentSuccess) {
        current = m_dSettledCurrent.load();
        Log().Log(Error, L": Could not read the current setpoint, ramping down from ",
                  replytext::FormatFixedW(current, 3), L"A.");
    }
    if (Read(Reading::VoltageSetPoint, voltage) != AgilentSuccess) {
        voltage = m_dSettledVoltage.load();
        Log().Log(Error, L": Could not read the voltage setpoint, ramping down from ",
                  replytext::FormatFixedW(voltage, 3), L"V.");
    }
    const double currentStep = current / kRampDownSteps;
    const double voltageStep = voltage / kRampDownSteps;

    ReportProgress(run, 0.0, nullptr);
    psudll::CStepClock clock(std::chrono::milliseconds(run.seconds * 1000 / kRampDownSteps));
    for (int step = 1; step <= kRampDownSteps; ++step) {
        current -= currentStep;
        voltage -= voltageStep;
        if (step == kRampDownSteps) current = voltage = 0.0;
        Set(SetPoint::Current, current, true, nullptr);
        Set(SetPoint::Voltage, voltage, true, nullptr);
        if (WaitForStep(clock.RemainingMs(step), run.abortEvent)) return false;
        ReportProgress(run, 100.0 * step / kRampDownSteps, L": Ramp-down @ ");
    }
    m_dSettledCurrent.store(0.0);
    m_dSettledVoltage.store(0.0);
    m_bIsRampedUp.store(false);
    return true;
}
