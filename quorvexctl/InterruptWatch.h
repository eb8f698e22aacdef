// Ctrl-C, SIGTERM and SIGHUP as an abort event: the running ramp, transfer or
// wait sees the event, and the program unwinds through its ordinary path,
// disconnecting every instrument on the way out; then it dies of the first
// of those signals (DieOf), so that a calling shell or script stops too. A
// ramp-down is never given the event: it runs to its end first.
//
// BlockSignals must run on the main thread before any other thread starts,
// so that every thread (the drivers' included) inherits the mask and the
// signals reach only the watch. The watch owns one thread that reads them
// through a signalfd; its destructor ends and joins it. Interrupted and
// AbortEvent are safe from any thread.
#pragma once

#include <platform/OwnedHandle.h>

#include <atomic>
#include <thread>

namespace quorvexctl {

class CInterruptWatch {
public:
    static void BlockSignals();
    // Puts `signal` back to its default action, unblocks it and raises it:
    // the parent sees the process killed by it. Main thread, with every
    // instrument disconnected and the output flushed.
    [[noreturn]] static void DieOf(int signal);

    CInterruptWatch();
    ~CInterruptWatch();
    CInterruptWatch(const CInterruptWatch&) = delete;
    CInterruptWatch& operator=(const CInterruptWatch&) = delete;

    // The abort event: manual-reset, set by every signal; it lives as long
    // as the watch.
    HANDLE AbortEvent() const { return m_event.Get(); }
    bool Interrupted() const { return FirstSignal() != 0; }
    // The first signal that came, 0 while none did.
    int FirstSignal() const { return m_firstSignal.load(); }
    // A descriptor that polls readable from the first signal on (never
    // read), for a wait on input that a signal should end.
    int InterruptedFd() const { return m_interruptedFd; }

private:
    void Watch();

    platform::COwnedHandle m_event;
    std::atomic<int> m_firstSignal{0};
    int m_signalFd = -1;
    int m_stopFd = -1;
    int m_interruptedFd = -1;
    std::thread m_thread;  // last: started once everything it reads exists
};

}  // namespace quorvexctl
