// The driver's end of a simulated line for tests (see SlaveLine.h).
#include "SlaveLine.h"

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace simtest {

using Clock = std::chrono::steady_clock;

namespace {
int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}
}  // namespace

CSlaveLine::CSlaveLine(const std::filesystem::path& port) {
    m_fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) throw std::system_error(errno, std::generic_category(), "open " + port.string());
    termios tio{};
    ::tcgetattr(m_fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_fd, TCSANOW, &tio);
}

CSlaveLine::~CSlaveLine() {
    if (m_fd >= 0) ::close(m_fd);
}

void CSlaveLine::Write(std::string_view bytes) {
    const auto deadline = Clock::now() + testsupport::kLimit;
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "write");
        pollfd p{m_fd, POLLOUT, 0};
        if (::poll(&p, 1, RemainingMs(deadline)) == 0) throw std::runtime_error("write timed out");
    }
}

std::string CSlaveLine::ReadUntil(size_t count, std::string_view terminator,
                                  std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    std::string bytes;
    for (char byte; bytes.size() < count && (terminator.empty() || !bytes.ends_with(terminator));) {
        const ssize_t n = ::read(m_fd, &byte, 1);
        if (n == 1) {
            bytes += byte;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready == 0 || (ready > 0 && !(p.revents & POLLIN) && (p.revents & (POLLHUP | POLLERR)))) break;
    }
    return bytes;
}

bool CSlaveLine::WaitForHangUp(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready == 0) return false;
        if (ready < 0) continue;
        if (p.revents & (POLLHUP | POLLERR)) return true;
        char byte;
        const ssize_t n = ::read(m_fd, &byte, 1);
        if (n == 0 || (n < 0 && errno == EIO)) return true;
        // Bytes still in flight before the hang-up are skipped.
    }
}

}  // namespace simtest
