// Deadlines of a timed ramp, kept in FILETIME units (100 ns, UTC) from one
// start time so the time spent sending each step does not add up.
#pragma once

#include <platform/win32.h>

#include <cstdint>

namespace psudll {

inline uint64_t FileTimeNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value;
    value.u.LowPart = now.dwLowDateTime;
    value.u.HighPart = now.dwHighDateTime;
    return value.QuadPart;
}

class CStepClock {
public:
    // intervalMs: the time between two step deadlines.
    explicit CStepClock(int64_t intervalMs) : m_interval(intervalMs * 10000) {}

    void Start() { m_start = FileTimeNow(); }

    // Milliseconds left before step `step`'s deadline, truncated towards
    // zero; 0 once it has passed.
    DWORD RemainingMs(int step) const {
        const int64_t deadline = static_cast<int64_t>(m_start) + step * m_interval;
        const int64_t left = (deadline - static_cast<int64_t>(FileTimeNow())) / 10000;
        return left > 0 ? static_cast<DWORD>(left) : 0;
    }

private:
    int64_t m_interval;
    uint64_t m_start = 0;
};

}  // namespace psudll
