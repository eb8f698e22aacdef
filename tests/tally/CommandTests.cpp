// Reset and set-base commands: the exact texts on the wire, the decimal
// reply, and the blocking and event forms on success and failure.
#include "TallyFixture.h"

namespace tallytest {
namespace {

TEST_F(TallyTest, CommandsCarryZeroPaddedUpperCaseHexadecimalAndTakeEffect) {
    Connect();
    counter.SetElapsedCount(400);
    counter.SetPowerCycles(9);
    EXPECT_EQ(Etc_SetBaseElapsedTimeCount(handle, 0x1A, 1, nullptr), EtcSuccess);
    EXPECT_EQ(Etc_SetBasePowerCycleCount(handle, 0x1A, 1, nullptr), EtcSuccess);
    EXPECT_EQ(Etc_SetBasePowerCycleCount(handle, 0x12345678, 1, nullptr), EtcSuccess);
    EXPECT_EQ(Etc_SetBaseElapsedTimeCount(handle, 0xFFFFFFFF, 1, nullptr), EtcSuccess);
    ASSERT_EQ(Etc_Reset(handle, 1, nullptr), EtcSuccess);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"!0BB0000001A", "!0EE00001A", "!0EE12345678",
                                                    "!0BBFFFFFFFF", "R!"}));
    EXPECT_EQ(counter.BaseElapsedCount(), 0xFFFFFFFFu);
    EXPECT_EQ(counter.BasePowerCycles(), 0x12345678u);
    EXPECT_NE(Log().find(": Setting the base power cycle count to 0x12345678."), std::string::npos);
    EXPECT_NE(Log().find(": Setting the base elapsed time count to 0x0000001A."), std::string::npos);

    double seconds = -1;
    uint32_t cycles = 1;
    ASSERT_EQ(Etc_GetElapsedTime(handle, &seconds), EtcSuccess);
    ASSERT_EQ(Etc_GetPowerCycleCount(handle, &cycles), EtcSuccess);
    EXPECT_EQ(seconds, 0.0);
    EXPECT_EQ(cycles, 0u);
}

TEST_F(TallyTest, CommandsWithoutWaitingSignalTheCallersEventOnSuccessAndFailure) {
    Connect();
    CTestEvent handled;
    ASSERT_EQ(Etc_SetBaseElapsedTimeCount(handle, 0x40, 0, handled.Get()), EtcSuccess);
    ASSERT_TRUE(handled.Wait());
    EXPECT_EQ(counter.BaseElapsedCount(), 0x40u);

    counter.SetRawReply("R!", "done\r");
    ASSERT_EQ(Etc_Reset(handle, 0, handled.Get()), EtcSuccess);
    ASSERT_TRUE(handled.Wait());
    EXPECT_NE(Log().find(": Error converting response to integer. Response = \"done\"."),
              std::string::npos);
    // The blocking form fails on the same reply.
    EXPECT_EQ(Etc_Reset(handle, 1, nullptr), EtcErrorCommandFailed);
    // Without an event the command still goes out.
    ASSERT_EQ(Etc_SetBasePowerCycleCount(handle, 5, 0, nullptr), EtcSuccess);
    ASSERT_TRUE(counter.WaitForCommand("!0EE000005", kLimit));
}

}  // namespace
}  // namespace tallytest
