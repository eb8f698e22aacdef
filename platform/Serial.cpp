// Serial devices on file descriptors and poll (see the end of win32.h).
#include "platform/Handles_p.h"
#include "platform/SerialBaud_p.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace platform::detail {
namespace {

using Clock = std::chrono::steady_clock;

class SerialPort final : public Object {
public:
    SerialPort(int fd, bool pty) : Object(Kind::Serial), fd(fd), pty(pty) {}
    ~SerialPort() override {
        // Closing the descriptor also releases the flock.
        ioctl(fd, TIOCNXCL);
        close(fd);
    }
    const int fd;
    // A pseudo-terminal slave: what is written is delivered to the other
    // side at once, so there is never unsent output to discard.
    const bool pty;
    // The device went away (hang-up seen by a wait, or a read failed).
    std::atomic<bool> gone{false};
    // DSR output flow control: writes wait while DSR is low.
    std::atomic<bool> dsrFlow{false};
};

std::shared_ptr<SerialPort> FindPort(HANDLE handle) {
    return FindAs<SerialPort>(handle, Kind::Serial);
}

std::string ConfigHome() {
    // Read at every call: tests and the simulator change it at run time.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return xdg;
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config";
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
        return std::string(found->pw_dir) + "/.config";
    return "/.config";
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;  // follows links: a dangling link does not count
}

speed_t StandardSpeed(DWORD baud) {
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
    }
}

// DSR as the modem lines report it; a device without modem lines (a
// pseudo-terminal: TIOCMGET fails) counts as asserted.
bool DsrAsserted(int fd) {
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) != 0) return true;
    return (lines & TIOCM_DSR) != 0;
}

// UNIX 98 pseudo-terminal slaves (/dev/pts/N) have majors 136 to 143.
bool IsPtySlave(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    const unsigned major = ::major(info.st_rdev);
    return major >= 136 && major <= 143;
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace
}  // namespace platform::detail

using namespace platform::detail;

extern "C" {

BOOL Serial_ResolvePort(UINT port, char* path, DWORD size) {
    if (!path && size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string linked = ConfigHome() + "/Vandrel Scientific Ltd/ports/COM" + std::to_string(port);
    std::string chosen = linked;
    bool found = Exists(linked);
    if (!found && port >= 1) {
        const std::string device = "/dev/ttyS" + std::to_string(port - 1);
        if (Exists(device)) {
            chosen = device;
            found = true;
        }
    }
    if (chosen.size() + 1 > size) {
        if (size) path[0] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(path, chosen.c_str(), chosen.size() + 1);
    if (!found) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

BOOL Serial_PortExists(UINT port) {
    char path[PATH_MAX];
    const DWORD saved = GetLastError();
    const BOOL exists = Serial_ResolvePort(port, path, sizeof path);
    SetLastError(saved);
    return exists;
}

HANDLE Serial_Open(UINT port) {
    char path[PATH_MAX];
    if (!Serial_ResolvePort(port, path, sizeof path)) return nullptr;
    // Only a terminal is a serial port. Anything else linked as one (a plain
    // file, /dev/zero, a FIFO) is refused before a byte is written to it or
    // a setting fails on it; what is no character device is not even opened.
    struct stat info;
    if (stat(path, &info) != 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    if (!S_ISCHR(info.st_mode)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // ENOENT: gone since it was resolved; EBUSY: TIOCEXCL set by another opener.
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    if (!isatty(fd)) {
        close(fd);
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // flock makes a second open fail in this and other processes, also for
    // root (who is not stopped by TIOCEXCL).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        SetLastError(error == EWOULDBLOCK ? ERROR_ACCESS_DENIED : ErrnoToWin32(error));
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    std::shared_ptr<SerialPort> object;
    try {
        object = std::make_shared<SerialPort>(fd, IsPtySlave(fd));
    } catch (const std::bad_alloc&) {
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return RegisterHandle(std::move(object));
}

BOOL Serial_Configure(HANDLE port, DWORD baud, int parity, int dataBits, int stopBits,
                      int flowControl) {
    auto object = FindPort(port);
    if (!object) return FALSE;
    if (baud == 0 || parity < NOPARITY || parity > SPACEPARITY || (dataBits != 7 && dataBits != 8) ||
        stopBits < ONESTOPBIT || stopBits > TWOSTOPBITS || flowControl < SERIAL_FLOW_NONE ||
        flowControl > SERIAL_FLOW_XON_XOFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int fd = object->fd;
    termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CLOCAL | CREAD | (dataBits == 7 ? CS7 : CS8);
    switch (parity) {
    case ODDPARITY: tio.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: tio.c_cflag |= PARENB; break;
    case MARKPARITY: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (stopBits != ONESTOPBIT) tio.c_cflag |= CSTOPB;  // 1.5 is taken as 2
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    switch (flowControl) {
    case SERIAL_FLOW_CTS_RTS:
    case SERIAL_FLOW_CTS_DTR: tio.c_cflag |= CRTSCTS; break;
    case SERIAL_FLOW_XON_XOFF:
        tio.c_iflag |= IXON | IXOFF;
        tio.c_cc[VSTART] = 0x11;
        tio.c_cc[VSTOP] = 0x13;
        break;
    default: break;  // DSR flow has no termios flag: Serial_Write handles it
    }
    // Non-blocking reads of what is there: EAGAIN when nothing is, so a read
    // of 0 bytes means the line hung up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = StandardSpeed(baud);
    cfsetispeed(&tio, speed == B0 ? B38400 : speed);
    cfsetospeed(&tio, speed == B0 ? B38400 : speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    if (speed == B0) {
        if (const int error = SetCustomBaud(fd, baud)) {
            SetLastErrorFromErrno(error);
            return FALSE;
        }
    }
    object->dsrFlow = flowControl == SERIAL_FLOW_DSR_RTS || flowControl == SERIAL_FLOW_DSR_DTR;
    const int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIS, &dtr);  // fails on pseudo-terminals, which have no modem lines
    return TRUE;
}

BOOL Serial_Purge(HANDLE port) {
    auto object = FindPort(port);
    if (!object) return FALSE;
    // Output flushed on a pty would be bytes the other side has already been
    // given but not yet read: a completed write that is taken back. Only
    // input is discarded there.
    if (tcflush(object->fd, object->pty ? TCIFLUSH : TCIOFLUSH) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL Serial_Write(HANDLE port, const void* data, DWORD length, DWORD* written,
                  DWORD milliseconds) {
    if (written) *written = 0;
    auto object = FindPort(port);
    if (!object) return FALSE;
    if (!data && length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const bool infinite = milliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    const auto* bytes = static_cast<const unsigned char*>(data);
    DWORD done = 0;
    auto timedOut = [&] {
        if (written) *written = done;
        SetLastError(ERROR_SEM_TIMEOUT);
        return FALSE;
    };
    while (done < length) {
        if (object->dsrFlow) {
            // No way to wait for a modem line with a time limit: look every 10 ms.
            while (!DsrAsserted(object->fd)) {
                const int left = infinite ? 10 : MillisecondsLeft(deadline);
                if (left == 0) return timedOut();
                const timespec pause{0, std::min(left, 10) * 1000000L};
                nanosleep(&pause, nullptr);
            }
        }
        const ssize_t n = write(object->fd, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            const int error = errno;
            if (error == EIO || error == ENXIO || error == ENODEV) object->gone = true;
            if (written) *written = done;
            SetLastErrorFromErrno(error);
            return FALSE;
        }
        const int left = infinite ? -1 : MillisecondsLeft(deadline);
        if (left == 0) return timedOut();
        pollfd fd{object->fd, POLLOUT, 0};
        const int ready = poll(&fd, 1, left);
        if (ready < 0 && errno != EINTR) {
            if (written) *written = done;
            SetLastErrorFromErrno(errno);
            return FALSE;
        }
        if (ready > 0 && !(fd.revents & POLLOUT) && (fd.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            object->gone = true;
            if (written) *written = done;
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
    }
    // Like a completed Windows write, the bytes have left before this returns
    // (so a purge before the next command cannot drop them). There is no
    // descriptor to wait on for that: look every millisecond, within the time.
    for (;;) {
        int queued = 0;
        if (ioctl(object->fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
        const int left = infinite ? 1 : MillisecondsLeft(deadline);
        if (left == 0) {
            done = length - std::min<DWORD>(length, static_cast<DWORD>(queued));
            return timedOut();
        }
        const timespec pause{0, 1000000L};
        nanosleep(&pause, nullptr);
    }
    if (written) *written = done;
    return TRUE;
}

DWORD Serial_Wait(HANDLE port, DWORD count, const HANDLE* events, DWORD milliseconds) {
    auto object = FindPort(port);
    if (!object) return WAIT_FAILED;
    if (count > MAXIMUM_WAIT_OBJECTS || (count && !events)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::shared_ptr<Waitable> held[MAXIMUM_WAIT_OBJECTS];
    Waitable* raw[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i) {
        held[i] = FindWaitable(events[i]);
        if (!held[i]) return WAIT_FAILED;
        raw[i] = held[i].get();
    }
    // A device that has gone away was reported once; it is left out now so
    // that a caller never spins on it.
    const int fd = object->gone ? -1 : object->fd;
    short revents = 0;
    const DWORD result = WaitAny(raw, count, fd, POLLIN, &revents, milliseconds);
    if (fd >= 0 && result == WAIT_OBJECT_0 + count && (revents & (POLLHUP | POLLERR | POLLNVAL)))
        object->gone = true;
    return result;
}

BOOL Serial_Read(HANDLE port, void* buffer, DWORD size, DWORD* read) {
    if (read) *read = 0;
    auto object = FindPort(port);
    if (!object) return FALSE;
    if (!read || (!buffer && size)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (size == 0) return TRUE;
    for (;;) {
        const ssize_t n = ::read(object->fd, buffer, size);
        if (n > 0) {
            *read = static_cast<DWORD>(n);
            return TRUE;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && !object->gone) return TRUE;
        if (n == 0 || (n < 0 && (errno == EAGAIN || errno == EIO || errno == ENXIO || errno == ENODEV))) {
            // End of file on a terminal is a hang-up; EIO a vanished device.
            object->gone = true;
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
}

}  // extern "C"
