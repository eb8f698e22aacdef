// What the panel's Qt tests share: the command line each test's own
// application is made with (Qt keeps references to it, so it lives for the
// whole run), and waiting while the event loop runs.
#pragma once

#include <chrono>
#include <functional>

#include <QCoreApplication>

#include "TestSupport.h"

namespace qttest {

inline int g_argc = 1;
inline char g_argv0[] = "panel_tests";
inline char* g_argv[] = {g_argv0, nullptr};

// Runs the event loop (and any dialog it opens) until `condition` holds;
// false when the limit passed first.
inline bool RunUntil(const std::function<bool()>& condition,
                     std::chrono::milliseconds limit = testsupport::kLimit) {
    return testsupport::WaitUntil(
        [&] {
            QCoreApplication::processEvents();
            return condition();
        },
        limit);
}

}  // namespace qttest
