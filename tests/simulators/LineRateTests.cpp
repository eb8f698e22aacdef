// Tests of line-rate mode: the line's settings read back as the host set
// them, replies that reach the host no sooner than their wire time byte by
// byte, commands that reach the device only once their last byte could
// have, and the turnaround between them.
#include "LineSetter.h"
#include "SimDevice.h"
#include "SlaveLine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

#include <poll.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using simtest::CSlaveLine;
using testsupport::CTempXdg;
using testsupport::kLimit;
using Clock = std::chrono::steady_clock;

TEST(LineSettingsTest, ReadBackAsTheHostSetThemStandardOrNot) {
    CTempXdg xdg;
    sim::CPtyPort port(xdg.PortsFolder(), 1);
    CSlaveLine line(port.LinkPath());
    const struct {
        unsigned baud, dataBits;
        char parity;
        unsigned stopBits, bits;
    } cases[] = {{9600, 8, 'N', 2, 11}, {2400, 8, 'N', 1, 10}, {12345, 8, 'N', 2, 11},
                 // Linux's pty driver keeps only 8 data bits without parity.
                 {19200, 7, 'E', 1, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        simtest::SetLine(line.Fd(), c.baud, c.dataBits, c.parity, c.stopBits);
        // The master's view is the one the device has.
        const auto read = sim::ReadLineSettings(port.MasterFd());
        ASSERT_TRUE(read);
        EXPECT_EQ(read->baud, c.baud);
        EXPECT_EQ(read->BitsPerByte(), c.bits);
    }
    EXPECT_EQ(sim::kLine9600_8N2.ByteTime(), 1'145'833ns);
    EXPECT_EQ(sim::kLine9600_8N2.WireTime(96), 110ms) << "96 bytes of 11 bits at 9600 baud";
}

// Reads `count` bytes one at a time, noting when each came.
std::vector<Clock::time_point> ArrivalTimes(CSlaveLine& line, size_t count, std::string& bytes) {
    std::vector<Clock::time_point> times;
    const auto deadline = Clock::now() + kLimit;
    while (times.size() < count && Clock::now() < deadline) {
        pollfd p{line.Fd(), POLLIN, 0};
        ::poll(&p, 1, 100);
        char buffer[64];
        const ssize_t n = ::read(line.Fd(), buffer, sizeof buffer);
        const auto now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            bytes += buffer[i];
            times.push_back(now);
        }
    }
    return times;
}

class LineRateTest : public ::testing::Test {
protected:
    LineRateTest() : m_device(m_xdg.PortsFolder(), 1, "\r") {
        m_device.On("Q", [this](const std::smatch&) -> sim::CSimDevice::Reply { return m_reply; });
        m_device.On("L+", [](const std::smatch&) -> sim::CSimDevice::Reply { return std::string("ok\r"); });
        m_device.SetTurnaround(3ms);
        m_device.SetLineRate(true);
        m_device.Start();
    }

    CTempXdg m_xdg;
    const std::string m_reply = "0123456789,abcdefghij,0123456789,ABCDEFG\r";  // 41 bytes
    sim::CSimDevice m_device;
    CSlaveLine m_line{m_device.Port().LinkPath()};
};

TEST_F(LineRateTest, EveryByteOfAReplyLandsNoSoonerThanTheLineCarriesIt) {
    for (const auto& [baud, dataBits, parity, stopBits] :
         {std::tuple{9600u, 8u, 'N', 2u}, std::tuple{2400u, 8u, 'N', 1u}}) {
        SCOPED_TRACE(baud);
        simtest::SetLine(m_line.Fd(), baud, dataBits, parity, stopBits);
        const auto byteTime = sim::ReadLineSettings(m_line.Fd())->ByteTime();
        const auto sent = Clock::now();
        m_line.Write("Q\r");
        std::string bytes;
        const auto times = ArrivalTimes(m_line, m_reply.size(), bytes);
        ASSERT_EQ(bytes, m_reply);
        // Two bytes of command, the turnaround, then the reply byte after byte.
        // (Measured from the write: when this thread woke to read says
        // nothing about when a byte was sent.)
        for (size_t i = 0; i < times.size(); ++i)
            ASSERT_GE(times[i] - sent, 3ms + byteTime * static_cast<long>(2 + i + 1)) << "byte " << i;
        const auto wire = 3ms + byteTime * static_cast<long>(2 + m_reply.size());
        EXPECT_GE(times.back() - sent, wire);
        // Not paced at some other rate: well within twice the wire time.
        EXPECT_LT(times.back() - sent, 2 * wire + 500ms);
    }
}

TEST_F(LineRateTest, ACommandArrivesWhenItsLastByteCouldHaveAndSwitchingOffSendsTheRestAtOnce) {
    simtest::SetLine(m_line.Fd(), 2400, 8, 'N', 1);  // 10 bits: 4.17 ms a byte
    const std::string command = std::string(48, 'L') + "\r";
    const auto sent = Clock::now();
    m_line.Write(command);
    ASSERT_EQ(m_line.ReadLine("\r"), "ok\r");
    ASSERT_EQ(m_device.Received().size(), 1u);
    EXPECT_GE(m_device.Received()[0].at - sent, sim::ReadLineSettings(m_line.Fd())->WireTime(command.size()));
    EXPECT_EQ(m_device.LineTraffic().received, command.size());
    // The count of bytes sent moves on once a byte's write has returned,
    // which may be after this side has read it.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return m_device.LineTraffic().sent == 3u; }))
        << m_device.LineTraffic().sent;
    EXPECT_EQ(m_device.LineTraffic().replies, 1u);

    // At 300 baud a reply of 41 bytes needs 1.37 s; switched off after the
    // first byte, the rest comes at once.
    simtest::SetLine(m_line.Fd(), 300, 8, 'N', 1);
    m_line.Write("Q\r");
    ASSERT_EQ(m_line.Read(1), "0");
    const auto off = Clock::now();
    m_device.SetLineRate(false);
    EXPECT_EQ(m_line.Read(m_reply.size() - 1), m_reply.substr(1));
    EXPECT_LT(Clock::now() - off, 1s);
    m_device.ResetTraffic();
    EXPECT_EQ(m_device.LineTraffic().sent, 0u);
}

}  // namespace
