// Tests of the faults a simulated instrument injects on request: each kind
// seen from the driver's end, their counts, and vanishing at once.
#include "SimDevice.h"
#include "SlaveLine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

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
        for (auto [command, reply] : {std::pair{"A", "a\r"}, std::pair{"B", "b\r"}, std::pair{"S", "s\r"},
                                      std::pair{"CRLF", "+1.0\r\n"}, std::pair{"LF", "+2.0\n"},
                                      std::pair{"L", "1,2\r3,4\r"}})
            m_device.On(command, [text = std::string(reply)](const std::smatch&) -> sim::CSimDevice::Reply {
                return text;
            });
        m_device.Start();
    }

    CTempXdg m_xdg;
    sim::CSimDevice m_device;
    CSlaveLine m_line{m_device.Port().LinkPath()};
};

TEST_F(SimDeviceFaultTest, LateAndSplitRepliesComeNoSoonerThanTheirDelays) {
    m_device.InjectFault("A", Fault{.kind = FaultKind::Late, .delayMs = 150});
    m_device.InjectFault("L", Fault{.kind = FaultKind::Split, .gapMs = 20});
    auto sent = Clock::now();
    m_line.Write("A\r");
    EXPECT_EQ(m_line.Read(2), "a\r");
    EXPECT_GE(Clock::now() - sent, 150ms);
    m_line.Write("A\r");
    EXPECT_EQ(m_line.Read(2), "a\r") << "the fault was for one command";

    sent = Clock::now();
    m_line.Write("L\r");
    EXPECT_EQ(m_line.Read(8), "1,2\r3,4\r");
    // Eight bytes, the last seven each a gap after the one before.
    EXPECT_GE(Clock::now() - sent, 7 * 20ms);
}

TEST_F(SimDeviceFaultTest, GarbageIsACompleteLineThatMeansNothing) {
    m_device.InjectFault("A", Fault{.kind = FaultKind::Garbage});
    m_device.InjectFault("CRLF", Fault{.kind = FaultKind::Garbage});
    // A line with no digits, "!" or line-end inside it cannot pass for a reply.
    const auto expectGarbage = [&](const char* command, const std::string& terminator) {
        m_line.Write(command);
        const std::string garbage = m_line.ReadLine(terminator);
        ASSERT_TRUE(garbage.ends_with(terminator)) << garbage;
        const std::string body = garbage.substr(0, garbage.size() - terminator.size());
        EXPECT_FALSE(body.empty());
        EXPECT_NE(body, "a");
        EXPECT_EQ(body.find_first_of("\r\n!0123456789"), std::string::npos) << body;
    };
    expectGarbage("A\r", "\r");
    expectGarbage("CRLF\r", "\r\n");
    m_line.Write("S\r");
    EXPECT_EQ(m_line.Read(2), "s\r") << "nothing else came with the garbage";
}

TEST_F(SimDeviceFaultTest, WrongTerminatorSwapsTheReplysLineEnd) {
    m_device.InjectFault("A|CRLF|LF", Fault{.kind = FaultKind::WrongTerminator, .count = -1});
    m_line.Write("A\r");
    EXPECT_EQ(m_line.Read(2), "a\n");
    m_line.Write("CRLF\r");
    EXPECT_EQ(m_line.Read(6), "+1.0\n\r");
    m_line.Write("LF\r");
    EXPECT_EQ(m_line.Read(5), "+2.0\r");
    m_line.Write("S\r");
    EXPECT_EQ(m_line.Read(2), "s\r");
}

TEST_F(SimDeviceFaultTest, NoReplySendsNothingCountsLimitFaultsAndClearingEndsThem) {
    m_device.InjectFault("A", Fault{.kind = FaultKind::NoReply, .count = 2});
    m_device.InjectFault("B", Fault{.kind = FaultKind::NoReply, .count = -1});
    // The third "A" and the sentinel, which no fault matches, are answered.
    m_line.Write("A\rA\rA\rB\rB\rS\r");
    EXPECT_EQ(m_line.Read(4), "a\rs\r");
    ASSERT_TRUE(m_device.WaitForCount(6, kLimit));
    EXPECT_EQ(m_device.Received()[0].text, "A") << "the unanswered command still arrived";
    m_device.ClearFaults();
    m_line.Write("B\r");
    EXPECT_EQ(m_line.Read(2), "b\r");
}

TEST(SimDeviceVanish, HangsUpTheLineWhereverItComesFromAndKeepsTheLink) {
    CTempXdg xdg;
    using Device = sim::CSimDevice;
    const struct {
        const char* how;
        bool beforeStart;
        std::function<void(Device&, CSlaveLine&)> vanish;
    } ways[] = {
        {"before the start: nothing left to serve, but harmless", true, [](Device& d, CSlaveLine&) { d.Vanish(); }},
        {"from another thread, at once despite a send scheduled", false,
         [](Device& d, CSlaveLine&) {
             d.SendRawAfter(std::chrono::hours(1), "never\r");
             d.Vanish();
         }},
        {"by a fault instead of answering", false, [](Device&, CSlaveLine& l) { l.Write("A\r"); }},
        {"from a handler", false, [](Device&, CSlaveLine& l) { l.Write("OFF\r"); }}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        Device device(xdg.PortsFolder(), 1, "\r");
        device.On("A", [](const std::smatch&) -> Device::Reply { return "a\r"; });
        device.InjectFault("A", Fault{.kind = FaultKind::Vanish});
        device.On("OFF", [&device](const std::smatch&) -> Device::Reply {
            device.Vanish();
            return "too late\r";
        });
        CSlaveLine line(device.Port().LinkPath());
        if (way.beforeStart) way.vanish(device, line);
        device.Start();
        if (!way.beforeStart) way.vanish(device, line);
        EXPECT_TRUE(line.WaitForHangUp());
        EXPECT_TRUE(device.Vanished());
        EXPECT_TRUE(std::filesystem::is_symlink(device.Port().LinkPath()));
        // Sending to a vanished device is dropped quietly; vanishing twice is harmless.
        device.SendRaw("x\r");
        device.SendRawAfter(5ms, "y\r");
        device.Vanish();
    }
}

}  // namespace
