// Reading the elapsed time and the power cycles: the count as unsigned
// quarter seconds, conversion and time-out failures, and the callback form,
// which runs on the port's thread with a reply of its own.
#include "TallyFixture.h"

#include <thread>

namespace tallytest {
namespace {

TEST_F(TallyTest, ElapsedTimeIsTheUnsignedCountOfQuarterSeconds) {
    Connect();
    double seconds = -1;
    counter.SetElapsedCount(8);
    ASSERT_EQ(Etc_GetElapsedTime(handle, &seconds), EtcSuccess);
    EXPECT_EQ(seconds, 2.0);
    counter.SetElapsedCount(0xFFFFFFFC);
    ASSERT_EQ(Etc_GetElapsedTime(handle, &seconds), EtcSuccess);
    EXPECT_EQ(seconds, 1073741823.0);

    uint32_t cycles = 0;
    counter.SetPowerCycles(0xABCDEF01);
    ASSERT_EQ(Etc_GetPowerCycleCount(handle, &cycles), EtcSuccess);
    EXPECT_EQ(cycles, 0xABCDEF01u);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"T?", "T?", "P?"}));
}

TEST_F(TallyTest, NullOutputsAreRefusedWithoutSendingAnything) {
    Connect();
    EXPECT_EQ(Etc_GetElapsedTime(handle, nullptr), EtcErrorInvalidParameter);
    EXPECT_EQ(Etc_GetPowerCycleCount(handle, nullptr), EtcErrorInvalidParameter);
    EXPECT_EQ(Etc_GetDiagnostics(handle, nullptr), EtcErrorInvalidParameter);
    EXPECT_EQ(Etc_GetDiagnosticsCallback(handle, nullptr), EtcErrorInvalidParameter);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(TallyTest, RepliesWithoutHexadecimalDigitsFailTheRead) {
    Connect();
    double seconds = 0;
    uint32_t cycles = 0;
    counter.SetRawReply("T?", "\r");
    EXPECT_EQ(Etc_GetElapsedTime(handle, &seconds), EtcErrorCommandFailed);
    counter.SetRawReply("T?", "xyz\r");
    EXPECT_EQ(Etc_GetElapsedTime(handle, &seconds), EtcErrorCommandFailed);
    counter.SetRawReply("P?", "--\r");
    EXPECT_EQ(Etc_GetPowerCycleCount(handle, &cycles), EtcErrorCommandFailed);
    const std::string log = Log();
    EXPECT_NE(log.find("; Error]: CElapsedTimeCounter (0x"), std::string::npos);
    EXPECT_NE(log.find(": Error converting response to DWORD. Response = \"\"."), std::string::npos);
    EXPECT_NE(log.find(": Error converting response to DWORD. Response = \"xyz\"."), std::string::npos);
    EXPECT_NE(log.find(": Error converting response to DWORD. Response = \"--\"."), std::string::npos);

    // A good reply afterwards is read normally.
    counter.SetRawReply("T?", std::nullopt);
    counter.SetElapsedCount(4);
    EXPECT_EQ(Etc_GetElapsedTime(handle, &seconds), EtcSuccess);
    EXPECT_EQ(seconds, 1.0);
}

TEST_F(TallyTest, ATimedOutReadFailsAndLogsThePartialReply) {
    Connect();
    counter.SetRawReply("T?", "1A");  // never terminated
    double seconds = 0;
    EXPECT_EQ(Etc_GetElapsedTime(handle, &seconds), EtcErrorCommandFailed);
    counter.InjectFault("P\\?", sim::Fault{sim::FaultKind::NoReply});
    uint32_t cycles = 0;
    EXPECT_EQ(Etc_GetPowerCycleCount(handle, &cycles), EtcErrorCommandFailed);
    const std::string log = Log();
    EXPECT_NE(log.find(": T? command timed out! Partial response received: \"1A\"."), std::string::npos);
    EXPECT_NE(log.find(": Command timed out! Partial response received: \"\"."), std::string::npos);
}

TEST_F(TallyTest, CallbackReadsDeliverOnThePortThreadEvenWhenTheyFail) {
    Connect();
    counter.SetElapsedCount(10);
    counter.SetPowerCycles(3);
    testsupport::CLatch done;
    double seconds = 0;
    uint32_t cycles = 0;
    int elapsedValid = -1, cyclesValid = -1;
    std::thread::id elapsedThread;
    const auto caller = std::this_thread::get_id();
    ASSERT_EQ(Etc_GetElapsedTimeCallback(handle,
                                         [&](int valid, double s) {
                                             elapsedValid = valid;
                                             seconds = s;
                                             elapsedThread = std::this_thread::get_id();
                                             done.Signal();
                                         }),
              EtcSuccess);
    ASSERT_EQ(Etc_GetPowerCycleCountCallback(handle,
                                             [&](int valid, uint32_t c) {
                                                 cyclesValid = valid;
                                                 cycles = c;
                                                 done.Signal();
                                             }),
              EtcSuccess);
    ASSERT_TRUE(done.WaitFor(2));
    EXPECT_EQ(elapsedValid, 1);
    EXPECT_EQ(seconds, 2.5);
    EXPECT_EQ(cyclesValid, 1);
    EXPECT_EQ(cycles, 3u);
    EXPECT_NE(elapsedThread, caller);

    counter.SetRawReply("T?", "no\r");
    ASSERT_EQ(Etc_GetElapsedTimeCallback(handle,
                                         [&](int valid, double) {
                                             elapsedValid = valid;
                                             done.Signal();
                                         }),
              EtcSuccess);
    ASSERT_TRUE(done.WaitFor(3));
    EXPECT_EQ(elapsedValid, 0);
}

TEST_F(TallyTest, BackToBackCallbackReadsEachGetTheirOwnReply) {
    Connect();
    counter.SetElapsedCount(4);
    testsupport::CLatch done;
    std::vector<int> order;
    std::mutex mutex;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Etc_GetElapsedTimeCallback(handle,
                                             [&, i](int valid, double s) {
                                                 std::lock_guard lock(mutex);
                                                 if (valid && s == 1.0) order.push_back(i);
                                                 done.Signal();
                                             }),
                  EtcSuccess);
    }
    // An empty callable is accepted: the reply is only parsed.
    ASSERT_EQ(Etc_GetPowerCycleCountCallback(handle, nullptr), EtcSuccess);
    ASSERT_TRUE(done.WaitFor(3));
    ASSERT_TRUE(counter.WaitForCount(4, kLimit));
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

}  // namespace
}  // namespace tallytest
