// Reading the elapsed time and the power cycles: the count as unsigned
// quarter seconds, conversion failures, and the callback form, which runs on
// the port's thread with a reply of its own.
#include "TallyFixture.h"

#include <thread>

namespace tallytest {
namespace {

TEST_F(TallyTest, ReadsTakeTheUnsignedCountAndFailOnRepliesWithoutHexadecimalDigits) {
    Connect();
    // A failed read is followed by a good one, which must be read normally.
    const struct {
        std::string command, reply;
        bool ok;
        double value;  // seconds for "T?", cycles for "P?"
    } cases[] = {{"T?", "\r", false, 0},           {"T?", "8\r", true, 2.0},
                 {"T?", "xyz\r", false, 0},        {"T?", "FFFFFFFC\r", true, 1073741823.0},
                 {"P?", "--\r", false, 0},         {"P?", "ABCDEF01\r", true, 0xABCDEF01}};
    std::vector<std::string> sent;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        m_sim->SetRawReply(c.command, c.reply);
        sent.push_back(c.command);
        double value = -1;
        uint32_t cycles = 0;
        const EtcError result = c.command == "T?" ? Etc_GetElapsedTime(m_handle, &value)
                                                  : Etc_GetPowerCycleCount(m_handle, &cycles);
        if (c.command == "P?") value = cycles;
        ASSERT_EQ(result, c.ok ? EtcSuccess : EtcErrorCommandFailed);
        const std::string body = c.reply.substr(0, c.reply.size() - 1);
        if (c.ok) EXPECT_EQ(value, c.value);
        else EXPECT_TRUE(LogHas(": Error converting response to DWORD. Response = \"" + body + "\"."));
    }
    EXPECT_EQ(Wire(), sent);
}

TEST_F(TallyTest, BackToBackCallbackReadsEachGetTheirOwnReplyOnThePortThread) {
    Connect();
    m_sim->SetElapsedCount(10);
    m_sim->SetPowerCycles(3);
    testsupport::CLatch done;
    std::mutex mutex;
    std::vector<std::string> got;
    const auto caller = std::this_thread::get_id();
    const auto record = [&](const std::string& tag, int valid, double value) {
        std::lock_guard lock(mutex);
        got.push_back(tag + ":" + std::to_string(valid) + ":" + std::to_string(value) +
                      (std::this_thread::get_id() == caller ? " on the caller's thread" : ""));
        done.Signal();
    };
    for (const std::string tag : {"0", "1", "2"}) {
        ASSERT_EQ(Etc_GetElapsedTimeCallback(m_handle, [&, tag](int valid, double s) { record(tag, valid, s); }),
                  EtcSuccess);
    }
    // An empty callable is accepted: the reply is only parsed.
    ASSERT_EQ(Etc_GetPowerCycleCountCallback(m_handle, nullptr), EtcSuccess);
    ASSERT_EQ(Etc_GetPowerCycleCountCallback(m_handle, [&](int valid, uint32_t c) { record("P", valid, c); }),
              EtcSuccess);
    ASSERT_TRUE(done.WaitFor(4));
    EXPECT_EQ(Wire(), (std::vector<std::string>{"T?", "T?", "T?", "P?", "P?"}));

    // A failed reply still calls back, with valid 0.
    m_sim->SetRawReply("T?", "no\r");
    ASSERT_EQ(Etc_GetElapsedTimeCallback(m_handle, [&](int valid, double) { record("failed", valid, 0); }),
              EtcSuccess);
    ASSERT_TRUE(done.WaitFor(5));
    std::lock_guard lock(mutex);
    EXPECT_EQ(got, (std::vector<std::string>{"0:1:2.500000", "1:1:2.500000", "2:1:2.500000",
                                             "P:1:3.000000", "failed:0:0.000000"}));
}

}  // namespace
}  // namespace tallytest
