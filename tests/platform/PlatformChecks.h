// Checks shared by the platform tests: a failed call together with the last
// error it left, and time passed on the steady clock. Used on the test's own
// thread: the last error is kept per thread.
#pragma once

#include "platform/win32.h"

#include <gtest/gtest.h>

#include <chrono>

// The last error is cleared first, so a code left by an earlier call cannot
// pass for this one's; a macro keeps the caller's line in the failure.
#define EXPECT_FAILS_WITH(call, failure, error)   \
    do {                                          \
        SetLastError(0);                          \
        EXPECT_EQ((call), (failure));             \
        EXPECT_EQ(GetLastError(), DWORD(error));  \
    } while (0)

namespace platformtest {

using Clock = std::chrono::steady_clock;

inline long long ElapsedMs(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace platformtest
