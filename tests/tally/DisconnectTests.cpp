// Disconnecting: the handle becomes invalid at once, the port is free again
// when the call (or the caller's event) says so, and no thread of the device
// outlives it, also when another thread or one of the device's own
// callbacks is still busy with it.
#include "TallyFixture.h"

#include <thread>

namespace tallytest {
namespace {

TEST_F(TallyTest, BlockingDisconnectFreesThePortSignalsButKeepsTheEventAndInvalidatesTheHandle) {
    Connect();
    void* old = handle;
    // The event is signalled, and stays the caller's: still open afterwards.
    CTestEvent closed;
    ASSERT_EQ(Etc_Disconnect(&handle, 1, closed.Get()), EtcSuccess);
    EXPECT_TRUE(closed.IsSet());
    EXPECT_TRUE(SetEvent(closed.Get()));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(Etc_Disconnect(&handle, 1, nullptr), EtcErrorInvalidHandle);
    int valid = 0;
    EXPECT_EQ(Etc_IsValidDevice(old, &valid), EtcErrorInvalidHandle);
    const std::string log = Log();
    EXPECT_NE(log.find(": Disconnecting from serial port."), std::string::npos);
    EXPECT_NE(log.find(": Uninitializing Pantheios library."), std::string::npos);
    Connect();  // the port was released
}

TEST_F(TallyTest, DisconnectWithoutWaitingSignalsOnceTheDeviceIsGone) {
    for (int round = 0; round < 3; ++round) {
        Connect();
        CTestEvent closed;
        // A diagnostics read in flight must not keep the device alive for
        // long, nor be cut off while the device is destroyed under it.
        ASSERT_EQ(Etc_GetDiagnosticsCallback(handle, [](int, EtcDiagnosticsStruct) {}), EtcSuccess);
        ASSERT_EQ(Etc_Disconnect(&handle, 0, closed.Get()), EtcSuccess);
        EXPECT_EQ(handle, nullptr);
        ASSERT_TRUE(closed.Wait());
    }
    Connect();
}

TEST_F(TallyTest, DisconnectReleasesABlockingReadOnAnotherThread) {
    Connect();
    counter.InjectFault("T\\?", sim::Fault{sim::FaultKind::NoReply});
    EtcError result = EtcSuccess;
    std::thread reader([&, h = handle] {
        double seconds = 0;
        result = Etc_GetElapsedTime(h, &seconds);
    });
    ASSERT_TRUE(counter.WaitForCommand("T\\?", kLimit));
    ASSERT_EQ(Etc_Disconnect(&handle, 1, nullptr), EtcSuccess);
    reader.join();
    EXPECT_EQ(result, EtcErrorCommandFailed);
}

TEST_F(TallyTest, ACallbackMayDisconnectItsOwnDevice) {
    Connect();
    testsupport::CLatch done;
    // From the port's thread ...
    ASSERT_EQ(Etc_GetElapsedTimeCallback(handle,
                                         [&](int, double) {
                                             EXPECT_EQ(Etc_Disconnect(&handle, 1, nullptr), EtcSuccess);
                                             done.Signal();
                                         }),
              EtcSuccess);
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_EQ(handle, nullptr);
    // ... and from the diagnostics thread. The port is free once the
    // background close has run.
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return Etc_Connect(Settings(), &handle, 1, nullptr) == EtcSuccess; }));
    ASSERT_EQ(Etc_GetDiagnosticsCallback(handle,
                                         [&](int, EtcDiagnosticsStruct) {
                                             EXPECT_EQ(Etc_Disconnect(&handle, 1, nullptr), EtcSuccess);
                                             done.Signal();
                                         }),
              EtcSuccess);
    ASSERT_TRUE(done.WaitFor(2));
    EXPECT_EQ(handle, nullptr);
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return Etc_Connect(Settings(), &handle, 1, nullptr) == EtcSuccess; }));
}

TEST_F(TallyTest, DevicesOnOneLibraryShareTheLogButKeepTheirOwnPrefixes) {
    sim::CTallySimulator second(xdg.PortsFolder(), kCom + 1);
    second.Start();
    Connect();
    void* other = nullptr;
    ASSERT_EQ(Etc_Connect(Settings(kCom + 1), &other, 1, nullptr), EtcSuccess);
    ASSERT_NE(other, handle);
    void* const secondHandle = other;
    ASSERT_EQ(Etc_SetLogCeiling(3), EtcSuccess);
    double seconds = 0;
    second.SetRawReply("T?", "?\r");
    EXPECT_EQ(Etc_GetElapsedTime(other, &seconds), EtcErrorCommandFailed);
    EXPECT_EQ(Etc_GetElapsedTime(handle, &seconds), EtcSuccess);
    ASSERT_EQ(Etc_Disconnect(&other, 1, nullptr), EtcSuccess);
    const std::string log = Log();
    const auto at = [&](void* h) {
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "CElapsedTimeCounter (0x%016llX)",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
        return std::string(prefix);
    };
    EXPECT_NE(log.find(at(secondHandle) + ": Error converting response"), std::string::npos);
    EXPECT_NE(log.find(at(secondHandle) + ": Logging ceiling set to 7"), std::string::npos);
    EXPECT_NE(log.find(at(handle) + ": Attempting to detect"), std::string::npos);
    // Ceiling 3: the debug entries of the reads and the disconnect are dropped.
    EXPECT_EQ(log.find(at(handle) + ": Getting the elapsed time count."), std::string::npos);
    EXPECT_EQ(log.find(at(secondHandle) + ": Disconnecting from serial port."), std::string::npos);
}

}  // namespace
}  // namespace tallytest
