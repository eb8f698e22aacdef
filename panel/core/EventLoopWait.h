// Waiting on the GUI thread without blocking it: runs the event loop until
// a condition holds or a time limit passes. The tour, the screenshot tool
// and the connect benchmark drive the program this way.
//
// Threads: the calling thread's event loop, normally the GUI thread's. The
// condition may be asked from inside a modal dialog's own event loop (the
// sequences' dialogs run exec() on this thread); the call then returns only
// once that dialog has ended, which lets the condition act on the dialog
// mid-way.
#pragma once

#include <chrono>
#include <functional>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace eventloopwait {

// True when `done` held before `limit` passed; asked every `every`.
inline bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                     std::chrono::milliseconds every = std::chrono::milliseconds(20)) {
    if (done()) return true;
    const QDeadlineTimer deadline(limit);
    QEventLoop loop;
    QTimer poll;
    bool held = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!held && done()) held = true;
        if (held || deadline.hasExpired()) {
            poll.stop();
            loop.quit();
        }
    });
    poll.start(every);
    loop.exec();
    return held;
}

}  // namespace eventloopwait
