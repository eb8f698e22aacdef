// The stop signals through a signalfd.
#include "StopSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <stdexcept>

#include <QSocketNotifier>

namespace quorvexd {

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void CStopSignals::Block() {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

CStopSignals::CStopSignals(QObject* parent) : QObject(parent) {
    const sigset_t set = StopSet();
    m_fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_fd < 0) throw std::runtime_error("cannot watch for stop signals");
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CStopSignals::OnReadable);
}

CStopSignals::~CStopSignals() {
    delete m_notifier;
    if (m_fd >= 0) close(m_fd);
}

void CStopSignals::OnReadable() {
    signalfd_siginfo info{};
    while (read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        emit Stop(static_cast<int>(info.ssi_signo));
}

}  // namespace quorvexd
