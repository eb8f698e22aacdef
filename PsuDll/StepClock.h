// Deadlines of a timed ramp, all measured from one start time so the time
// spent sending each step does not add up. They run on the monotonic clock:
// the wall clock may be stepped while a lamp ramps (a time server, a user
// setting the time), and that must neither stretch nor cut the ramp.
//
// Owned by the one ramp worker that made it; not shared between threads.
#pragma once

#include <platform/win32.h>

#include <chrono>

namespace psudll {

class CStepClock {
public:
    using Clock = std::chrono::steady_clock;
    static_assert(Clock::is_steady, "ramp deadlines need a clock that is never stepped");

    // Starts now; `interval` is the time between two step deadlines.
    explicit CStepClock(std::chrono::milliseconds interval) : m_interval(interval), m_start(Clock::now()) {}

    // Milliseconds left before step `step`'s deadline, truncated towards
    // zero; 0 once it has passed.
    DWORD RemainingMs(int step) const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_start + step * m_interval - Clock::now());
        return left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    }

private:
    std::chrono::milliseconds m_interval;
    Clock::time_point m_start;
};

}  // namespace psudll
