// Requests the counter never answers in time: each waits out the driver's
// one-second reply time-out, so these carry the label "slow".
#include "TallyFixture.h"

namespace tallytest {
namespace {

TEST_F(TallyTest, ConnectToASilentPortFailsAfterTheReplyTimeout) {
    counter.InjectFault("I\\?", sim::Fault{sim::FaultKind::NoReply});
    void* h = nullptr;
    EXPECT_EQ(Etc_Connect(Settings(), &h, 1, nullptr), EtcErrorFailed);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(Commands(), std::vector<std::string>{"I?"});
    EXPECT_NE(Log().find(": Error code = 4, message = \"\"."), std::string::npos);
}

TEST_F(TallyTest, TimedOutReadsAndCommandsFailAndLogThePartialReply) {
    Connect();
    counter.SetRawReply("T?", "1A");  // never terminated
    double seconds = 0;
    EXPECT_EQ(Etc_GetElapsedTime(handle, &seconds), EtcErrorCommandFailed);
    counter.InjectFault("P\\?", sim::Fault{sim::FaultKind::NoReply});
    uint32_t cycles = 0;
    EXPECT_EQ(Etc_GetPowerCycleCount(handle, &cycles), EtcErrorCommandFailed);
    counter.InjectFault("!0BB.*", sim::Fault{sim::FaultKind::NoReply});
    EXPECT_EQ(Etc_SetBaseElapsedTimeCount(handle, 1, 1, nullptr), EtcErrorCommandFailed);
    const std::string log = Log();
    EXPECT_NE(log.find(": T? command timed out! Partial response received: \"1A\"."), std::string::npos);
    EXPECT_NE(log.find(": Command timed out! Partial response received: \"\"."), std::string::npos);
}

}  // namespace
}  // namespace tallytest
