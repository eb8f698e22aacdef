// Requests the counter never answers in time: each waits out the driver's
// one-second reply time-out, so they are named Slow... and carry the label
// "slow".
#include "TallyFixture.h"

namespace tallytest {
namespace {

TEST_F(TallyTest, SlowUnansweredRequestsFailAfterTheReplyTimeoutAndLogThePartialReply) {
    m_sim->InjectFault("I\\?", sim::Fault{sim::FaultKind::NoReply});
    EXPECT_EQ(Etc_Connect(Settings(), &m_handle, 1, nullptr), EtcErrorFailed);
    EXPECT_EQ(m_handle, nullptr);
    EXPECT_EQ(Wire(), std::vector<std::string>{"I?"});
    EXPECT_TRUE(LogHas(": Error code = 4, message = \"\"."));

    Connect();  // the fault was for the one "I?"
    m_sim->SetRawReply("T?", "1A");  // never terminated
    double seconds = 0;
    EXPECT_EQ(Etc_GetElapsedTime(m_handle, &seconds), EtcErrorCommandFailed);
    m_sim->InjectFault("P\\?", sim::Fault{sim::FaultKind::NoReply});
    uint32_t cycles = 0;
    EXPECT_EQ(Etc_GetPowerCycleCount(m_handle, &cycles), EtcErrorCommandFailed);
    m_sim->InjectFault("!0BB.*", sim::Fault{sim::FaultKind::NoReply});
    EXPECT_EQ(Etc_SetBaseElapsedTimeCount(m_handle, 1, 1, nullptr), EtcErrorCommandFailed);
    EXPECT_TRUE(LogHas(": T? command timed out! Partial response received: \"1A\"."));
    EXPECT_TRUE(LogHas(": Command timed out! Partial response received: \"\"."));
}

}  // namespace
}  // namespace tallytest
