// The serial device layer over real pseudo-terminals made here with
// posix_openpt, linked as COMn in a private XDG config folder.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "Termios2Probe.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

long long ElapsedMs(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A pseudo-terminal pair: the test plays the instrument on the master side.
class Pty {
public:
    Pty() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) return;
        char name[128];
        if (ptsname_r(m_master, name, sizeof name) != 0) return;
        m_slave = name;
        termios tio;
        tcgetattr(m_master, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_master, TCSANOW, &tio);
    }
    ~Pty() { CloseMaster(); }
    bool Ok() const { return m_master >= 0 && !m_slave.empty(); }
    int Master() const { return m_master; }
    const std::string& Slave() const { return m_slave; }
    void CloseMaster() {
        if (m_master >= 0) close(m_master);
        m_master = -1;
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Reads until `count` bytes arrived or the limit passed.
    std::string Receive(size_t count, std::chrono::milliseconds limit = testsupport::kLimit) const {
        std::string got;
        const auto deadline = Clock::now() + limit;
        while (got.size() < count && Clock::now() < deadline) {
            pollfd fd{m_master, POLLIN, 0};
            if (poll(&fd, 1, 50) <= 0) continue;
            char buffer[4096];
            const ssize_t n = read(m_master, buffer, sizeof buffer);
            if (n > 0) got.append(buffer, n);
        }
        return got;
    }

private:
    int m_master = -1;
    std::string m_slave;
};

class SerialTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.Ok());
        fs::create_directories(m_xdg.PortsFolder());
        Link(kPort, m_pty.Slave());
    }
    void TearDown() override {
        if (m_port) CloseHandle(m_port);
    }
    void Link(UINT port, const std::string& target) {
        fs::create_symlink(target, m_xdg.PortsFolder() / ("COM" + std::to_string(port)));
    }
    void OpenAndConfigure() {
        m_port = Serial_Open(kPort);
        ASSERT_NE(m_port, nullptr) << GetLastError();
        ASSERT_TRUE(Serial_Configure(m_port, 9600, NOPARITY, 8, ONESTOPBIT, SERIAL_FLOW_NONE))
            << GetLastError();
    }
    std::string ReadAll(size_t count) {
        std::string got;
        const auto deadline = Clock::now() + testsupport::kLimit;
        while (got.size() < count && Clock::now() < deadline) {
            if (Serial_Wait(m_port, 0, nullptr, 100) != WAIT_OBJECT_0) continue;
            char buffer[256];
            DWORD n = 0;
            if (!Serial_Read(m_port, buffer, sizeof buffer, &n)) break;
            got.append(buffer, n);
        }
        return got;
    }

    static constexpr UINT kPort = 57;
    testsupport::CTempXdg m_xdg;
    Pty m_pty;
    HANDLE m_port = nullptr;
};

// ---- Port names ---------------------------------------------------------------

TEST_F(SerialTest, ConfigFolderLinkResolves) {
    char path[4096];
    ASSERT_TRUE(Serial_ResolvePort(kPort, path, sizeof path));
    EXPECT_EQ(fs::path(path), m_xdg.PortsFolder() / "COM57");
    EXPECT_TRUE(Serial_PortExists(kPort));
}

TEST_F(SerialTest, ConfigFolderLinkWinsOverTtyS) {
    if (!fs::exists("/dev/ttyS0")) GTEST_SKIP() << "no /dev/ttyS0 here";
    char path[4096];
    ASSERT_TRUE(Serial_ResolvePort(1, path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyS0");
    Link(1, m_pty.Slave());
    ASSERT_TRUE(Serial_ResolvePort(1, path, sizeof path));
    EXPECT_EQ(fs::path(path), m_xdg.PortsFolder() / "COM1");
}

TEST_F(SerialTest, MissingPortIsFileNotFound) {
    const UINT port = 250;  // /dev/ttyS249 does not exist
    ASSERT_FALSE(fs::exists("/dev/ttyS249"));
    char path[4096] = "x";
    SetLastError(0);
    EXPECT_FALSE(Serial_ResolvePort(port, path, sizeof path));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(fs::path(path), m_xdg.PortsFolder() / "COM250");  // still filled in
    EXPECT_FALSE(Serial_PortExists(port));
    SetLastError(0);
    EXPECT_EQ(Serial_Open(port), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(SerialTest, DanglingLinkDoesNotCount) {
    Link(249, (m_xdg.Root() / "nothing-here").string());
    EXPECT_FALSE(Serial_PortExists(249));
    SetLastError(0);
    EXPECT_EQ(Serial_Open(249), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(SerialTest, PathThatDoesNotFitIsInsufficientBuffer) {
    char path[8];
    SetLastError(0);
    EXPECT_FALSE(Serial_ResolvePort(kPort, path, sizeof path));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(SerialTest, XdgConfigHomeIsReadAtEveryCallAndDefaultsToHomeConfig) {
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    const fs::path home = m_xdg.Root() / "home";
    fs::create_directories(home / ".config" / "Vandrel Scientific Ltd" / "ports");
    fs::create_symlink(m_pty.Slave(), home / ".config" / "Vandrel Scientific Ltd" / "ports" / "COM58");
    setenv("HOME", home.c_str(), 1);
    char path[4096];
    EXPECT_FALSE(Serial_PortExists(58));
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_TRUE(Serial_ResolvePort(58, path, sizeof path));
    EXPECT_EQ(fs::path(path), home / ".config" / "Vandrel Scientific Ltd" / "ports" / "COM58");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(Serial_PortExists(58));
    EXPECT_FALSE(Serial_PortExists(kPort));
    if (oldHome) setenv("HOME", savedHome.c_str(), 1); else unsetenv("HOME");
    setenv("XDG_CONFIG_HOME", m_xdg.ConfigHome().c_str(), 1);
    EXPECT_TRUE(Serial_PortExists(kPort));
}

// ---- Opening --------------------------------------------------------------------

TEST_F(SerialTest, OpenIsExclusiveUntilClosed) {
    HANDLE first = Serial_Open(kPort);
    ASSERT_NE(first, nullptr) << GetLastError();
    SetLastError(0);
    EXPECT_EQ(Serial_Open(kPort), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // Another link to the same device is the same device.
    Link(kPort + 1, m_pty.Slave());
    SetLastError(0);
    EXPECT_EQ(Serial_Open(kPort + 1), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(first));
    HANDLE again = Serial_Open(kPort);
    EXPECT_NE(again, nullptr) << GetLastError();
    CloseHandle(again);
}

TEST_F(SerialTest, OpenIsExclusiveAcrossProcesses) {
    HANDLE first = Serial_Open(kPort);
    ASSERT_NE(first, nullptr) << GetLastError();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE second = Serial_Open(kPort);
        _exit(second == nullptr && GetLastError() == ERROR_ACCESS_DENIED ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    CloseHandle(first);
}

TEST_F(SerialTest, ClosedPortHandleFails) {
    HANDLE port = Serial_Open(kPort);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(CloseHandle(port));
    char buffer[4];
    DWORD n = 0;
    SetLastError(0);
    EXPECT_FALSE(Serial_Read(port, buffer, sizeof buffer, &n));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(Serial_Write(port, "x", 1, &n, 100));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_EQ(Serial_Wait(port, 0, nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(Serial_Configure(port, 9600, 0, 8, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(Serial_Purge(port));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(port));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // An event handle is not a port, and a port is not waitable as an event.
    HANDLE event = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    SetLastError(0);
    EXPECT_FALSE(Serial_Purge(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
}

// ---- Configuration -----------------------------------------------------------------

TEST_F(SerialTest, ConfigureAcceptsEveryValidSettingOnAPty) {
    m_port = Serial_Open(kPort);
    ASSERT_NE(m_port, nullptr);
    for (DWORD baud : {9600u, 115200u, 12345u, 250000u, 31250u, 1u, 3000001u})
        for (int flow = SERIAL_FLOW_NONE; flow <= SERIAL_FLOW_XON_XOFF; ++flow)
            EXPECT_TRUE(Serial_Configure(m_port, baud, flow % 5, 7 + flow % 2, flow % 3, flow))
                << baud << " " << flow << " error " << GetLastError();
}

TEST_F(SerialTest, ConfigureSetsTermios) {
    m_port = Serial_Open(kPort);
    ASSERT_NE(m_port, nullptr);
    // Root may open the slave again despite TIOCEXCL; anyone else cannot look.
    const int look = open(m_pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (look < 0) GTEST_SKIP() << "cannot open the slave a second time (not root)";
    termios tio;

    ASSERT_TRUE(Serial_Configure(m_port, 12345, MARKPARITY, 7, TWOSTOPBITS, SERIAL_FLOW_CTS_RTS));
    ASSERT_EQ(tcgetattr(look, &tio), 0);
    EXPECT_EQ(probe::OutputBaud(look), 12345u);
    // The pty driver itself forces CS8 and clears PARENB; the rest is kept.
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), tcflag_t(PARODD | CMSPAR));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(tio.c_iflag & IXON);

    ASSERT_TRUE(Serial_Configure(m_port, 19200, SPACEPARITY, 8, ONE5STOPBITS, SERIAL_FLOW_XON_XOFF));
    ASSERT_EQ(tcgetattr(look, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));
    EXPECT_EQ(probe::OutputBaud(look), 19200u);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), tcflag_t(CMSPAR));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);  // 1.5 taken as 2
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13);

    ASSERT_TRUE(Serial_Configure(m_port, 9600, ODDPARITY, 8, ONESTOPBIT, SERIAL_FLOW_DSR_DTR));
    ASSERT_EQ(tcgetattr(look, &tio), 0);
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), tcflag_t(PARODD));
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_iflag & IXON);

    ASSERT_TRUE(Serial_Configure(m_port, 4800, EVENPARITY, 8, ONESTOPBIT, SERIAL_FLOW_NONE));
    ASSERT_EQ(tcgetattr(look, &tio), 0);
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), tcflag_t(0));
    EXPECT_EQ(probe::OutputBaud(look), 4800u);
    close(look);
}

TEST_F(SerialTest, ConfigureRejectsValuesOutOfRange) {
    m_port = Serial_Open(kPort);
    ASSERT_NE(m_port, nullptr);
    struct Case {
        DWORD baud;
        int parity, dataBits, stopBits, flow;
    };
    for (const Case& c : {Case{0, 0, 8, 0, 0}, Case{9600, 5, 8, 0, 0}, Case{9600, -1, 8, 0, 0},
                          Case{9600, 0, 6, 0, 0}, Case{9600, 0, 9, 0, 0}, Case{9600, 0, 8, 3, 0},
                          Case{9600, 0, 8, 0, 6}, Case{9600, 0, 8, 0, -1}}) {
        SetLastError(0);
        EXPECT_FALSE(Serial_Configure(m_port, c.baud, c.parity, c.dataBits, c.stopBits, c.flow));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

// ---- Reading, writing, waiting --------------------------------------------------------

TEST_F(SerialTest, WriteReachesTheDevice) {
    OpenAndConfigure();
    DWORD written = 0;
    ASSERT_TRUE(Serial_Write(m_port, "I?\r", 3, &written, 1000)) << GetLastError();
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(m_pty.Receive(3), "I?\r");
    const std::string binary("\x00\x11\x13\xff\r\n", 6);
    ASSERT_TRUE(Serial_Write(m_port, binary.data(), binary.size(), &written, 1000));
    EXPECT_EQ(m_pty.Receive(6), binary);  // raw: nothing translated
}

TEST_F(SerialTest, WaitReportsBytesAndReadGetsThem) {
    OpenAndConfigure();
    HANDLE shutdown = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE write = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    HANDLE events[] = {shutdown, write};
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 50), WAIT_TIMEOUT);
    char buffer[64];
    DWORD n = 99;
    EXPECT_TRUE(Serial_Read(m_port, buffer, sizeof buffer, &n));  // nothing there: 0, no block
    EXPECT_EQ(n, 0u);

    m_pty.Send("QUORVEX\r\n");
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 5000), WAIT_OBJECT_0 + 2);
    std::string got;
    const auto deadline = Clock::now() + 5s;
    while (got.size() < 9 && Clock::now() < deadline) {
        if (Serial_Wait(m_port, 2, events, 100) != WAIT_OBJECT_0 + 2) continue;
        ASSERT_TRUE(Serial_Read(m_port, buffer, sizeof buffer, &n));
        got.append(buffer, n);
    }
    EXPECT_EQ(got, "QUORVEX\r\n");
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_TIMEOUT);

    // Events are checked before the port, in order; auto-reset ones are consumed.
    m_pty.Send("x");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Serial_Wait(m_port, 0, nullptr, 0) == WAIT_OBJECT_0; }));
    SetEvent(write);
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_OBJECT_0 + 1);
    SetEvent(write);
    SetEvent(shutdown);
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_OBJECT_0);
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_OBJECT_0);  // manual reset stays set
    ResetEvent(shutdown);
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_OBJECT_0 + 2);
    CloseHandle(shutdown);
    CloseHandle(write);
}

TEST_F(SerialTest, WaitWakesForAnEventSetByAnotherThread) {
    OpenAndConfigure();
    HANDLE shutdown = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        SetEvent(shutdown);
    });
    const auto start = Clock::now();
    EXPECT_EQ(Serial_Wait(m_port, 1, &shutdown, INFINITE), WAIT_OBJECT_0);
    EXPECT_LT(ElapsedMs(start), 5000);
    setter.join();
    HANDLE bogus = shutdown;
    CloseHandle(shutdown);
    SetLastError(0);
    EXPECT_EQ(Serial_Wait(m_port, 1, &bogus, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SerialTest, ReadsAndWritesFromTwoThreads) {
    OpenAndConfigure();
    const std::string message(20000, 'a');
    std::thread writer([&] {
        DWORD written = 0;
        EXPECT_TRUE(Serial_Write(m_port, message.data(), message.size(), &written, 10000));
        EXPECT_EQ(written, message.size());
    });
    EXPECT_EQ(m_pty.Receive(message.size()), message);
    writer.join();
    std::thread sender([&] { m_pty.Send(std::string(5000, 'b')); });
    EXPECT_EQ(ReadAll(5000), std::string(5000, 'b'));
    sender.join();
}

TEST_F(SerialTest, WriteTimesOutWhenTheDeviceTakesNothing) {
    OpenAndConfigure();
    const std::string big(1 << 20, 'z');  // far more than the pty buffers
    DWORD written = 0;
    const auto start = Clock::now();
    SetLastError(0);
    EXPECT_FALSE(Serial_Write(m_port, big.data(), big.size(), &written, 200));
    EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 200);
    EXPECT_LT(ElapsedMs(start), 5000);
    EXPECT_LT(written, big.size());
    ASSERT_TRUE(Serial_Purge(m_port));
}

TEST_F(SerialTest, DsrFlowControlOnAPtyWritesAtOnce) {
    m_port = Serial_Open(kPort);
    ASSERT_NE(m_port, nullptr);
    ASSERT_TRUE(Serial_Configure(m_port, 9600, NOPARITY, 8, ONESTOPBIT, SERIAL_FLOW_DSR_RTS));
    DWORD written = 0;
    ASSERT_TRUE(Serial_Write(m_port, "V?\n", 3, &written, 1000));  // modem lines read as asserted
    EXPECT_EQ(m_pty.Receive(3), "V?\n");
}

TEST_F(SerialTest, PurgeDiscardsUnreadInput) {
    OpenAndConfigure();
    m_pty.Send("stale");
    ASSERT_EQ(Serial_Wait(m_port, 0, nullptr, 5000), WAIT_OBJECT_0);
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(Serial_Purge(m_port));
    char buffer[16];
    DWORD n = 99;
    EXPECT_TRUE(Serial_Read(m_port, buffer, sizeof buffer, &n));
    EXPECT_EQ(n, 0u);
    m_pty.Send("fresh");
    EXPECT_EQ(ReadAll(5), "fresh");
}

TEST_F(SerialTest, PurgeNeverTakesBackACompletedWrite) {
    // The transport purges before every command; bytes of the previous
    // command that the device has not read yet must still reach it.
    OpenAndConfigure();
    DWORD written = 0;
    ASSERT_TRUE(Serial_Write(m_port, "OUTP ON\n", 8, &written, 1000));
    ASSERT_TRUE(Serial_Purge(m_port));
    ASSERT_TRUE(Serial_Write(m_port, "VOLT 5\n", 7, &written, 1000));
    ASSERT_TRUE(Serial_Purge(m_port));
    EXPECT_EQ(m_pty.Receive(15), "OUTP ON\nVOLT 5\n");
}

TEST_F(SerialTest, VanishedDeviceIsReportedOnceThenLeftOut) {
    OpenAndConfigure();
    HANDLE shutdown = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    m_pty.CloseMaster();
    auto start = Clock::now();
    EXPECT_EQ(Serial_Wait(m_port, 1, &shutdown, 5000), WAIT_OBJECT_0 + 1);  // readable once
    EXPECT_LT(ElapsedMs(start), 4000);
    char buffer[16];
    DWORD n = 99;
    SetLastError(0);
    EXPECT_FALSE(Serial_Read(m_port, buffer, sizeof buffer, &n));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(n, 0u);
    // No spinning: the next wait just times out ...
    start = Clock::now();
    EXPECT_EQ(Serial_Wait(m_port, 1, &shutdown, 200), WAIT_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 200);
    EXPECT_EQ(Serial_Wait(m_port, 0, nullptr, 50), WAIT_TIMEOUT);
    // ... and events still wake it.
    SetEvent(shutdown);
    EXPECT_EQ(Serial_Wait(m_port, 1, &shutdown, 5000), WAIT_OBJECT_0);
    SetLastError(0);
    EXPECT_FALSE(Serial_Read(m_port, buffer, sizeof buffer, &n));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    DWORD written = 0;
    EXPECT_FALSE(Serial_Write(m_port, "x", 1, &written, 100));
    CloseHandle(shutdown);
    EXPECT_TRUE(CloseHandle(m_port));
    m_port = nullptr;
}

TEST_F(SerialTest, VanishedDeviceFoundByReadFirst) {
    OpenAndConfigure();
    m_pty.CloseMaster();
    char buffer[16];
    DWORD n = 0;
    SetLastError(0);
    EXPECT_FALSE(Serial_Read(m_port, buffer, sizeof buffer, &n));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(Serial_Wait(m_port, 0, nullptr, 100), WAIT_TIMEOUT);
}

}  // namespace
