// Reading the elapsed time and the power cycles: the count as unsigned
// quarter seconds, conversion failures, and the callback form, which runs on
// the port's thread with a reply of its own.
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

TEST_F(TallyTest, BackToBackCallbackReadsEachGetTheirOwnReplyOnThePortThread) {
    Connect();
    counter.SetElapsedCount(10);
    counter.SetPowerCycles(3);
    testsupport::CLatch done;
    std::mutex mutex;
    std::vector<std::string> got;
    std::thread::id elapsedThread;
    const auto record = [&](std::string entry) {
        std::lock_guard lock(mutex);
        got.push_back(std::move(entry));
        done.Signal();
    };
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Etc_GetElapsedTimeCallback(handle,
                                             [&, i](int valid, double s) {
                                                 elapsedThread = std::this_thread::get_id();
                                                 record(std::to_string(i) + ":" +
                                                        std::to_string(valid) + ":" +
                                                        std::to_string(s));
                                             }),
                  EtcSuccess);
    }
    // An empty callable is accepted: the reply is only parsed.
    ASSERT_EQ(Etc_GetPowerCycleCountCallback(handle, nullptr), EtcSuccess);
    ASSERT_EQ(Etc_GetPowerCycleCountCallback(handle,
                                             [&](int valid, uint32_t c) {
                                                 record("P:" + std::to_string(valid) + ":" +
                                                        std::to_string(c));
                                             }),
              EtcSuccess);
    ASSERT_TRUE(done.WaitFor(4));
    EXPECT_NE(elapsedThread, std::this_thread::get_id());
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(got, (std::vector<std::string>{"0:1:2.500000", "1:1:2.500000", "2:1:2.500000",
                                                 "P:1:3"}));
    }
    EXPECT_EQ(Commands(), (std::vector<std::string>{"T?", "T?", "T?", "P?", "P?"}));

    // A failed reply still calls back, with valid 0.
    counter.SetRawReply("T?", "no\r");
    ASSERT_EQ(Etc_GetElapsedTimeCallback(
                  handle, [&](int valid, double) { record("failed:" + std::to_string(valid)); }),
              EtcSuccess);
    ASSERT_TRUE(done.WaitFor(5));
    std::lock_guard lock(mutex);
    EXPECT_EQ(got.back(), "failed:0");
}

}  // namespace
}  // namespace tallytest
