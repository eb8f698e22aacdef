// Tests of the simulated-instrument base: command framing, the protocol
// table, the record of arrivals, unsolicited and scheduled sends, and
// starting and stopping the I/O thread.
#include "SimDevice.h"
#include "SlaveLine.h"

#include <gtest/gtest.h>

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

TEST_F(SimDeviceTest, ReassemblesSplitCommandsSeparatesJoinedOnesRecordsTheirArrivalAndCapsThem) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r\n");
    device.On("MEAS:CURR\\?", [](const std::smatch&) -> sim::CSimDevice::Reply { return "+1.5\n"; });
    device.On("VOLT\\?", [](const std::smatch&) -> sim::CSimDevice::Reply { return "+12\n"; });
    device.Start();
    CSlaveLine line(device.Port().LinkPath());

    line.Write("MEAS:");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return device.PendingInput() == "MEAS:"; }));
    line.Write("CURR?\r");  // a lone CR does not end a command here
    ASSERT_TRUE(testsupport::WaitUntil([&] { return device.PendingInput() == "MEAS:CURR?\r"; }));
    const auto before = Clock::now();
    line.Write("\nVOLT?\r\nMEAS:CURR?\r\n");
    EXPECT_EQ(line.Read(14), "+1.5\n+12\n+1.5\n");
    ASSERT_TRUE(device.WaitForCommand(R"(V\w+\?)", kLimit));
    ASSERT_TRUE(device.WaitForCount(3, kLimit));
    const auto after = Clock::now();
    const auto received = device.Received();
    ASSERT_EQ(received.size(), 3u);
    const char* texts[] = {"MEAS:CURR?", "VOLT?", "MEAS:CURR?"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(received[i].text, texts[i]);
        EXPECT_GE(received[i].at, i ? received[i - 1].at : before) << i;
        EXPECT_LE(received[i].at, after) << i;
    }
    EXPECT_EQ(device.PendingInput(), "");

    device.ClearReceived();
    EXPECT_TRUE(device.Received().empty());
    EXPECT_FALSE(device.WaitForCommand("VOLT\\?", 20ms)) << "the record was cleared";
    EXPECT_FALSE(device.WaitForCount(1, 20ms));

    // A command that never ends is capped.
    constexpr size_t kCap = 64 * 1024;
    line.Write(std::string(kCap + 5000, 'x'));
    line.Write("\r");
    // The x's alone reach the cap first: wait for the CR to be taken in too.
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        const std::string pending = device.PendingInput();
        return pending.size() == kCap && pending.back() == '\r';
    })) << "the last byte, a possible terminator start, is kept within the cap";
    line.Write("\n");
    ASSERT_TRUE(device.WaitForCount(1, kLimit));
    EXPECT_EQ(device.Received()[0].text.size(), kCap - 1);
}

TEST_F(SimDeviceTest, TestsAndHandlersSendNowAndLaterInOrder) {
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
    device.SendRaw("hello\r");
    // The line holds bytes sent before the driver opens it.
    CSlaveLine line(device.Port().LinkPath());
    EXPECT_EQ(line.Read(6), "hello\r");

    auto sent = Clock::now();
    device.SendRawAfter(80ms, "late\r");
    device.SendRawAfter(40ms, "middle\r");
    device.SendRaw("now\r");
    EXPECT_EQ(line.Read(16), "now\rmiddle\rlate\r");
    EXPECT_GE(Clock::now() - sent, 80ms);

    sent = Clock::now();
    line.Write("P(1,2)\r");
    EXPECT_EQ(line.Read(2), "1\r");
    EXPECT_EQ(line.Read(5), "!P:1\r");
    EXPECT_GE(Clock::now() - sent, 60ms);
    line.Write("T\r");
    EXPECT_EQ(line.Read(13), "first\rsecond\r");
}

TEST_F(SimDeviceTest, StopIsIdempotentAndSafeWithoutStartAndTheDriverMayReopen) {
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
    // And it serves again after a restart, also when the driver closes and
    // reopens the port.
    device.Start();
    for (int open = 0; open < 2; ++open) {
        CSlaveLine line(device.Port().LinkPath());
        line.Write("A\r");
        EXPECT_EQ(line.Read(2), "a\r");
    }
    EXPECT_FALSE(device.Vanished());
}

TEST_F(SimDeviceTest, StopReturnsWithSendsStillScheduledAndAWriteWaitingForRoom) {
    sim::CSimDevice device(m_xdg.PortsFolder(), 1, "\r");
    device.On("A", [](const std::smatch&) -> sim::CSimDevice::Reply { return "abcdefgh\r"; });
    device.InjectFault("A", sim::Fault{.kind = sim::FaultKind::Split, .gapMs = 60000});
    device.Start();
    CSlaveLine line(device.Port().LinkPath());
    device.SendRawAfter(std::chrono::hours(1), "never\r");
    line.Write("A\r");
    EXPECT_EQ(line.Read(1), "a");
    // The split reply's other bytes are a minute apart, so this goes out
    // first; nobody reads on, so the line fills and the write waits for room.
    device.SendRaw(std::string(1 << 20, 'z'));
    EXPECT_EQ(line.Read(1), "z");
    device.Stop();
}

}  // namespace
