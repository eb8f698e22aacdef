// Tests of the faults a simulated instrument injects on request: each kind
// seen from the driver's end, their counts, and vanishing at once.
#include "SimDevice.h"
#include "SlaveLine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;
using simtest::CSlaveLine;
using testsupport::CTempXdg;
using testsupport::kLimit;
using Clock = std::chrono::steady_clock;

// A device answering "A" with "a\r", "B" with "b\r" and "L" with a
// two-line reply; "S" is the sentinel whose reply proves that nothing was
// sent before it.
class SimDeviceFaultTest : public ::testing::Test {
protected:
    SimDeviceFaultTest() : m_device(m_xdg.PortsFolder(), 1, "\r") {
        m_device.On("A", [](const std::smatch&) -> sim::CSimDevice::Reply { return "a\r"; });
        m_device.On("B", [](const std::smatch&) -> sim::CSimDevice::Reply { return "b\r"; });
        m_device.On("S", [](const std::smatch&) -> sim::CSimDevice::Reply { return "s\r"; });
        m_device.On("CRLF", [](const std::smatch&) -> sim::CSimDevice::Reply { return "+1.0\r\n"; });
        m_device.On("LF", [](const std::smatch&) -> sim::CSimDevice::Reply { return "+2.0\n"; });
        m_device.On("L", [](const std::smatch&) -> sim::CSimDevice::Reply { return "1,2\r3,4\r"; });
        m_device.Start();
        m_line.emplace(m_device.Port().LinkPath());
    }

    CSlaveLine& Line() { return *m_line; }

    CTempXdg m_xdg;
    sim::CSimDevice m_device;
    std::optional<CSlaveLine> m_line;
};

TEST_F(SimDeviceFaultTest, LateReplyComesNoSoonerThanItsDelay) {
    m_device.InjectFault("A", Fault{.kind = FaultKind::Late, .delayMs = 150});
    const auto sent = Clock::now();
    Line().Write("A\r");
    EXPECT_EQ(Line().Read(2), "a\r");
    EXPECT_GE(Clock::now() - sent, 150ms);
    Line().Write("A\r");
    EXPECT_EQ(Line().Read(2), "a\r") << "the fault was for one command";
}

TEST_F(SimDeviceFaultTest, NoReplySendsNothing) {
    m_device.InjectFault("A", Fault{.kind = FaultKind::NoReply});
    Line().Write("A\rS\r");
    EXPECT_EQ(Line().Read(2), "s\r");
    ASSERT_TRUE(m_device.WaitForCount(2, kLimit));
    EXPECT_EQ(m_device.Received()[0].text, "A") << "the command still arrived";
}

TEST_F(SimDeviceFaultTest, SplitReplyArrivesCompleteByteByByte) {
    m_device.InjectFault("L", Fault{.kind = FaultKind::Split, .gapMs = 20});
    const auto sent = Clock::now();
    Line().Write("L\r");
    EXPECT_EQ(Line().Read(8), "1,2\r3,4\r");
    // Eight bytes, the last seven each a gap after the one before.
    EXPECT_GE(Clock::now() - sent, 7 * 20ms);
}

TEST_F(SimDeviceFaultTest, GarbageIsACompleteLineThatMeansNothing) {
    m_device.InjectFault("A", Fault{.kind = FaultKind::Garbage});
    m_device.InjectFault("CRLF", Fault{.kind = FaultKind::Garbage});
    Line().Write("A\r");
    const std::string garbage = Line().ReadLine("\r");
    ASSERT_FALSE(garbage.empty());
    EXPECT_EQ(garbage.back(), '\r');
    const std::string body = garbage.substr(0, garbage.size() - 1);
    EXPECT_NE(body, "a");
    EXPECT_FALSE(body.empty());
    EXPECT_EQ(body.find_first_of("\r\n!"), std::string::npos);
    EXPECT_EQ(body.find_first_of("0123456789"), std::string::npos);

    Line().Write("CRLF\r");
    const std::string garbageCrLf = Line().ReadLine("\r\n");
    EXPECT_TRUE(garbageCrLf.ends_with("\r\n"));
    EXPECT_EQ(garbageCrLf.substr(0, garbageCrLf.size() - 2).find_first_of("\r\n!0123456789"),
              std::string::npos);
    Line().Write("S\r");
    EXPECT_EQ(Line().Read(2), "s\r") << "nothing else came with the garbage";
}

TEST_F(SimDeviceFaultTest, WrongTerminatorSwapsTheReplysLineEnd) {
    m_device.InjectFault("A|CRLF|LF", Fault{.kind = FaultKind::WrongTerminator, .count = -1});
    Line().Write("A\r");
    EXPECT_EQ(Line().Read(2), "a\n");
    Line().Write("CRLF\r");
    EXPECT_EQ(Line().Read(6), "+1.0\n\r");
    Line().Write("LF\r");
    EXPECT_EQ(Line().Read(5), "+2.0\r");
    Line().Write("S\r");
    EXPECT_EQ(Line().Read(2), "s\r");
}

TEST_F(SimDeviceFaultTest, CountsLimitFaultsAndClearingEndsThem) {
    m_device.InjectFault("A", Fault{.kind = FaultKind::NoReply, .count = 2});
    m_device.InjectFault("B", Fault{.kind = FaultKind::NoReply, .count = -1});
    Line().Write("A\rA\rA\rB\rB\rS\r");
    EXPECT_EQ(Line().Read(4), "a\rs\r");
    m_device.ClearFaults();
    Line().Write("B\r");
    EXPECT_EQ(Line().Read(2), "b\r");
}

TEST_F(SimDeviceFaultTest, FaultsApplyOnlyToWholeMatchingCommands) {
    m_device.InjectFault("B", Fault{.kind = FaultKind::NoReply, .count = -1});
    Line().Write("A\r");
    EXPECT_EQ(Line().Read(2), "a\r");
}

TEST_F(SimDeviceFaultTest, VanishFaultHangsUpInsteadOfAnswering) {
    m_device.InjectFault("A", Fault{.kind = FaultKind::Vanish});
    Line().Write("A\r");
    EXPECT_TRUE(Line().WaitForHangUp());
    EXPECT_TRUE(m_device.Vanished());
    EXPECT_TRUE(std::filesystem::is_symlink(m_device.Port().LinkPath()));
    // Sending to a vanished device is dropped quietly.
    m_device.SendRaw("x\r");
    m_device.SendRawAfter(5ms, "y\r");
    m_device.Stop();
}

TEST_F(SimDeviceFaultTest, VanishFromAnotherThreadHangsUpAtOnce) {
    m_device.SendRawAfter(std::chrono::hours(1), "never\r");
    m_device.Vanish();
    EXPECT_TRUE(m_device.Vanished());
    EXPECT_TRUE(Line().WaitForHangUp());
    m_device.Vanish();
}

TEST(SimDeviceVanish, BeforeStartAndFromAHandler) {
    CTempXdg xdg;
    {
        sim::CSimDevice device(xdg.PortsFolder(), 1, "\r");
        CSlaveLine line(device.Port().LinkPath());
        device.Vanish();
        EXPECT_TRUE(line.WaitForHangUp());
        device.Start();  // nothing left to serve, but harmless
    }
    sim::CSimDevice device(xdg.PortsFolder(), 2, "\r");
    device.On("OFF", [&device](const std::smatch&) -> sim::CSimDevice::Reply {
        device.Vanish();
        return "too late\r";
    });
    device.Start();
    CSlaveLine line(device.Port().LinkPath());
    line.Write("OFF\r");
    EXPECT_TRUE(line.WaitForHangUp());
    EXPECT_TRUE(device.Vanished());
}

}  // namespace
