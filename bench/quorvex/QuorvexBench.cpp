// Speed of the head driver against the simulated head over a
// pseudo-terminal, each next to a bare termios write/poll/read loop of the
// same commands against the same simulated head in the same run:
// - a 1000-pair spectral upload (acknowledged commands), in commands/s;
// - blocking position reads ("P?"), in reads/s.
// The gap between driver and bare loop is the driver's own cost per command
// (events, queueing, log entries at ceiling 0, formatting).
#include "head/HeadSimulator.h"

#include <QuorvexDll/QuorvexDll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kCom = 7;
constexpr int kPairs = 1000;
constexpr int kUploads = 3;
constexpr int kPositionReads = 3000;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of the whole process (driver, simulated head and loop alike), so
// the cost per command can be told apart from waiting on a busy machine.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Rate {
    double perSecond;
    double cpuMicroseconds;  // per command
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bench_quorvex: %s\n", what);
    std::exit(1);
}

// A private XDG_CONFIG_HOME, so the COM link never lands in the user's.
class CTempConfig {
public:
    CTempConfig() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) Fail("mkdtemp failed");
        m_root = pattern;
        setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);
    }
    ~CTempConfig() {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    const std::filesystem::path& Root() const { return m_root; }
    std::filesystem::path Ports() const { return m_root / "Vandrel Scientific Ltd" / "ports"; }

private:
    std::filesystem::path m_root;
};

// A bare write/poll/read loop on the pseudo-terminal: each command is
// written and its one-line reply read before the next.
class CRawLine {
public:
    explicit CRawLine(const std::string& device) : m_fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        if (m_fd < 0) Fail("cannot open the pseudo-terminal");
        termios tio{};
        tcgetattr(m_fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~CRawLine() { ::close(m_fd); }

    void RoundTrip(const std::string& command) {
        const std::string bytes = command + "\r";
        if (::write(m_fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) Fail("raw write failed");
        std::string reply;
        while (reply.find('\r') == std::string::npos) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) Fail("raw loop: no reply");
            char buffer[64];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) reply.append(buffer, static_cast<size_t>(n));
        }
    }

private:
    int m_fd;
};

template <typename Loop>
Rate Measure(double commands, Loop loop) {
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    loop();
    const double elapsed = Seconds(Clock::now() - start);
    return Rate{commands / elapsed, (CpuSeconds() - cpu) * 1e6 / commands};
}

std::vector<std::string> UploadLines() {
    std::vector<std::string> lines{"C0(" + std::to_string(kPairs) + ")"};
    for (int i = 0; i < kPairs; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%.2f,%.3E", 350.0 + 0.8 * i, 1e-6 * (1.0 + i % 97));
        lines.push_back(line);
    }
    return lines;
}

std::filesystem::path WriteSpectralFile(const std::filesystem::path& folder, const std::vector<std::string>& lines) {
    const auto path = folder / "spectrum-1000.txt";
    std::ofstream out(path);
    for (size_t i = 1; i < lines.size(); ++i) out << lines[i] << "\n";
    return path;
}

void Print(const char* name, const Rate& rate) {
    std::printf("  %-26s %10.0f   %10.1f   %14.1f\n", name, rate.perSecond, 1e6 / rate.perSecond,
                rate.cpuMicroseconds);
}

}  // namespace

int main() {
    CTempConfig config;
    sim::CHeadSimulator head(config.Ports(), kCom);
    head.Start();
    const std::vector<std::string> lines = UploadLines();
    const double uploadCommands = static_cast<double>(kUploads) * static_cast<double>(lines.size());

    // The same commands by hand first, then "S?" (the cheapest reply the
    // head gives) for the transport's bare round-trip rate.
    Rate rawUpload, rawStatus, rawPosition;
    {
        CRawLine raw(head.Port().SlavePath());
        rawUpload = Measure(uploadCommands, [&] {
            for (int i = 0; i < kUploads; ++i)
                for (const auto& line : lines) raw.RoundTrip(line);
        });
        constexpr int kStatus = 3000;
        rawStatus = Measure(kStatus, [&] {
            for (int i = 0; i < kStatus; ++i) raw.RoundTrip("S?");
        });
        rawPosition = Measure(kPositionReads, [&] {
            for (int i = 0; i < kPositionReads; ++i) raw.RoundTrip("P?");
        });
    }

    void* handle = nullptr;
    if (Quorvex_Connect(kCom, 115200, 0, 8, 0, 0, &handle, 1, nullptr) != QuorvexSuccess)
        Fail("cannot connect to the simulated head");
    const auto file = WriteSpectralFile(config.Root(), lines);
    head.SetSpectralData({});
    const Rate driver = Measure(uploadCommands, [&] {
        for (int i = 0; i < kUploads; ++i) {
            if (Quorvex_UploadSpectralCalibrationData(handle, file.wstring().c_str(), 1, nullptr, nullptr) !=
                QuorvexSuccess)
                Fail("upload failed to start");
        }
    });
    if (head.SpectralData().size() != static_cast<size_t>(kPairs)) Fail("the head did not receive the table");
    const Rate position = Measure(kPositionReads, [&] {
        int pair[2];
        for (int i = 0; i < kPositionReads; ++i)
            if (Quorvex_GetPosition(handle, pair) != QuorvexSuccess) Fail("position read failed");
    });
    Quorvex_Disconnect(&handle, 1, nullptr);

    std::printf("Spectral upload of %d pairs (%zu commands), %d runs: %.3f s per upload through the driver\n",
                kPairs, lines.size(), kUploads, static_cast<double>(lines.size()) / driver.perSecond);
    std::printf("                             commands/s   us/command   CPU us/command\n");
    Print("driver upload", driver);
    Print("raw termios, same commands", rawUpload);
    Print("raw termios, \"S?\"", rawStatus);
    std::printf("  driver / raw (same commands)  %.2f\n", driver.perSecond / rawUpload.perSecond);
    std::printf("  driver / raw (\"S?\")          %.2f\n", driver.perSecond / rawStatus.perSecond);
    std::printf("  driver overhead per command   %.1f us (%.1f us CPU)\n",
                1e6 / driver.perSecond - 1e6 / rawUpload.perSecond,
                driver.cpuMicroseconds - rawUpload.cpuMicroseconds);
    std::printf("\nBlocking position reads (\"P?\"), %d each\n", kPositionReads);
    std::printf("                             reads/s      us/read      CPU us/read\n");
    Print("Quorvex_GetPosition", position);
    Print("raw termios \"P?\"", rawPosition);
    std::printf("  driver / raw                  %.2f\n", position.perSecond / rawPosition.perSecond);
    return 0;
}
