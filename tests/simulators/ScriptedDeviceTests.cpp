// Tests of the scripted device the transport tests use: timed chunks and
// immediate replies, under either command terminator.
#include "ScriptedDevice.h"
#include "SlaveLine.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using simtest::CSlaveLine;
using testsupport::CTempXdg;
using Clock = std::chrono::steady_clock;

TEST(ScriptedDevice, AnswersWithTimedChunksAndImmediateRepliesUnderTheGivenTerminator) {
    CTempXdg xdg;
    sim::CScriptedDevice device(xdg.PortsFolder(), 4);
    device.Script("C1\\?", {{0ms, "12"}, {50ms, "34\r"}, {90ms, "END\r"}});
    device.Script("I\\?", "QUORVEX\r");
    device.Start();
    sim::CScriptedDevice scpi(xdg.PortsFolder(), 5, "\r\n");
    scpi.Script("\\*IDN\\?", "AGILENT,E3633A,0,1.0\n");
    scpi.Start();
    CSlaveLine line(device.Port().LinkPath()), scpiLine(scpi.Port().LinkPath());

    line.Write("I?\r");
    EXPECT_EQ(line.Read(8), "QUORVEX\r");
    scpiLine.Write("*IDN?\r\n");
    EXPECT_EQ(scpiLine.Read(21), "AGILENT,E3633A,0,1.0\n");

    const auto sent = Clock::now();
    line.Write("C1?\r");
    EXPECT_EQ(line.Read(2), "12");
    EXPECT_EQ(line.Read(3), "34\r");
    EXPECT_GE(Clock::now() - sent, 50ms);
    EXPECT_EQ(line.Read(4), "END\r");
    EXPECT_GE(Clock::now() - sent, 90ms);

    // Every matching command is answered, not just the first.
    line.Write("C1?\r");
    EXPECT_EQ(line.Read(9), "1234\rEND\r");
}

}  // namespace
