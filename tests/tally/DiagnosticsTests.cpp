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

class TallyDiagnosticsTest : public TallyTest {
protected:
    void SetUp() override {
        TallyTest::SetUp();
        counter.SetDiagnostic("s", 0x5);
        counter.SetElapsedCount(0x1234);
        counter.SetPowerCycles(0x77);
        const char* names[] = {"b", "b0", "b1", "b2", "e", "e0", "e1", "e2"};
        for (uint32_t i = 0; i < 8; ++i) counter.SetDiagnostic(names[i], 0xA0 + i);
        counter.SetVersion("ETC v3.1, 2020");
    }

    static void ExpectAllValues(const EtcDiagnosticsStruct& d) {
        EXPECT_EQ(d.s, 0x5u);
        EXPECT_EQ(d.t, 0x1234u);
        EXPECT_EQ(d.p, 0x77u);
        EXPECT_EQ(d.b, 0xA0u);
        EXPECT_EQ(d.b0, 0xA1u);
        EXPECT_EQ(d.b1, 0xA2u);
        EXPECT_EQ(d.b2, 0xA3u);
        EXPECT_EQ(d.e, 0xA4u);
        EXPECT_EQ(d.e0, 0xA5u);
        EXPECT_EQ(d.e1, 0xA6u);
        EXPECT_EQ(d.e2, 0xA7u);
        EXPECT_EQ(d.v, "ETC v3.1, 2020");
    }
};

TEST_F(TallyDiagnosticsTest, BothFormsSendTheTwelveQueriesInTheirFixedOrder) {
    Connect();
    EtcDiagnosticsStruct d;
    ASSERT_EQ(Etc_GetDiagnostics(handle, &d), EtcSuccess);
    ExpectAllValues(d);
    EXPECT_EQ(Commands(), kQueryOrder);
    EXPECT_NE(Log().find(": GetDiagnosticsThread started."), std::string::npos);

    counter.ClearReceived();
    testsupport::CLatch done;
    EtcDiagnosticsStruct got;
    int valid = -1;
    std::thread::id thread;
    // The request is made from a frame that is gone before the values come.
    [&] {
        ASSERT_EQ(Etc_GetDiagnosticsCallback(handle,
                                             [&](int v, EtcDiagnosticsStruct copy) {
                                                 valid = v;
                                                 got = std::move(copy);
                                                 thread = std::this_thread::get_id();
                                                 done.Signal();
                                             }),
                  EtcSuccess);
    }();
    ASSERT_TRUE(done.WaitFor());
    EXPECT_EQ(valid, 1);
    ExpectAllValues(got);
    EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_EQ(Commands(), kQueryOrder);
}

TEST_F(TallyDiagnosticsTest, ASecondReadWhileOneRunsIsRefusedAsBusy) {
    Connect();
    testsupport::CLatch inCallback, finished;
    std::mutex gate;
    std::unique_lock hold(gate);
    // The first read stays busy until its callback returns.
    ASSERT_EQ(Etc_GetDiagnosticsCallback(handle,
                                         [&](int, EtcDiagnosticsStruct) {
                                             inCallback.Signal();
                                             std::lock_guard wait(gate);
                                             finished.Signal();
                                         }),
              EtcSuccess);
    ASSERT_TRUE(inCallback.WaitFor());
    EtcDiagnosticsStruct d;
    EXPECT_EQ(Etc_GetDiagnostics(handle, &d), EtcErrorBusy);
    EXPECT_EQ(Etc_GetDiagnosticsCallback(handle, [](int, EtcDiagnosticsStruct) {}), EtcErrorBusy);
    EXPECT_EQ(Commands().size(), kQueryOrder.size()) << "a refused read sent something";
    hold.unlock();
    ASSERT_TRUE(finished.WaitFor());
    // Free again once the first read has ended.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Etc_GetDiagnostics(handle, &d) != EtcErrorBusy; }));
}

TEST_F(TallyDiagnosticsTest, AFailedQueryEndsTheReadAndReleasesTheDevice) {
    Connect();
    counter.InjectFault("!0b1", sim::Fault{sim::FaultKind::NoReply});
    EtcDiagnosticsStruct d;
    d.b1 = d.b2 = d.s = 0xDEAD;
    EXPECT_EQ(Etc_GetDiagnostics(handle, &d), EtcErrorCommandFailed);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"!0b", "!0b0", "!0b1"}));
    EXPECT_EQ(d.b, 0xA0u);
    EXPECT_EQ(d.b0, 0xA1u);
    EXPECT_EQ(d.b1, 0xDEADu);
    EXPECT_EQ(d.s, 0xDEADu);
    EXPECT_NE(Log().find(": Error converting response to DWORD. Response = \"\"."), std::string::npos);

    // Not refused as busy afterwards, and a good read is complete.
    counter.ClearReceived();
    ASSERT_EQ(Etc_GetDiagnostics(handle, &d), EtcSuccess);
    ExpectAllValues(d);

    // A failed callback read ends without a call; the next one is accepted
    // and done.
    counter.ClearReceived();
    counter.InjectFault("!0e", sim::Fault{sim::FaultKind::Garbage});
    testsupport::CLatch called;
    int valid = -1;
    const auto callback = [&](int v, EtcDiagnosticsStruct) {
        valid = v;
        called.Signal();
    };
    ASSERT_EQ(Etc_GetDiagnosticsCallback(handle, callback), EtcSuccess);
    ASSERT_TRUE(counter.WaitForCommand("!0e", kLimit));
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return Etc_GetDiagnosticsCallback(handle, callback) == EtcSuccess; }));
    ASSERT_TRUE(called.WaitFor());
    EXPECT_EQ(called.Count(), 1);
    EXPECT_EQ(valid, 1);
}

}  // namespace
}  // namespace tallytest
