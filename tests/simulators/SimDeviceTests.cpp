// Tests of the simulated-instrument base: command framing, the protocol
// table, the record of arrivals, unsolicited and scheduled sends, and
// starting and stopping the I/O thread.
#include "SimDevice.h"
#include "SlaveLine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using namespace std::chrono_literals;
using simtest::CSlaveLine;
using testsupport::CTempXdg;
using testsupport::kLimit;
using Clock = std::chrono::steady_clock;

// Answers what no table entry knows with "?", as the head unit does.
class CQueryingDevice : public sim::CSimDevice {
public:
    using CSimDevice::CSimDevice;
    ~CQueryingDevice() override { Stop(); }

protected:
    Reply Unknown(const std::string&) override { return std::string("?\r"); }
};

class SimDeviceTest : public ::testing::Test {
protected:
    CTempXdg m_xdg;
};

TEST_F(SimDeviceTest, ProtocolTableRepliesByteExactFirstMatchWinsOnWholeCommands) {
    CQueryingDevice device(m_xdg.PortsFolder(), 1, "\r");
    device.On(R"(P\((\d+),(\d+)\))", [](const std::smatch& m) -> sim::CSimDevice::Reply {
        return "moving " + m[1].str() + "/" + m[2].str() + "\r\n";
    });
    device.On(R"(P.*)", [](const std::smatch&) -> sim::CSimDevice::Reply { return "second\r"; });
    device.On("Q", [](const std::smatch&) -> sim::CSimDevice::Reply { return std::nullopt; });
    device.Start();
    CSlaveLine line(device.Port().LinkPath());

    line.Write("P(2,11)\r");
    EXPECT_EQ(line.Read(13), "moving 2/11\r\n");
    line.Write("P(x)\r");
    EXPECT_EQ(line.Read(7), "second\r");
    // Matching is on the whole command, so a prefix or suffix is unknown.
    line.Write("XP(1,2)\r");
    EXPECT_EQ(line.Read(2), "?\r");
    // A handler may choose not to answer; the next reply comes first.
    line.Write("Q\rZ\r");
    EXPECT_EQ(line.Read(2), "?\r");
}

TEST_F(SimDeviceTest, ReassemblesCommandsSplitAcrossWritesAndSeparatesJoinedOnes) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r\n");
    device.On("MEAS:CURR\\?", [](const std::smatch&) -> sim::CSimDevice::Reply { return "+1.5\n"; });
    device.On("VOLT\\?", [](const std::smatch&) -> sim::CSimDevice::Reply { return "+12\n"; });
    device.Start();
    CSlaveLine line(device.Port().LinkPath());

    line.Write("MEAS:");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return device.PendingInput() == "MEAS:"; }));
    line.Write("CURR?\r");  // a lone CR does not end a command here
    ASSERT_TRUE(testsupport::WaitUntil([&] { return device.PendingInput() == "MEAS:CURR?\r"; }));
    line.Write("\nVOLT?\r\nMEAS:CURR?\r\n");
    EXPECT_EQ(line.Read(14), "+1.5\n+12\n+1.5\n");
    ASSERT_TRUE(device.WaitForCount(3, kLimit));
    const auto received = device.Received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].text, "MEAS:CURR?");
    EXPECT_EQ(received[1].text, "VOLT?");
    EXPECT_EQ(received[2].text, "MEAS:CURR?");
    EXPECT_EQ(device.PendingInput(), "");
}

TEST_F(SimDeviceTest, RecordsCommandsInOrderWithTheirArrivalTimes) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r");
    device.Start();
    CSlaveLine line(device.Port().LinkPath());

    const auto beforeA = Clock::now();
    line.Write("A\r");
    ASSERT_TRUE(device.WaitForCommand("A", kLimit));
    const auto afterA = Clock::now();
    line.Write("B1\r");
    ASSERT_TRUE(device.WaitForCommand(R"(B\d)", kLimit));
    const auto afterB = Clock::now();

    const auto received = device.Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].text, "A");
    EXPECT_EQ(received[1].text, "B1");
    EXPECT_GE(received[0].at, beforeA);
    EXPECT_LE(received[0].at, afterA);
    EXPECT_GE(received[1].at, afterA);
    EXPECT_LE(received[1].at, afterB);

    device.ClearReceived();
    EXPECT_TRUE(device.Received().empty());
    EXPECT_FALSE(device.WaitForCommand("A", 20ms)) << "the record was cleared";
    EXPECT_FALSE(device.WaitForCount(1, 20ms));
}

TEST_F(SimDeviceTest, CapsInputThatNeverEnds) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r\n");
    device.Start();
    CSlaveLine line(device.Port().LinkPath());

    constexpr size_t kCap = 64 * 1024;
    line.Write(std::string(kCap + 5000, 'x'));
    line.Write("\r");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return device.PendingInput().size() == kCap; }))
        << "the last byte, a possible terminator start, is kept within the cap";
    EXPECT_EQ(device.PendingInput().back(), '\r');
    line.Write("\n");
    ASSERT_TRUE(device.WaitForCount(1, kLimit));
    EXPECT_EQ(device.Received()[0].text.size(), kCap - 1);
}

TEST_F(SimDeviceTest, HandlersSendNowAndLaterInOrder) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r");
    // The head's move: acknowledged at once, with a notification when the
    // wheels arrive.
    device.On(R"(P\(\d+,\d+\))", [&device](const std::smatch&) -> sim::CSimDevice::Reply {
        device.SendRawAfter(60ms, "!P:1\r");
        device.SendRaw("1\r");
        return std::nullopt;
    });
    device.On("T", [&device](const std::smatch&) -> sim::CSimDevice::Reply {
        device.SendRaw("first\r");
        return "second\r";
    });
    device.Start();
    CSlaveLine line(device.Port().LinkPath());

    const auto sent = Clock::now();
    line.Write("P(1,2)\r");
    EXPECT_EQ(line.Read(2), "1\r");
    EXPECT_EQ(line.Read(5), "!P:1\r");
    EXPECT_GE(Clock::now() - sent, 60ms);
    line.Write("T\r");
    EXPECT_EQ(line.Read(13), "first\rsecond\r");
}

TEST_F(SimDeviceTest, SendsUnsolicitedBytesNowAndAfterADelay) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r");
    device.Start();
    CSlaveLine line(device.Port().LinkPath());

    const auto sent = Clock::now();
    device.SendRawAfter(80ms, "late\r");
    device.SendRawAfter(40ms, "middle\r");
    device.SendRaw("now\r");
    EXPECT_EQ(line.Read(16), "now\rmiddle\rlate\r");
    EXPECT_GE(Clock::now() - sent, 80ms);
}

TEST_F(SimDeviceTest, BytesSentBeforeTheDriverOpensWaitOnTheLine) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r");
    device.Start();
    device.SendRaw("hello\r");
    // The line holds them whether the write happens before or after the
    // open.
    CSlaveLine line(device.Port().LinkPath());
    EXPECT_EQ(line.Read(6), "hello\r");
}

TEST_F(SimDeviceTest, StopIsIdempotentAndSafeWithoutStart) {
    {
        sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r");
        device.Stop();
        device.Stop();
    }
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r");
    device.On("A", [](const std::smatch&) -> sim::CSimDevice::Reply { return "a\r"; });
    device.Start();
    device.Start();
    device.Stop();
    device.Stop();
    // And it serves again after a restart.
    device.Start();
    CSlaveLine line(device.Port().LinkPath());
    line.Write("A\r");
    EXPECT_EQ(line.Read(2), "a\r");
}

TEST_F(SimDeviceTest, StopReturnsWithSendsStillScheduled) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r");
    device.On("A", [](const std::smatch&) -> sim::CSimDevice::Reply { return "abcdefgh\r"; });
    device.InjectFault("A", sim::Fault{.kind = sim::FaultKind::Split, .gapMs = 60000});
    device.Start();
    CSlaveLine line(device.Port().LinkPath());
    device.SendRawAfter(std::chrono::hours(1), "never\r");
    line.Write("A\r");
    EXPECT_EQ(line.Read(1), "a");
    device.Stop();
}

TEST_F(SimDeviceTest, StopReturnsWhileAWriteWaitsForRoomOnTheLine) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r");
    device.On("A", [](const std::smatch&) -> sim::CSimDevice::Reply { return "a\r"; });
    device.Start();
    // Nobody reads, so the line fills and the write waits for room.
    device.SendRaw(std::string(1 << 20, 'z'));
    device.Stop();
}

TEST_F(SimDeviceTest, DriverMayCloseAndReopenThePort) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r");
    device.On("A", [](const std::smatch&) -> sim::CSimDevice::Reply { return "a\r"; });
    device.Start();
    {
        CSlaveLine line(device.Port().LinkPath());
        line.Write("A\r");
        EXPECT_EQ(line.Read(2), "a\r");
    }
    CSlaveLine line(device.Port().LinkPath());
    line.Write("A\r");
    EXPECT_EQ(line.Read(2), "a\r");
    EXPECT_FALSE(device.Vanished());
}

}  // namespace
