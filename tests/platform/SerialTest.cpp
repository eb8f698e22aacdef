// The serial device layer over real pseudo-terminals made here with
// posix_openpt, linked as COMn in a private XDG config folder.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "PlatformChecks.h"
#include "Termios2Probe.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using namespace platformtest;
namespace fs = std::filesystem;

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
    void Open() {
        m_port = Serial_Open(kPort);
        ASSERT_NE(m_port, nullptr) << GetLastError();
    }
    void OpenAndConfigure() {
        ASSERT_NO_FATAL_FAILURE(Open());
        ASSERT_TRUE(Serial_Configure(m_port, 9600, NOPARITY, 8, ONESTOPBIT, SERIAL_FLOW_NONE))
            << GetLastError();
    }
    // A device that is gone fails every read the same way.
    void ExpectReadFindsNoDevice() {
        char buffer[16];
        DWORD n = 99;
        EXPECT_FAILS_WITH(Serial_Read(m_port, buffer, sizeof buffer, &n), FALSE,
                          ERROR_DEVICE_NOT_CONNECTED);
        EXPECT_EQ(n, 0u);
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

TEST_F(SerialTest, PortNamesResolveThroughTheConfigFolderFirst) {
    char path[4096];
    ASSERT_TRUE(Serial_ResolvePort(kPort, path, sizeof path));
    EXPECT_EQ(fs::path(path), m_xdg.PortsFolder() / "COM57");
    EXPECT_TRUE(Serial_PortExists(kPort));
    EXPECT_FAILS_WITH(Serial_ResolvePort(kPort, path, 8), FALSE, ERROR_INSUFFICIENT_BUFFER);
    if (!fs::exists("/dev/ttyS0")) return;  // the rest needs a ttyS0 to be overridden
    ASSERT_TRUE(Serial_ResolvePort(1, path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyS0");
    Link(1, m_pty.Slave());
    ASSERT_TRUE(Serial_ResolvePort(1, path, sizeof path));
    EXPECT_EQ(fs::path(path), m_xdg.PortsFolder() / "COM1");
}

TEST_F(SerialTest, MissingPortOrDanglingLinkIsFileNotFound) {
    ASSERT_FALSE(fs::exists("/dev/ttyS249"));  // COM250 has no device either
    Link(249, (m_xdg.Root() / "nothing-here").string());
    for (UINT port : {250u, 249u}) {
        SCOPED_TRACE(port);
        char path[4096] = "x";
        EXPECT_FAILS_WITH(Serial_ResolvePort(port, path, sizeof path), FALSE, ERROR_FILE_NOT_FOUND);
        // still filled in
        EXPECT_EQ(fs::path(path), m_xdg.PortsFolder() / ("COM" + std::to_string(port)));
        EXPECT_FALSE(Serial_PortExists(port));
        EXPECT_FAILS_WITH(Serial_Open(port), nullptr, ERROR_FILE_NOT_FOUND);
    }
}

TEST_F(SerialTest, XdgConfigHomeIsReadAtEveryCallAndDefaultsToHomeConfig) {
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    const fs::path home = m_xdg.Root() / "home";
    const fs::path ports = home / ".config" / "Vandrel Scientific Ltd" / "ports";
    fs::create_directories(ports);
    fs::create_symlink(m_pty.Slave(), ports / "COM58");
    setenv("HOME", home.c_str(), 1);
    char path[4096];
    EXPECT_FALSE(Serial_PortExists(58));
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_TRUE(Serial_ResolvePort(58, path, sizeof path));
    EXPECT_EQ(fs::path(path), ports / "COM58");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(Serial_PortExists(58));
    EXPECT_FALSE(Serial_PortExists(kPort));
    if (oldHome) setenv("HOME", savedHome.c_str(), 1); else unsetenv("HOME");
    setenv("XDG_CONFIG_HOME", m_xdg.ConfigHome().c_str(), 1);
    EXPECT_TRUE(Serial_PortExists(kPort));
}

// ---- Opening --------------------------------------------------------------------

TEST_F(SerialTest, OpenIsExclusiveAcrossLinksAndProcessesUntilClosed) {
    HANDLE first = Serial_Open(kPort);
    ASSERT_NE(first, nullptr) << GetLastError();
    Link(kPort + 1, m_pty.Slave());  // another link to the same device is the same device
    for (UINT port : {kPort, kPort + 1}) EXPECT_FAILS_WITH(Serial_Open(port), nullptr, ERROR_ACCESS_DENIED);
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
    EXPECT_TRUE(CloseHandle(first));
    Open();
}

TEST_F(SerialTest, NodeThatIsNoTerminalIsRefusedAndLeftUntouched) {
    const fs::path file = m_xdg.Root() / "plain-file";
    std::ofstream(file) << "untouched";
    const fs::path fifo = m_xdg.Root() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        UINT port;
        fs::path target;
    } nodes[] = {{60, file}, {61, "/dev/zero"}, {62, "/dev/null"}, {63, fifo}};
    for (const auto& node : nodes) {
        SCOPED_TRACE(node.target);
        Link(node.port, node.target.string());
        EXPECT_FAILS_WITH(Serial_Open(node.port), nullptr, ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(testsupport::ReadFile(file), "untouched");
    // Nothing is waiting in the FIFO either.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    char byte;
    EXPECT_LE(read(reader, &byte, 1), 0);
    close(reader);
    Open();  // the pty still opens
}

TEST_F(SerialTest, ClosedPortAndWrongKindHandlesFail) {
    HANDLE port = Serial_Open(kPort);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(CloseHandle(port));
    HANDLE event = CreateEvent(nullptr, TRUE, TRUE, nullptr);  // not a port
    OpenAndConfigure();
    char buffer[4];
    DWORD n = 0;
    for (HANDLE bad : {port, event}) {
        SCOPED_TRACE(bad == port ? "closed port" : "event");
        EXPECT_FAILS_WITH(Serial_Read(bad, buffer, sizeof buffer, &n), FALSE, ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(Serial_Write(bad, "x", 1, &n, 100), FALSE, ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(Serial_Wait(bad, 0, nullptr, 0), WAIT_FAILED, ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(Serial_Configure(bad, 9600, 0, 8, 0, 0), FALSE, ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(Serial_Purge(bad), FALSE, ERROR_INVALID_HANDLE);
    }
    EXPECT_FAILS_WITH(CloseHandle(port), FALSE, ERROR_INVALID_HANDLE);  // closed twice
    // A closed handle among a live port's wait handles fails the wait.
    EXPECT_FAILS_WITH(Serial_Wait(m_port, 1, &port, 0), WAIT_FAILED, ERROR_INVALID_HANDLE);
    CloseHandle(event);
}

// ---- Configuration -----------------------------------------------------------------

TEST_F(SerialTest, ConfigureAcceptsEveryValidSettingOnAPtyAndRejectsTheRest) {
    Open();
    for (DWORD baud : {9600u, 115200u, 12345u, 250000u, 31250u, 1u, 3000001u})
        for (int flow = SERIAL_FLOW_NONE; flow <= SERIAL_FLOW_XON_XOFF; ++flow)
            EXPECT_TRUE(Serial_Configure(m_port, baud, flow % 5, 7 + flow % 2, flow % 3, flow))
                << baud << " " << flow << " error " << GetLastError();
    const struct {
        DWORD baud;
        int parity, dataBits, stopBits, flow;
    } rejected[] = {{0, 0, 8, 0, 0},    {9600, 5, 8, 0, 0}, {9600, -1, 8, 0, 0}, {9600, 0, 6, 0, 0},
                    {9600, 0, 9, 0, 0}, {9600, 0, 8, 3, 0}, {9600, 0, 8, 0, 6},  {9600, 0, 8, 0, -1}};
    for (const auto& c : rejected) {
        SCOPED_TRACE(testing::Message() << c.baud << " " << c.parity << " " << c.dataBits << " "
                                        << c.stopBits << " " << c.flow);
        EXPECT_FAILS_WITH(Serial_Configure(m_port, c.baud, c.parity, c.dataBits, c.stopBits, c.flow),
                          FALSE, ERROR_INVALID_PARAMETER);
    }
}

TEST_F(SerialTest, ConfigureSetsTermios) {
    Open();
    // Root may open the slave again despite TIOCEXCL; anyone else cannot look.
    const int look = open(m_pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (look < 0) GTEST_SKIP() << "cannot open the slave a second time (not root)";
    const struct {
        DWORD baud;
        int parity, dataBits, stopBits, flow;
        tcflag_t parityFlags;
        bool twoStops, rtsCts, xonXoff;
    } cases[] = {
        {12345, MARKPARITY, 7, TWOSTOPBITS, SERIAL_FLOW_CTS_RTS, PARODD | CMSPAR, true, true, false},
        {19200, SPACEPARITY, 8, ONE5STOPBITS, SERIAL_FLOW_XON_XOFF, CMSPAR, true, false, true},  // 1.5 as 2
        {9600, ODDPARITY, 8, ONESTOPBIT, SERIAL_FLOW_DSR_DTR, PARODD, false, false, false},
        {4800, EVENPARITY, 8, ONESTOPBIT, SERIAL_FLOW_NONE, 0, false, false, false},
    };
    termios tio;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        ASSERT_TRUE(Serial_Configure(m_port, c.baud, c.parity, c.dataBits, c.stopBits, c.flow));
        ASSERT_EQ(tcgetattr(look, &tio), 0);
        EXPECT_EQ(probe::OutputBaud(look), c.baud);
        // The pty driver itself forces CS8 and clears PARENB; the rest is kept.
        EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
        EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), c.parityFlags);
        EXPECT_EQ(bool(tio.c_cflag & CSTOPB), c.twoStops);
        EXPECT_EQ(bool(tio.c_cflag & CRTSCTS), c.rtsCts);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), c.xonXoff ? tcflag_t(IXON | IXOFF) : 0);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
        EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
        if (c.xonXoff) {
            EXPECT_EQ(tio.c_cc[VSTART], 0x11);
            EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
        }
    }
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B4800));  // a standard rate is also set the classic way
    close(look);
}

// ---- Reading, writing, waiting --------------------------------------------------------

TEST_F(SerialTest, WriteReachesTheDeviceRawAndAtOnceUnderDsrFlowControl) {
    OpenAndConfigure();
    DWORD written = 0;
    const std::string binary("I?\x00\x11\x13\xff\r\n", 8);
    ASSERT_TRUE(Serial_Write(m_port, binary.data(), binary.size(), &written, 1000)) << GetLastError();
    EXPECT_EQ(written, 8u);
    EXPECT_EQ(m_pty.Receive(8), binary);  // raw: nothing translated
    // A pty has no modem lines; they read as asserted, so nothing holds the write.
    ASSERT_TRUE(Serial_Configure(m_port, 9600, NOPARITY, 8, ONESTOPBIT, SERIAL_FLOW_DSR_RTS));
    ASSERT_TRUE(Serial_Write(m_port, "V?\n", 3, &written, 1000));
    EXPECT_EQ(m_pty.Receive(3), "V?\n");
}

TEST_F(SerialTest, WaitReportsEventsInOrderThenBytesAndWakesForAnotherThread) {
    OpenAndConfigure();
    HANDLE shutdown = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE write = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    HANDLE events[] = {shutdown, write};
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 50), WAIT_TIMEOUT);
    m_pty.Send("QUORVEX\r\n");
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 5000), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(ReadAll(9), "QUORVEX\r\n");
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_TIMEOUT);

    // Events are checked before the port, in order; auto-reset ones are consumed.
    m_pty.Send("x");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Serial_Wait(m_port, 0, nullptr, 0) == WAIT_OBJECT_0; }));
    SetEvent(write);
    SetEvent(shutdown);
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_OBJECT_0);
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_OBJECT_0);  // manual reset stays set
    ResetEvent(shutdown);
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(Serial_Wait(m_port, 2, events, 0), WAIT_OBJECT_0 + 2);
    // With nothing left to read, an endless wait ends for an event set elsewhere.
    EXPECT_EQ(ReadAll(1), "x");
    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        SetEvent(shutdown);
    });
    EXPECT_EQ(Serial_Wait(m_port, 2, events, INFINITE), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(shutdown);
    CloseHandle(write);
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
    EXPECT_FAILS_WITH(Serial_Write(m_port, big.data(), big.size(), &written, 200), FALSE,
                      ERROR_SEM_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 200);
    EXPECT_LT(ElapsedMs(start), 5000);
    EXPECT_LT(written, big.size());
    ASSERT_TRUE(Serial_Purge(m_port));
}

TEST_F(SerialTest, PurgeDiscardsUnreadInputButNeverACompletedWrite) {
    OpenAndConfigure();
    m_pty.Send("stale");
    ASSERT_EQ(Serial_Wait(m_port, 0, nullptr, 5000), WAIT_OBJECT_0);
    std::this_thread::sleep_for(20ms);  // lets the rest of "stale" arrive
    ASSERT_TRUE(Serial_Purge(m_port));
    char buffer[16];
    DWORD n = 99;
    EXPECT_TRUE(Serial_Read(m_port, buffer, sizeof buffer, &n));
    EXPECT_EQ(n, 0u);
    m_pty.Send("fresh");
    EXPECT_EQ(ReadAll(5), "fresh");
    // The transport purges before every command; bytes of the previous
    // command that the device has not read yet must still reach it.
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
    EXPECT_EQ(Serial_Wait(m_port, 1, &shutdown, 5000), WAIT_OBJECT_0 + 1);  // readable once
    ExpectReadFindsNoDevice();
    // No spinning: the next wait just times out ...
    const auto start = Clock::now();
    EXPECT_EQ(Serial_Wait(m_port, 1, &shutdown, 200), WAIT_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 200);
    // ... and events still wake it.
    SetEvent(shutdown);
    EXPECT_EQ(Serial_Wait(m_port, 1, &shutdown, 5000), WAIT_OBJECT_0);
    ExpectReadFindsNoDevice();
    DWORD written = 0;
    EXPECT_FALSE(Serial_Write(m_port, "x", 1, &written, 100));
    CloseHandle(shutdown);
    EXPECT_TRUE(CloseHandle(m_port));
    m_port = nullptr;
}

TEST_F(SerialTest, VanishedDeviceFoundByReadFirst) {
    OpenAndConfigure();
    m_pty.CloseMaster();
    ExpectReadFindsNoDevice();
    EXPECT_EQ(Serial_Wait(m_port, 0, nullptr, 100), WAIT_TIMEOUT);
}

}  // namespace
