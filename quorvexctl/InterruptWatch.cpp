// Reading SIGINT, SIGTERM and SIGHUP on a thread of their own.
#include "InterruptWatch.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <stdexcept>

namespace quorvexctl {

namespace {

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);  // the terminal closed under a running ramp
    return set;
}

}  // namespace

void CInterruptWatch::BlockSignals() {
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void CInterruptWatch::DieOf(int signal) {
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    // Raised while still blocked, so it is pending when the mask opens and
    // is delivered to this thread before pthread_sigmask returns.
    raise(signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    _exit(128 + signal);  // not reached
}

CInterruptWatch::CInterruptWatch() : m_event(platform::COwnedHandle::NewEvent(true)) {
    const sigset_t set = WatchedSignals();
    m_signalFd = signalfd(-1, &set, SFD_CLOEXEC);
    m_stopFd = eventfd(0, EFD_CLOEXEC);
    m_interruptedFd = eventfd(0, EFD_CLOEXEC);
    if (!m_event || m_signalFd < 0 || m_stopFd < 0 || m_interruptedFd < 0) {
        if (m_signalFd >= 0) close(m_signalFd);
        if (m_stopFd >= 0) close(m_stopFd);
        if (m_interruptedFd >= 0) close(m_interruptedFd);
        throw std::runtime_error("cannot watch for Ctrl-C");
    }
    m_thread = std::thread([this] { Watch(); });
}

CInterruptWatch::~CInterruptWatch() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_stopFd, &one, sizeof one);
    m_thread.join();
    close(m_signalFd);
    close(m_stopFd);
    close(m_interruptedFd);
}

void CInterruptWatch::Watch() {
    pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) continue;  // EINTR
        if (fds[1].revents) return;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (read(m_signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
            int none = 0;
            m_firstSignal.compare_exchange_strong(none, static_cast<int>(info.ssi_signo));
            SetEvent(m_event.Get());
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = write(m_interruptedFd, &one, sizeof one);
        }
    }
}

}  // namespace quorvexctl
