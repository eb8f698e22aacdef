// Reset and set-base commands: the exact texts on the wire, the decimal
// reply, and the blocking and event forms on success and failure.
#include "TallyFixture.h"

namespace tallytest {
namespace {

TEST_F(TallyTest, CommandsCarryZeroPaddedUpperCaseHexadecimalTakeEffectAndSignalTheEvent) {
    Connect();
    m_sim->SetElapsedCount(400);
    m_sim->SetPowerCycles(9);
    EXPECT_EQ(Etc_SetBaseElapsedTimeCount(m_handle, 0x1A, 1, nullptr), EtcSuccess);
    EXPECT_EQ(Etc_SetBasePowerCycleCount(m_handle, 0x1A, 1, nullptr), EtcSuccess);
    EXPECT_EQ(Etc_SetBasePowerCycleCount(m_handle, 0x12345678, 1, nullptr), EtcSuccess);
    EXPECT_EQ(Etc_SetBaseElapsedTimeCount(m_handle, 0xFFFFFFFF, 1, nullptr), EtcSuccess);
    ASSERT_EQ(Etc_Reset(m_handle, 1, nullptr), EtcSuccess);
    EXPECT_EQ(Wire(), (std::vector<std::string>{"!0BB0000001A", "!0EE00001A", "!0EE12345678",
                                                "!0BBFFFFFFFF", "R!"}));
    EXPECT_EQ(m_sim->BaseElapsedCount(), 0xFFFFFFFFu);
    EXPECT_EQ(m_sim->BasePowerCycles(), 0x12345678u);
    EXPECT_TRUE(LogHas(": Setting the base power cycle count to 0x12345678."));
    EXPECT_TRUE(LogHas(": Setting the base elapsed time count to 0x0000001A."));

    EXPECT_EQ(m_sim->ElapsedCount(), 0u);
    EXPECT_EQ(m_sim->PowerCycles(), 0u);

    // Without waiting: the caller's event is signalled on success and failure.
    CTestEvent handled;
    ASSERT_EQ(Etc_SetBaseElapsedTimeCount(m_handle, 0x40, 0, handled.Get()), EtcSuccess);
    ASSERT_TRUE(handled.Wait());
    EXPECT_EQ(m_sim->BaseElapsedCount(), 0x40u);

    m_sim->SetRawReply("R!", "done\r");
    ASSERT_EQ(Etc_Reset(m_handle, 0, handled.Get()), EtcSuccess);
    ASSERT_TRUE(handled.Wait());
    EXPECT_TRUE(LogHas(": Error converting response to integer. Response = \"done\"."));
    // The blocking form fails on the same reply.
    EXPECT_EQ(Etc_Reset(m_handle, 1, nullptr), EtcErrorCommandFailed);
    // Without an event the command still goes out.
    ASSERT_EQ(Etc_SetBasePowerCycleCount(m_handle, 5, 0, nullptr), EtcSuccess);
    ASSERT_TRUE(m_sim->WaitForCommand("!0EE000005", kLimit));
}

}  // namespace
}  // namespace tallytest
