// The lamp ramp run on the ramp dialog's worker.
#include "LampRamp.h"

#include <PsuDll/PsuDll.h>
#include <platform/OwnedHandle.h>

#include <memory>
#include <mutex>

namespace lampramp {

namespace {

// Lets the ramping thread reach the caller's progress callable only while
// Run is still running: an aborted ramp may be just inside a report when Run
// returns, and Close waits for that report to finish.
class CProgressGate {
public:
    explicit CProgressGate(const std::function<void(int)>& progress) : m_progress(&progress) {}
    void Report(int position) {
        std::lock_guard lock(m_mutex);
        if (m_progress && *m_progress) (*m_progress)(position);
    }
    void Close() {
        std::lock_guard lock(m_mutex);
        m_progress = nullptr;
    }

private:
    std::mutex m_mutex;
    const std::function<void(int)>* m_progress;
};

}  // namespace

int Position(double percent, int direction) {
    const int position = static_cast<int>(percent + 0.5);
    return direction == kDown ? 100 - position : position;
}

namespace {

// The ramp itself. The dialog's bar starts at 0 and ends at 100 but runs
// backwards during a ramp-down; without `dialogBar` every report is the
// percent done.
int RunRamp(void* supply, int direction, HANDLE abortEvent,
            const std::function<void(int percent)>& progress, int seconds, double current,
            double voltage, bool dialogBar) {
    const bool up = direction != kDown;
    if (seconds == 0) seconds = up ? kRampUpSeconds : kRampDownSeconds;
    auto gate = std::make_shared<CProgressGate>(progress);
    struct CloseOnExit {
        CProgressGate& gate;
        ~CloseOnExit() { gate.Close(); }
    } closeOnExit{*gate};

    // The driver's callable holds the gate, so the gate outlives any late call.
    AgilentProgressCallback report = [gate, direction, dialogBar](double percent) {
        gate->Report(dialogBar ? Position(percent, direction) : Position(percent, kUp));
    };
    platform::COwnedHandle done = platform::COwnedHandle::NewEvent();
    if (!done) return kRefused;

    gate->Report(0);
    AgilentError started;
    if (up) {
        // Limits first, so the ramp can never drive the lamp past them; a
        // supply that refuses them still refuses or runs the ramp below.
        Agilent_SetVoltageLimit(supply, kVoltageLimit, 1, nullptr);
        Agilent_SetCurrentLimit(supply, kCurrentLimit, 1, nullptr);
        started = Agilent_RampUpReportProgress(supply, current, voltage, seconds,
                                               abortEvent, done.Get(), std::move(report));
    } else {
        started = Agilent_RampDownReportProgress(supply, seconds, abortEvent, done.Get(),
                                                 std::move(report));
    }
    if (started != AgilentSuccess) return kRefused;

    // The abort comes first: a ramp aborted as it completes counts as aborted.
    const HANDLE handles[] = {abortEvent, done.Get()};
    const DWORD ended = abortEvent ? WaitForMultipleObjects(2, handles, FALSE, INFINITE)
                                   : WaitForMultipleObjects(1, handles + 1, FALSE, INFINITE) + 1;
    if (ended != WAIT_OBJECT_0 + 1) return kAborted;
    gate->Report(100);
    return kCompleted;
}

}  // namespace

int Run(void* supply, int direction, HANDLE abortEvent,
        const std::function<void(int position)>& progress, int seconds, double current,
        double voltage) {
    const int result = RunRamp(supply, direction, abortEvent, progress, seconds, current, voltage, true);
    return result == kRefused ? kAborted : result;
}

int RunPercent(void* supply, int direction, HANDLE abortEvent,
               const std::function<void(int percent)>& percentDone, int seconds, double current,
               double voltage) {
    return RunRamp(supply, direction, abortEvent, percentDone, seconds, current, voltage, false);
}

}  // namespace lampramp
