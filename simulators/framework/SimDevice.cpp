// Base of the simulated instruments (see SimDevice.h).
//
// One I/O thread per device serves everything that touches the master: it
// reads commands, runs the protocol table and writes every byte that goes
// out, whether an immediate reply or a send scheduled for later. Scheduled
// sends wait in a list ordered by due time (ties keep their order of
// scheduling) and the thread sleeps in poll until input, a wake-up on the
// eventfd, or the timerfd, armed at the absolute time of the next thing
// due.
//
// In line-rate mode the line is modelled as a UART each way: a byte lands
// one byte time after the later of its own due time and the end of the byte
// before it. Every time is computed from those absolute ends, never from
// when the thread happened to wake, so lateness does not add up over a long
// reply.
#include "SimDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <system_error>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace sim {

namespace {

// Input that never forms a command stops growing here; the rest is dropped,
// as a real instrument's buffer would overflow.
constexpr size_t kMaxInput = 64 * 1024;

void DrainEventFd(int fd) {
    uint64_t value;
    while (::read(fd, &value, sizeof value) > 0) {
    }
}

// steady_clock is CLOCK_MONOTONIC, so its time points are the timerfd's.
timespec ToTimespec(Clock::duration d) {
    if (d < Clock::duration::zero()) d = Clock::duration::zero();
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(d);
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(d - secs);
    return timespec{static_cast<time_t>(secs.count()), static_cast<long>(nanos.count())};
}

// The line terminator a reply ends with, so faults can keep or change it.
std::string TrailingTerminator(const std::string& reply) {
    if (reply.size() >= 2 && reply.compare(reply.size() - 2, 2, "\r\n") == 0) return "\r\n";
    if (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n')) return std::string(1, reply.back());
    return {};
}

// Junk that is a complete line but no reply any instrument here gives: no
// digits, no '!' (the head's notifications), no line ends inside.
std::string Garbled(const std::string& reply) { return "#~%&^" + TrailingTerminator(reply); }

// CR becomes LF, LF becomes CR, CR LF becomes LF CR: the reply no longer
// ends with the terminator the driver waits for.
std::string WithWrongTerminator(const std::string& reply) {
    const std::string terminator = TrailingTerminator(reply);
    const std::string body = reply.substr(0, reply.size() - terminator.size());
    if (terminator == "\r\n") return body + "\n\r";
    if (terminator == "\r") return body + "\n";
    if (terminator == "\n") return body + "\r";
    return reply;
}

}  // namespace

CSimDevice::CSimDevice(const std::filesystem::path& portsFolder, unsigned comNumber,
                       std::string commandTerminator)
    : m_port(portsFolder, comNumber), m_terminator(std::move(commandTerminator)) {
    if (m_terminator.empty()) throw std::invalid_argument("empty command terminator");
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (m_timerFd < 0) {
        const int err = errno;
        ::close(m_wakeFd);
        throw std::system_error(err, std::generic_category(), "timerfd_create");
    }
}

CSimDevice::~CSimDevice() {
    Stop();
    ::close(m_timerFd);
    ::close(m_wakeFd);
}

void CSimDevice::Start() {
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) return;
    m_stop = false;
    m_running = true;
    m_thread = std::thread(&CSimDevice::Run, this);
}

void CSimDevice::Stop() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) return;
        m_stop = true;
    }
    Wake();
    m_thread.join();
    std::lock_guard lock(m_mutex);
    m_thread = std::thread();
    m_pending.clear();
    m_tx.clear();
    m_rx.clear();
}

void CSimDevice::On(const std::string& pattern, Handler handler) {
    Entry entry{std::regex(pattern), std::move(handler)};
    std::lock_guard lock(m_mutex);
    m_table.push_back(std::move(entry));
}

void CSimDevice::SendRaw(const std::string& bytes) { Schedule(Clock::now(), bytes); }

void CSimDevice::SendRawAfter(std::chrono::milliseconds delay, const std::string& bytes) {
    Schedule(Clock::now() + delay, bytes);
}

void CSimDevice::SendRawAt(Clock::time_point due, const std::string& bytes) { Schedule(due, bytes); }

void CSimDevice::InjectFault(const std::string& pattern, Fault fault) {
    ArmedFault armed{std::regex(pattern), pattern, fault};
    std::lock_guard lock(m_mutex);
    m_faults.push_back(std::move(armed));
}

void CSimDevice::ClearFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

std::vector<CSimDevice::ArmedFaultInfo> CSimDevice::ArmedFaults() const {
    std::lock_guard lock(m_mutex);
    std::vector<ArmedFaultInfo> armed;
    for (const auto& fault : m_faults) armed.push_back({fault.text, fault.fault});
    return armed;
}

void CSimDevice::SetLineRate(bool on) {
    {
        std::lock_guard lock(m_mutex);
        m_lineRate = on;
    }
    Wake();
}

bool CSimDevice::LineRate() const {
    std::lock_guard lock(m_mutex);
    return m_lineRate;
}

void CSimDevice::SetTurnaround(std::chrono::microseconds turnaround) {
    std::lock_guard lock(m_mutex);
    m_turnaround = turnaround;
}

std::chrono::microseconds CSimDevice::Turnaround() const {
    std::lock_guard lock(m_mutex);
    return m_turnaround;
}

CSimDevice::Traffic CSimDevice::LineTraffic() const {
    return {m_bytesReceived.load(), m_bytesSent.load(), m_replies.load(),
            std::chrono::nanoseconds(m_maxLateNs.load())};
}

void CSimDevice::ResetTraffic() {
    m_bytesReceived = 0;
    m_bytesSent = 0;
    m_replies = 0;
    m_maxLateNs = 0;
}

void CSimDevice::Vanish() {
    std::unique_lock lock(m_mutex);
    if (!m_running || OnIoThread()) {
        VanishLocked();
        return;
    }
    // The I/O thread polls the master, so only it may close it.
    m_vanishRequested = true;
    lock.unlock();
    Wake();
    lock.lock();
    m_vanishDone.wait(lock, [this] { return m_vanished || !m_running; });
    if (!m_vanished) VanishLocked();
}

void CSimDevice::Reappear() {
    std::unique_lock lock(m_mutex);
    if (!m_running || OnIoThread()) {
        ReappearLocked();
        if (m_reappearError) std::rethrow_exception(std::exchange(m_reappearError, nullptr));
        return;
    }
    // Only the I/O thread may swap the master it polls.
    m_reappearRequested = true;
    lock.unlock();
    Wake();
    lock.lock();
    m_vanishDone.wait(lock, [this] { return !m_reappearRequested || !m_running; });
    if (m_reappearRequested) ReappearLocked();
    if (m_reappearError) std::rethrow_exception(std::exchange(m_reappearError, nullptr));
}

void CSimDevice::ReappearLocked() {
    m_reappearRequested = false;
    if (m_vanished) {
        try {
            m_port.Reopen();
            m_vanished = false;
            // A new line: nothing half-received, nothing still on its way.
            m_input.clear();
            m_txLineFree = m_rxLineFree = Clock::time_point();
        } catch (...) {
            m_reappearError = std::current_exception();
        }
    }
    m_vanishDone.notify_all();
}

bool CSimDevice::Vanished() const {
    std::lock_guard lock(m_mutex);
    return m_vanished;
}

std::vector<ReceivedCommand> CSimDevice::Received() const {
    std::lock_guard lock(m_mutex);
    return m_record;
}

void CSimDevice::ClearReceived() {
    std::lock_guard lock(m_mutex);
    m_record.clear();
}

bool CSimDevice::WaitForCommand(const std::string& pattern, std::chrono::milliseconds limit) {
    const std::regex re(pattern);
    std::unique_lock lock(m_mutex);
    return m_received.wait_for(lock, limit, [&] {
        return std::any_of(m_record.begin(), m_record.end(),
                           [&](const ReceivedCommand& c) { return std::regex_match(c.text, re); });
    });
}

bool CSimDevice::WaitForCount(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    return m_received.wait_for(lock, limit, [&] { return m_record.size() >= count; });
}

std::string CSimDevice::PendingInput() const {
    std::lock_guard lock(m_mutex);
    return m_input;
}

CSimDevice::Reply CSimDevice::Unknown(const std::string&) { return std::nullopt; }

bool CSimDevice::OnIoThread() const { return std::this_thread::get_id() == m_ioThreadId; }

void CSimDevice::VanishLocked() {
    m_port.Vanish();
    m_vanished = true;
    m_vanishRequested = false;
    m_pending.clear();
    m_tx.clear();
    m_txBlocked = false;
    m_rx.clear();
    m_vanishDone.notify_all();
}

void CSimDevice::Wake() {
    const uint64_t one = 1;
    // A full counter already means "wake up"; nothing else can go wrong.
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
}

void CSimDevice::Schedule(Clock::time_point due, std::string bytes) {
    bool wake;
    {
        std::lock_guard lock(m_mutex);
        if (m_vanished || bytes.empty()) return;
        // upper_bound: sends due at the same moment go out in the order
        // they were scheduled.
        const auto at = std::upper_bound(m_pending.begin(), m_pending.end(), due,
                                         [](Clock::time_point t, const Pending& p) { return t < p.due; });
        m_pending.insert(at, Pending{due, std::move(bytes), m_seq++});
        // The I/O thread looks at the list again before it next sleeps.
        wake = !OnIoThread();
    }
    if (wake) Wake();
}

void CSimDevice::Run() {
    {
        std::lock_guard lock(m_mutex);
        m_ioThreadId = std::this_thread::get_id();
    }
    for (;;) {
        std::vector<Pending> due;
        std::optional<Clock::time_point> next;
        bool lineRate;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) break;
            if (m_vanishRequested) VanishLocked();
            if (m_reappearRequested) ReappearLocked();
            lineRate = m_lineRate;
            const auto now = Clock::now();
            auto firstLater = std::find_if(m_pending.begin(), m_pending.end(),
                                           [&](const Pending& p) { return p.due > now; });
            std::move(m_pending.begin(), firstLater, std::back_inserter(due));
            m_pending.erase(m_pending.begin(), firstLater);
            if (!m_pending.empty()) next = m_pending.front().due;
        }
        if (!lineRate) FlushLine();
        for (const auto& pending : due) {
            if (lineRate) {
                QueueOnLine(pending.due, pending.bytes);
            } else {
                WriteAll(pending.bytes);
            }
        }
        if (!due.empty() && !lineRate) continue;  // writing took time; look at the clock again
        if (lineRate) {
            const auto now = Clock::now();
            WriteDueBytes(now);
            // Commands served here may have scheduled replies: look again.
            if (DeliverArrived(now)) continue;
            if (!m_tx.empty() && !m_txBlocked && (!next || m_txNextAt < *next)) next = m_txNextAt;
            if (!m_rx.empty() && (!next || m_rx.front().at < *next)) next = m_rx.front().at;
        }
        ArmTimer(next);

        const short masterEvents = POLLIN | (m_txBlocked ? POLLOUT : 0);
        pollfd fds[3] = {{m_port.MasterFd(), masterEvents, 0}, {m_wakeFd, POLLIN, 0}, {m_timerFd, POLLIN, 0}};
        const int ready = ::poll(fds, 3, -1);
        if (ready < 0) continue;  // EINTR
        if (fds[1].revents & POLLIN) DrainEventFd(m_wakeFd);
        if (fds[2].revents & POLLIN) DrainEventFd(m_timerFd);
        if (fds[0].revents & POLLOUT) m_txBlocked = false;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) ReadInput(lineRate);
    }
    std::lock_guard lock(m_mutex);
    m_running = false;
    m_ioThreadId = std::thread::id();
    m_vanishDone.notify_all();
}

void CSimDevice::ArmTimer(std::optional<Clock::time_point> at) {
    itimerspec spec{};
    if (at) {
        spec.it_value = ToTimespec(at->time_since_epoch());
        // All zero would disarm the timer instead of firing at once.
        if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0) spec.it_value.tv_nsec = 1;
    }
    ::timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &spec, nullptr);
}

std::chrono::nanoseconds CSimDevice::CurrentByteTime() const {
    const auto line = ReadLineSettings(m_port.MasterFd());
    return line ? line->ByteTime() : std::chrono::nanoseconds::zero();
}

void CSimDevice::QueueOnLine(Clock::time_point due, const std::string& bytes) {
    if (bytes.empty() || m_port.Vanished()) return;
    if (m_tx.empty()) {
        // The line was idle: the settings may have changed since its last byte.
        m_txByteTime = CurrentByteTime();
        m_txNextAt = std::max(due, m_txLineFree) + m_txByteTime;
    }
    m_tx.insert(m_tx.end(), bytes.begin(), bytes.end());
}

void CSimDevice::WriteDueBytes(Clock::time_point now) {
    while (!m_tx.empty() && !m_txBlocked && m_txNextAt <= now) {
        // Every byte whose end has passed goes in one write: after a late
        // wake-up the line catches up instead of falling behind for good.
        size_t count = m_tx.size();  // no rate to keep: all at once
        if (m_txByteTime > std::chrono::nanoseconds::zero())
            count = 1 + static_cast<size_t>((now - m_txNextAt) / m_txByteTime);
        char buffer[512];
        count = std::min({count, m_tx.size(), sizeof buffer});
        std::copy_n(m_tx.begin(), count, buffer);
        const ssize_t n = ::write(m_port.MasterFd(), buffer, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_txBlocked = true;  // nobody reads: wait for room
                return;
            }
            m_tx.clear();  // the line is gone: drop
            return;
        }
        const auto written = static_cast<size_t>(n);
        m_bytesSent += written;
        const int64_t late = std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_txNextAt).count();
        if (late > m_maxLateNs.load()) m_maxLateNs = late;
        m_tx.erase(m_tx.begin(), m_tx.begin() + static_cast<long>(written));
        m_txLineFree = m_txNextAt + m_txByteTime * static_cast<long>(written - 1);
        m_txNextAt = m_txLineFree + m_txByteTime;
    }
}

bool CSimDevice::DeliverArrived(Clock::time_point now) {
    std::string bytes;
    Clock::time_point last;
    while (!m_rx.empty() && m_rx.front().at <= now) {
        bytes += m_rx.front().byte;
        last = m_rx.front().at;
        m_rx.pop_front();
    }
    if (bytes.empty()) return false;
    AcceptInput(bytes, last);
    return true;
}

void CSimDevice::FlushLine() {
    if (!m_tx.empty()) {
        const std::string rest(m_tx.begin(), m_tx.end());
        m_tx.clear();
        m_txBlocked = false;
        WriteAll(rest);
    }
    if (!m_rx.empty()) {
        std::string bytes;
        for (const auto& arriving : m_rx) bytes += arriving.byte;
        m_rx.clear();
        AcceptInput(bytes, Clock::now());
    }
}

void CSimDevice::ReadInput(bool lineRate) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_port.MasterFd(), buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // drained (EAGAIN), or nothing more to come
    }
    if (bytes.empty()) return;
    m_bytesReceived += bytes.size();
    const auto now = Clock::now();
    if (!lineRate) {
        AcceptInput(bytes, now);
        return;
    }
    // The host wrote them about now; on the wire they follow one another.
    const auto byteTime = CurrentByteTime();
    auto at = std::max(now, m_rxLineFree);
    for (const char byte : bytes) {
        at += byteTime;
        m_rx.push_back(Arriving{byte, at});
    }
    m_rxLineFree = at;
}

void CSimDevice::AcceptInput(const std::string& bytes, Clock::time_point arrival) {
    std::vector<std::string> commands;
    {
        std::lock_guard lock(m_mutex);
        m_input += bytes;
        size_t start = 0;
        for (size_t end; (end = m_input.find(m_terminator, start)) != std::string::npos;
             start = end + m_terminator.size()) {
            std::string command = m_input.substr(start, std::min(end - start, kMaxInput));
            // A CR-terminated instrument skips the LF of a CR LF line end
            // (another instrument's command sent to the wrong port).
            if (m_terminator.find('\n') == std::string::npos)
                command.erase(0, command.find_first_not_of('\n') == std::string::npos
                                     ? command.size()
                                     : command.find_first_not_of('\n'));
            commands.push_back(std::move(command));
        }
        m_input.erase(0, start);
        if (m_input.size() > kMaxInput) {
            // Keep the last bytes: they may be the start of a terminator
            // whose rest is still on its way.
            const size_t tail = m_terminator.size() - 1;
            m_input.erase(kMaxInput - tail, m_input.size() - kMaxInput);
        }
    }
    m_currentArrival = arrival;
    for (const auto& command : commands) {
        HandleCommand(command);
        if (Vanished()) break;
    }
}

void CSimDevice::HandleCommand(const std::string& command) {
    std::smatch match;
    Handler handler;
    bool matched = false;
    std::optional<Fault> fault;
    bool lineRate = false;
    std::chrono::microseconds turnaround{0};
    {
        std::lock_guard lock(m_mutex);
        m_record.push_back(ReceivedCommand{command, m_currentArrival});
        m_received.notify_all();
        for (const auto& entry : m_table) {
            if (std::regex_match(command, match, entry.pattern)) {
                handler = entry.handler;
                matched = true;
                break;
            }
        }
        for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
            if (it->fault.count == 0 || !std::regex_match(command, it->pattern)) continue;
            fault = it->fault;
            if (it->fault.count > 0 && --it->fault.count == 0) m_faults.erase(it);
            break;
        }
        if (fault && fault->kind == FaultKind::Vanish) {
            VanishLocked();
            return;
        }
        lineRate = m_lineRate;
        turnaround = m_turnaround;
    }

    // The handler runs even when its reply is lost, so the device's state
    // and its later notifications go on as if the command had been served.
    const Reply reply = matched ? handler(match) : Unknown(command);
    if (!reply || reply->empty()) return;
    if (!fault || (fault->kind != FaultKind::NoReply && fault->kind != FaultKind::Vanish)) ++m_replies;

    // On a real line the reply starts its turnaround after the command's
    // last byte, however long serving it took here.
    const auto now = lineRate ? m_currentArrival + turnaround : Clock::now();
    if (!fault) {
        Schedule(now, *reply);
        return;
    }
    switch (fault->kind) {
    case FaultKind::Late:
        Schedule(now + std::chrono::milliseconds(fault->delayMs), *reply);
        break;
    case FaultKind::NoReply:
    case FaultKind::Vanish:
        break;
    case FaultKind::Split:
        for (size_t i = 0; i < reply->size(); ++i)
            Schedule(now + std::chrono::milliseconds(fault->gapMs) * static_cast<long>(i),
                     std::string(1, (*reply)[i]));
        break;
    case FaultKind::Garbage:
        Schedule(now, Garbled(*reply));
        break;
    case FaultKind::WrongTerminator:
        Schedule(now, WithWrongTerminator(*reply));
        break;
    }
}

void CSimDevice::WriteAll(const std::string& bytes) {
    const int fd = m_port.MasterFd();
    size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return;  // the line is gone: drop
        // Nobody is reading and the line's buffer is full: wait for room,
        // but give way to a stop or vanish request.
        pollfd fds[2] = {{fd, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents & POLLIN) {
            DrainEventFd(m_wakeFd);
            std::lock_guard lock(m_mutex);
            if (m_stop || m_vanishRequested) return;
        }
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
    }
}

}  // namespace sim
