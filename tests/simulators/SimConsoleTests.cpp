// Tests of quorvex-sim's fault commands: the words of --fault and of typed
// lines, a console driving real devices (faults, vanish and return under the
// same COM number, clear), and the program itself with --fault and commands
// on its standard input.
#include "ChildProcess.h"
#include "quorvex-sim/SimConsole.h"
#include "SlaveLine.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using sim::FaultKind;
using simtest::CSlaveLine;
using testsupport::CTempXdg;
using testsupport::kLimit;
using Clock = std::chrono::steady_clock;

TEST(FaultWordsTest, OptionsAndTypedWordsMeanTheSameAndNonsenseIsRefused) {
    const auto late = sim::ParseFaultOption("head:late=800");
    EXPECT_EQ(late.device, "head");
    EXPECT_EQ(late.fault.kind, FaultKind::Late);
    EXPECT_EQ(late.fault.delayMs, 800);
    EXPECT_EQ(late.fault.count, -1) << "every matching command unless told";
    EXPECT_EQ(late.pattern, ".*");

    const auto none = sim::ParseFaultOption(R"(psu:none,count=2,match=MEAS:(CURR|VOLT)\?)");
    EXPECT_EQ(none.fault.kind, FaultKind::NoReply);
    EXPECT_EQ(none.fault.count, 2);
    EXPECT_EQ(none.pattern, R"(MEAS:(CURR|VOLT)\?)");
    // A regex keeps its commas; typed words keep its blanks.
    EXPECT_EQ(sim::ParseFaultOption("counter:split=3,match=a{1,2}").pattern, "a{1,2}");
    EXPECT_EQ(sim::ParseFaultOption("counter:split=3").fault.gapMs, 3);
    EXPECT_EQ(sim::ParseFaultWords("psu", {"garbage", "match=DISP:TEXT", "\"A\""}).pattern, "DISP:TEXT \"A\"");
    EXPECT_EQ(sim::ParseFaultWords("head", {"terminator", "count=all"}).fault.kind, FaultKind::WrongTerminator);
    EXPECT_EQ(sim::ParseFaultWords("head", {"vanish", "count=1"}).fault.count, 1);

    for (const char* bad : {"head", ":none", "head:", "head:slow", "head:late", "head:late=soon", "head:none=3",
                            "head:none,count=0", "head:none,times=2", "head:none,match=("}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(sim::ParseFaultOption(bad), std::invalid_argument);
    }
}

// A device answering "A" with "a\r" and counting the "N" commands it
// served, so a return can be seen to keep the device's state.
class SimConsoleTest : public ::testing::Test {
protected:
    SimConsoleTest() : m_device(m_xdg.PortsFolder(), 1, "\r"), m_console({{"dev", &m_device}}) {
        m_device.On("A", [](const std::smatch&) -> sim::CSimDevice::Reply { return std::string("a\r"); });
        m_device.On("N", [this](const std::smatch&) -> sim::CSimDevice::Reply {
            return std::to_string(++m_served) + "\r";
        });
        m_device.Start();
    }

    CTempXdg m_xdg;
    int m_served = 0;  // I/O thread only
    sim::CSimDevice m_device;
    sim::CSimConsole m_console;
};

TEST_F(SimConsoleTest, ArmsFaultsAnswersWithWhatIsArmedAndClears) {
    CSlaveLine line(m_device.Port().LinkPath());
    EXPECT_EQ(m_console.Execute("status"), "armed: nothing");
    EXPECT_EQ(m_console.Execute("fault dev late=150 count=1"), "armed: dev late=150 (all commands, 1 left)");
    EXPECT_EQ(m_console.Execute("fault dev:none,match=N"),
              "armed: dev late=150 (all commands, 1 left); dev none (match N, every time)");
    const auto sent = Clock::now();
    line.Write("A\r");
    EXPECT_EQ(line.Read(2), "a\r");
    EXPECT_GE(Clock::now() - sent, 150ms);
    EXPECT_EQ(m_console.Execute("status"), "armed: dev none (match N, every time)") << "the late one is used up";
    // "N" gets no answer; the sentinel after it does.
    line.Write("N\rA\r");
    EXPECT_EQ(line.Read(2), "a\r");
    EXPECT_EQ(m_console.Execute("clear dev"), "armed: nothing");
    line.Write("N\r");
    EXPECT_EQ(line.ReadLine("\r"), "2\r") << "the unanswered command was still served";

    for (const char* bad : {"fault", "fault dev", "fault nobody none", "fault dev slow", "vanish", "return a b",
                            "clear a b", "jump"}) {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(m_console.Execute(bad).starts_with("error: "));
    }
    EXPECT_EQ(m_console.Execute("   "), "");
    EXPECT_NE(m_console.Execute("help").find("return DEVICE"), std::string::npos);
}

TEST_F(SimConsoleTest, AVanishedDeviceReturnsUnderTheSameComNumberWithItsState) {
    auto line = std::make_unique<CSlaveLine>(m_device.Port().LinkPath());
    line->Write("N\r");
    ASSERT_EQ(line->ReadLine("\r"), "1\r");
    EXPECT_EQ(m_console.Execute("vanish dev"), "armed: dev vanished");
    EXPECT_TRUE(line->WaitForHangUp());
    EXPECT_EQ(m_console.Execute("return dev"), "armed: nothing");
    EXPECT_EQ(m_console.Execute("return dev"), "armed: nothing") << "returning twice is harmless";
    line = std::make_unique<CSlaveLine>(m_device.Port().LinkPath());
    line->Write("N\r");
    EXPECT_EQ(line->ReadLine("\r"), "2\r");

    // A vanish fault, then a return: the fault is still armed and strikes again.
    EXPECT_EQ(m_console.Execute("fault dev vanish match=A"), "armed: dev vanish (match A, every time)");
    line->Write("A\r");
    EXPECT_TRUE(line->WaitForHangUp());
    EXPECT_EQ(m_console.Execute("status"), "armed: dev vanished; dev vanish (match A, every time)");
    m_console.Execute("return dev");
    line = std::make_unique<CSlaveLine>(m_device.Port().LinkPath());
    line->Write("N\r");
    EXPECT_EQ(line->ReadLine("\r"), "3\r");
}

// quorvex-sim with its standard input on a FIFO the test writes to.
class QuorvexSimProcessTest : public ::testing::Test {
protected:
    QuorvexSimProcessTest() {
        m_fifo = m_xdg.Root() / "stdin";
        if (::mkfifo(m_fifo.c_str(), 0600) != 0) throw std::system_error(errno, std::generic_category(), "mkfifo");
        // Read and write: opening does not wait for the reader, and the
        // reader never sees the end until the test closes it.
        m_input = ::open(m_fifo.c_str(), O_RDWR | O_CLOEXEC);
    }
    ~QuorvexSimProcessTest() override { ::close(m_input); }

    void Start(const std::vector<std::string>& options) {
        std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" < \"" + m_fifo.string() + "\"",
                                         QUORVEX_SIM_PATH, "--ports-folder", m_xdg.PortsFolder().string()};
        argv.insert(argv.end(), options.begin(), options.end());
        m_sim = std::make_unique<testsupport::CChildProcess>(argv);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return m_sim->Out().find("Press Ctrl-C") != std::string::npos; }))
            << m_sim->Err();
    }
    // Types a line and waits for its answer, the next line of output.
    std::string Type(const std::string& line) {
        const size_t before = m_sim->Out().size();
        const std::string typed = line + "\n";
        EXPECT_EQ(::write(m_input, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        std::string answer;
        testsupport::WaitUntil([&] {
            const std::string out = m_sim->Out();
            const auto end = out.find('\n', before);
            if (end == std::string::npos) return false;
            answer = out.substr(before, end - before);
            return true;
        });
        return answer;
    }
    std::filesystem::path Port(int com) const { return m_xdg.PortsFolder() / ("COM" + std::to_string(com)); }

    CTempXdg m_xdg;
    std::filesystem::path m_fifo;
    int m_input = -1;
    std::unique_ptr<testsupport::CChildProcess> m_sim;
};

TEST_F(QuorvexSimProcessTest, FaultsFromTheCommandLineAndFromTypedCommands) {
    Start({"--fault", R"(psu:none,match=\*IDN\?)", "--fault", "head:late=300,count=1"});
    EXPECT_NE(m_sim->Out().find("armed: head late=300 (all commands, 1 left); psu none (match \\*IDN\\?, every time)"),
              std::string::npos)
        << m_sim->Out();
    {
        CSlaveLine psu(Port(2));
        psu.Write("*IDN?\r\nVOLT?\r\n");
        EXPECT_EQ(psu.ReadLine("\r\n"), "+0.00000000E+00\r\n") << "only the sentinel is answered";
    }
    CSlaveLine head(Port(1));
    const auto sent = Clock::now();
    head.Write("P?\r");
    EXPECT_EQ(head.ReadLine("\r"), "0,0\r");
    EXPECT_GE(Clock::now() - sent, 300ms);

    EXPECT_EQ(Type("clear"), "armed: nothing");
    EXPECT_EQ(Type("fault counter garbage count=1"), "armed: counter garbage (all commands, 1 left)");
    EXPECT_EQ(Type("vanish head"), "armed: counter garbage (all commands, 1 left); head vanished");
    EXPECT_TRUE(head.WaitForHangUp());
    EXPECT_EQ(Type("return head"), "armed: counter garbage (all commands, 1 left)");
    CSlaveLine back(Port(1));
    back.Write("P?\r");
    EXPECT_EQ(back.ReadLine("\r"), "0,0\r");
    EXPECT_TRUE(Type("fault head slow").starts_with("error: unknown fault"));

    m_sim->Signal(SIGTERM);
    EXPECT_EQ(m_sim->Wait(), 0);
}

TEST_F(QuorvexSimProcessTest, ABadFaultOptionIsAUsageError) {
    const auto result = testsupport::RunProcess(
        {QUORVEX_SIM_PATH, "--ports-folder", m_xdg.PortsFolder().string(), "--fault", "psu:sometimes"});
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("unknown fault \"sometimes\""), std::string::npos) << result.err;
}

}  // namespace
