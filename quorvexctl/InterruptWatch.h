// Ctrl-C, SIGTERM and SIGHUP as an abort event: the running ramp or transfer sees
// the event the drivers already watch, and the program unwinds through its
// ordinary path, disconnecting every instrument on the way out.
//
// BlockSignals must run on the main thread before any other thread starts,
// so that every thread (the drivers' included) inherits the mask and the
// signals reach only the watch. The watch owns one thread that reads them
// through a signalfd; its destructor ends and joins it. Interrupted and
// AbortEvent are safe from any thread; Rearm is called by the main thread.
#pragma once

#include <platform/OwnedHandle.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvexctl {

class CInterruptWatch {
public:
    static void BlockSignals();

    CInterruptWatch();
    ~CInterruptWatch();
    CInterruptWatch(const CInterruptWatch&) = delete;
    CInterruptWatch& operator=(const CInterruptWatch&) = delete;

    // The current abort event: manual-reset, set by every signal.
    HANDLE AbortEvent() const;
    int Count() const { return m_count.load(); }
    // A descriptor that polls readable from the first signal on (never
    // read), for a wait on input that a signal should end.
    int InterruptedFd() const { return m_interruptedFd; }
    bool Interrupted() const { return Count() > 0; }

    // Makes a fresh, clear abort event the current one, for a clean-up that
    // should run after the first signal (the ramp-down) and still stop on a
    // second. The old event stays set, so a driver thread that has yet to
    // look at it still sees the abort. After a second signal the fresh
    // event starts set.
    void Rearm();

private:
    void Watch();

    mutable std::mutex m_mutex;                 // guards m_events
    std::vector<platform::COwnedHandle> m_events;  // the last is current; all live as long as the watch
    std::atomic<int> m_count{0};
    int m_signalFd = -1;
    int m_stopFd = -1;
    int m_interruptedFd = -1;
    std::thread m_thread;  // last: started once everything it reads exists
};

}  // namespace quorvexctl
