// Command round trips over a pseudo-terminal through CSerialPort, against a
// minimal raw termios write/poll/read loop talking to the same simulated
// device in the same run; then the CPU time the process uses while a port
// is open and idle. The two loops take turns in short rounds and the best
// round of each counts: other work on the machine only ever slows a round
// down, and alternating lets it weigh on both alike.
#include "serial/SerialPort.h"

#include "ScriptedDevice.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kCom = 9;
constexpr int kRounds = 10;
constexpr auto kRun = std::chrono::milliseconds(300);  // one round

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Round trips per second of a bare write/poll/read loop.
double RawRate(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        perror("open");
        std::exit(1);
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    long count = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < kRun) {
        if (::write(fd, "S?\r", 3) != 3) break;
        std::string reply;
        while (reply.find('\r') == std::string::npos) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) {
                std::fprintf(stderr, "raw loop: no reply\n");
                std::exit(1);
            }
            char buf[64];
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) reply.append(buf, static_cast<size_t>(n));
        }
        ++count;
    }
    const double rate = count / Seconds(Clock::now() - start);
    ::close(fd);
    return rate;
}

// Round trips per second through the transport: each command is queued from
// the reply callback of the one before, as a driver's blocking calls would.
double TransportRate(CSerialPort& port) {
    std::mutex mutex;
    std::condition_variable cv;
    long count = 0;
    bool done = false;
    const auto start = Clock::now();
    SerialResponseCallback next = [&](const char*, bool timedOut) {
        std::lock_guard lock(mutex);
        if (timedOut) {
            std::fprintf(stderr, "transport: reply timed out\n");
            std::exit(1);
        }
        ++count;
        if (Clock::now() - start >= kRun) {
            done = true;
            cv.notify_all();
            return;
        }
        port.SendCommand("S?", "\r", 1, 1000, 0, next);
    };
    port.SendCommand("S?", "\r", 1, 1000, 0, next);
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return done; });
    return count / Seconds(Clock::now() - start);
}

}  // namespace

int main() {
    char folder[] = "/tmp/quorvex-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    setenv("XDG_CONFIG_HOME", folder, 1);
    sim::CScriptedDevice device{std::filesystem::path(folder) / "Vandrel Scientific Ltd" / "ports",
                                kCom};
    device.Script("S\\?", "0\r");
    device.Start();

    double raw = RawRate(device.Port().SlavePath());

    CSerialPort port;
    if (port.Open({kCom, 115200, 0, 8, 0, 0}, {}) != CSerialPort::OpenResult::Opened ||
        !port.StartServiceThread()) {
        std::fprintf(stderr, "cannot open COM%u\n", kCom);
        return 1;
    }
    double transport = TransportRate(port);
    for (int round = 1; round < kRounds; ++round) {
        // The loops take turns on the one device: the port lets go of it
        // while the raw loop runs.
        port.Close();
        raw = std::max(raw, RawRate(device.Port().SlavePath()));
        if (port.Open({kCom, 115200, 0, 8, 0, 0}, {}) != CSerialPort::OpenResult::Opened ||
            !port.StartServiceThread()) {
            std::fprintf(stderr, "cannot reopen COM%u\n", kCom);
            return 1;
        }
        transport = std::max(transport, TransportRate(port));
    }

    const double cpuBefore = CpuSeconds();
    const auto idleStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double idleCpu = CpuSeconds() - cpuBefore;
    const double idleWall = Seconds(Clock::now() - idleStart);
    port.Close();
    device.Stop();
    std::filesystem::remove_all(folder);

    std::printf("raw termios loop:      %10.0f round trips/s (best of %d rounds)\n", raw, kRounds);
    std::printf("CSerialPort:           %10.0f round trips/s (best of %d rounds)\n", transport,
                kRounds);
    std::printf("ratio (port / raw):    %10.2f  (aim: at least 0.50)\n", transport / raw);
    std::printf("idle port, %.1f s:      %10.3f ms CPU for the whole process (aim: ~0)\n",
                idleWall, idleCpu * 1000.0);
    return 0;
}
