// Disconnecting: the handle becomes invalid at once, the port is free again
// when the call (or the caller's event) says so, and no thread of the device
// outlives it, also when another thread or one of the device's own
// callbacks is still busy with it.
#include "TallyFixture.h"

#include <thread>

namespace tallytest {
namespace {

TEST_F(TallyTest, DisconnectReleasesAReadFreesThePortAndInvalidatesTheHandleWaitingOrNot) {
    Connect();
    // A read on another thread waiting for a reply that never comes is let go.
    m_sim->InjectFault("T\\?", sim::Fault{sim::FaultKind::NoReply});
    EtcError result = EtcSuccess;
    std::thread reader([&, h = m_handle] {
        double seconds = 0;
        result = Etc_GetElapsedTime(h, &seconds);
    });
    ASSERT_TRUE(m_sim->WaitForCommand("T\\?", kLimit));
    void* old = m_handle;
    // The event is signalled, and stays the caller's: still open afterwards.
    CTestEvent closed;
    ASSERT_EQ(Etc_Disconnect(&m_handle, 1, closed.Get()), EtcSuccess);
    reader.join();
    EXPECT_EQ(result, EtcErrorCommandFailed);
    EXPECT_TRUE(closed.IsSet());
    EXPECT_TRUE(SetEvent(closed.Get()));
    EXPECT_EQ(m_handle, nullptr);
    int valid = 0;
    EXPECT_EQ(Etc_IsValidDevice(old, &valid), EtcErrorInvalidHandle);
    EXPECT_TRUE(LogHas(": Disconnecting from serial port."));
    EXPECT_TRUE(LogHas(": Uninitializing Pantheios library."));
    ASSERT_EQ(Etc_Disconnect(&m_handle, 1, nullptr), EtcErrorInvalidHandle);

    // Without waiting, the event is signalled once the device is gone and
    // the port free again.
    for (int round = 0; round < 3; ++round) {
        Connect();  // at once in the first round: the waiting disconnect released the port
        CTestEvent gone;
        // A diagnostics read in flight must not keep the device alive for
        // long, nor be cut off while the device is destroyed under it.
        ASSERT_EQ(Etc_GetDiagnosticsCallback(m_handle, [](int, EtcDiagnosticsStruct) {}), EtcSuccess);
        ASSERT_EQ(Etc_Disconnect(&m_handle, 0, gone.Get()), EtcSuccess);
        EXPECT_EQ(m_handle, nullptr);
        ASSERT_TRUE(gone.Wait());
    }
    Connect();
}

TEST_F(TallyTest, ACallbackMayDisconnectItsOwnDevice) {
    testsupport::CLatch done;
    const auto disconnect = [&] {
        EXPECT_EQ(Etc_Disconnect(&m_handle, 1, nullptr), EtcSuccess);
        done.Signal();
    };
    // From the port's thread and from the diagnostics thread.
    const std::function<EtcError()> reads[] = {
        [&] { return Etc_GetElapsedTimeCallback(m_handle, [&](int, double) { disconnect(); }); },
        [&] { return Etc_GetDiagnosticsCallback(m_handle, [&](int, EtcDiagnosticsStruct) { disconnect(); }); }};
    const auto reconnect = [&] { return Etc_Connect(Settings(), &m_handle, 1, nullptr) == EtcSuccess; };
    for (int i = 0; i < 2; ++i) {
        // The port is free once the background close of the round before has run.
        ASSERT_TRUE(testsupport::WaitUntil(reconnect));
        ASSERT_EQ(reads[i](), EtcSuccess);
        ASSERT_TRUE(done.WaitFor(i + 1));
        EXPECT_EQ(m_handle, nullptr);
    }
    ASSERT_TRUE(testsupport::WaitUntil(reconnect));
}

TEST_F(TallyTest, DevicesOnOneLibraryShareTheLogButKeepTheirOwnPrefixes) {
    sim::CTallySimulator counter(m_xdg.PortsFolder(), kCom + 1);
    counter.Start();
    Connect();
    void* other = nullptr;
    ASSERT_EQ(Etc_Connect(Settings(kCom + 1), &other, 1, nullptr), EtcSuccess);
    ASSERT_NE(other, m_handle);
    const auto at = [](void* h) {
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "CElapsedTimeCounter (0x%016llX)",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
        return std::string(prefix);
    };
    const std::string first = at(m_handle), second = at(other);
    ASSERT_EQ(Etc_SetLogCeiling(3), EtcSuccess);
    double seconds = 0;
    counter.SetRawReply("T?", "?\r");
    EXPECT_EQ(Etc_GetElapsedTime(other, &seconds), EtcErrorCommandFailed);
    EXPECT_EQ(Etc_GetElapsedTime(m_handle, &seconds), EtcSuccess);
    ASSERT_EQ(Etc_Disconnect(&other, 1, nullptr), EtcSuccess);
    EXPECT_TRUE(LogHas(second + ": Error converting response"));
    EXPECT_TRUE(LogHas(second + ": Logging ceiling set to 7"));
    EXPECT_TRUE(LogHas(first + ": Attempting to detect"));
    // Ceiling 3: the debug entries of the reads and the disconnect are dropped.
    EXPECT_FALSE(LogHas(first + ": Getting the elapsed time count."));
    EXPECT_FALSE(LogHas(second + ": Disconnecting from serial port."));
}

}  // namespace
}  // namespace tallytest
