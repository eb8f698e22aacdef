// The diagnostics read: twelve queries in their fixed order, answered
// without a terminator; the busy mark; and a failed query, which must end
// the read, release a blocking caller with a failure and leave the device
// ready for the next read.
#include "TallyFixture.h"

#include <thread>

namespace tallytest {
namespace {

const std::vector<std::string> kQueryOrder = {"!0b",  "!0b0", "!0b1", "!0b2", "!0e", "!0e0",
                                              "!0e1", "!0e2", "!0p",  "!0s",  "!0t", "!0v"};

using D = EtcDiagnosticsStruct;
// Each register gets a value of its own, with the top bit set, so a value in
// the wrong field or cut short shows.
const std::pair<const char*, uint32_t D::*> kRegisters[] = {
    {"s", &D::s},   {"t", &D::t},   {"p", &D::p},   {"b", &D::b},   {"b0", &D::b0}, {"b1", &D::b1},
    {"b2", &D::b2}, {"e", &D::e},   {"e0", &D::e0}, {"e1", &D::e1}, {"e2", &D::e2}};
constexpr uint32_t kFirstValue = 0xFEDCBA90;

class TallyDiagnosticsTest : public TallyTest {
protected:
    void SetUp() override {
        TallyTest::SetUp();
        uint32_t value = kFirstValue;
        for (const auto& [name, field] : kRegisters) m_sim->SetDiagnostic(name, value++);
        m_sim->SetVersion("ETC v3.1, 2020");
    }

    static void ExpectAllValues(const D& d) {
        uint32_t value = kFirstValue;
        for (const auto& [name, field] : kRegisters) EXPECT_EQ(d.*field, value++) << name;
        EXPECT_EQ(d.v, "ETC v3.1, 2020");
    }
};

TEST_F(TallyDiagnosticsTest, ASecondReadWhileOneRunsIsRefusedAsBusy) {
    Connect();
    testsupport::CLatch inCallback, finished;
    std::mutex gate;
    std::unique_lock hold(gate);
    // The first read stays busy until its callback returns.
    ASSERT_EQ(Etc_GetDiagnosticsCallback(m_handle,
                                         [&](int, D) {
                                             inCallback.Signal();
                                             std::lock_guard wait(gate);
                                             finished.Signal();
                                         }),
              EtcSuccess);
    ASSERT_TRUE(inCallback.WaitFor());
    D d;
    EXPECT_EQ(Etc_GetDiagnostics(m_handle, &d), EtcErrorBusy);
    EXPECT_EQ(Etc_GetDiagnosticsCallback(m_handle, [](int, D) {}), EtcErrorBusy);
    EXPECT_EQ(Wire().size(), kQueryOrder.size()) << "a refused read sent something";
    hold.unlock();
    ASSERT_TRUE(finished.WaitFor());
    // Free again once the first read has ended.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Etc_GetDiagnostics(m_handle, &d) != EtcErrorBusy; }));
}

TEST_F(TallyDiagnosticsTest, BothFormsSendTheTwelveQueriesInOrderAndAFailedQueryEndsTheRead) {
    Connect();
    m_sim->InjectFault("!0b1", sim::Fault{sim::FaultKind::NoReply});
    D d;
    d.b1 = d.b2 = d.s = 0xDEAD;
    EXPECT_EQ(Etc_GetDiagnostics(m_handle, &d), EtcErrorCommandFailed);
    EXPECT_EQ(Wire(), (std::vector<std::string>{"!0b", "!0b0", "!0b1"}));
    EXPECT_EQ((std::vector<uint32_t>{d.b, d.b0, d.b1, d.s}),
              (std::vector<uint32_t>{kFirstValue + 3, kFirstValue + 4, 0xDEAD, 0xDEAD}));
    EXPECT_TRUE(LogHas(": Error converting response to DWORD. Response = \"\"."));

    // Not refused as busy afterwards, and a good read is complete.
    m_sim->ClearReceived();
    ASSERT_EQ(Etc_GetDiagnostics(m_handle, &d), EtcSuccess);
    ExpectAllValues(d);
    EXPECT_EQ(Wire(), kQueryOrder);
    EXPECT_TRUE(LogHas(": GetDiagnosticsThread started."));

    m_sim->ClearReceived();
    testsupport::CLatch called;
    D got;
    int valid = -1;
    std::thread::id thread;
    const auto callback = [&](int v, D copy) {
        valid = v;
        got = std::move(copy);
        thread = std::this_thread::get_id();
        called.Signal();
    };
    // Requested from a frame that is gone before the values come.
    [&] { ASSERT_EQ(Etc_GetDiagnosticsCallback(m_handle, callback), EtcSuccess); }();
    ASSERT_TRUE(called.WaitFor());
    EXPECT_EQ(valid, 1);
    ExpectAllValues(got);
    EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_EQ(Wire(), kQueryOrder);

    // A failed callback read ends without a call; the next one is accepted
    // and done. (A read stays busy until its thread ends, a little after its
    // callback.)
    m_sim->InjectFault("!0e", sim::Fault{sim::FaultKind::Garbage});
    const auto started = [&] { return Etc_GetDiagnosticsCallback(m_handle, callback) == EtcSuccess; };
    ASSERT_TRUE(testsupport::WaitUntil(started));
    ASSERT_TRUE(testsupport::WaitUntil(started));  // once the failed read has ended
    ASSERT_TRUE(called.WaitFor(2));
    EXPECT_EQ(called.Count(), 2);
    EXPECT_EQ(valid, 1);
}

}  // namespace
}  // namespace tallytest
