// Connecting through Etc_Connect: identification from the "I?" reply, the
// blocking and event forms, and the failures that must leave no handle; and
// exports that refuse strangers and null outputs without sending anything.
#include "TallyFixture.h"

namespace tallytest {
namespace {

TEST_F(TallyTest, ConnectIdentifiesTheCounterAndKeepsTheFirmwareTextWhole) {
    counter.SetIdentification("Vandrel Scientific Ltd,ETC,2.04,build 7,rc");
    Connect();
    int valid = 0;
    EXPECT_EQ(Etc_IsValidDevice(handle, &valid), EtcSuccess);
    EXPECT_EQ(valid, 1);
    EtcIdentificationStruct id;
    EXPECT_EQ(Etc_GetIdentification(handle, &id), EtcSuccess);
    EXPECT_EQ(id.manufacturer, "Vandrel Scientific Ltd");
    EXPECT_EQ(id.model, "ETC");
    EXPECT_EQ(id.firmwareRevision, "2.04,build 7,rc");
    EXPECT_EQ(id.response, "Vandrel Scientific Ltd,ETC,2.04,build 7,rc");

    const std::string log = Log();
    EXPECT_NE(log.find(": Initializing serial port with the following settings: Port: 7, Baud: 9600, "
                       "Parity: None, Databits: 8, Stopbits: 1, FlowControl: None"),
              std::string::npos);
    EXPECT_NE(log.find(": A Vandrel Elapsed Time Counter has been detected with the following "
                       "properties: Manufacturer: Vandrel Scientific Ltd, Model: ETC, Firmware "
                       "Revision: 2.04,build 7,rc"),
              std::string::npos);
}

TEST_F(TallyTest, ConnectRefusesAnythingButTheModelEtcAndLeavesNoHandle) {
    for (const char* reply : {"Vandrel,etc,1.0", "Vandrel,ETC", "ETC", "Vandrel,ETCX,1.0", ""}) {
        SCOPED_TRACE(reply);
        counter.SetIdentification(reply);
        void* h = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(Etc_Connect(Settings(), &h, 1, nullptr), EtcErrorFailed);
        EXPECT_EQ(h, nullptr);
    }
    // The port was closed each time: the counter is still reachable.
    counter.SetIdentification(sim::CTallySimulator::kDefaultIdentification);
    Connect();
    EXPECT_NE(Log().find(": No Vandrel Elapsed Time Counter detected on the serial port."),
              std::string::npos);
}

TEST_F(TallyTest, ConnectEventIsSignalledAndClosedOnlyWhenTheConnectWaits) {
    CTestEvent identified;
    ASSERT_EQ(Etc_Connect(Settings(), &handle, 0, identified.Get()), EtcSuccess);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(identified.Wait());
    int valid = 0;
    EXPECT_EQ(Etc_IsValidDevice(handle, &valid), EtcSuccess);
    EXPECT_EQ(valid, 1);
    ASSERT_EQ(Etc_Disconnect(&handle, 1, nullptr), EtcSuccess);

    // A wrong model still gives a handle, which says it is no counter; the
    // caller's event stays usable (the library does not close it).
    counter.SetIdentification("Vandrel,PSU,1.0");
    ASSERT_EQ(Etc_Connect(Settings(), &handle, 0, identified.Get()), EtcSuccess);
    ASSERT_TRUE(identified.Wait());
    EXPECT_EQ(Etc_IsValidDevice(handle, &valid), EtcSuccess);
    EXPECT_EQ(valid, 0);
    EXPECT_TRUE(SetEvent(identified.Get()));
    ASSERT_EQ(Etc_Disconnect(&handle, 1, nullptr), EtcSuccess);

    // A blocking connect is handed its event: closed by the time it returns.
    counter.SetIdentification(sim::CTallySimulator::kDefaultIdentification);
    const HANDLE handedOver = identified.Release();
    ASSERT_EQ(Etc_Connect(Settings(), &handle, 1, handedOver), EtcSuccess);
    EXPECT_FALSE(SetEvent(handedOver));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(TallyTest, ConnectFailsOnPortsThatCannotBeOpened) {
    void* h = nullptr;
    EXPECT_EQ(Etc_Connect(Settings(0), &h, 1, nullptr), EtcErrorFailed);
    EXPECT_EQ(Etc_Connect(Settings(128), &h, 1, nullptr), EtcErrorFailed);
    EXPECT_EQ(Etc_Connect(Settings(127), &h, 1, nullptr), EtcErrorFailed);  // no such device
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(Etc_Connect(Settings(), nullptr, 1, nullptr), EtcErrorInvalidParameter);
    EXPECT_NE(Log().find(": Error initializing the serial port."), std::string::npos);
}

TEST_F(TallyTest, ExportsRefuseStrangersAndNullOutputsWithoutSendingAnything) {
    Connect();
    int dummy = 0;
    void* stranger = &dummy;
    int valid = 0;
    double seconds = 0;
    uint32_t count = 0;
    EtcIdentificationStruct id;
    EtcDiagnosticsStruct diagnostics;
    bool called = false;
    EXPECT_EQ(Etc_IsValidDevice(stranger, &valid), EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_GetIdentification(stranger, &id), EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_GetElapsedTime(stranger, &seconds), EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_GetElapsedTimeCallback(stranger, [&](int, double) { called = true; }),
              EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_GetPowerCycleCount(nullptr, &count), EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_GetPowerCycleCountCallback(stranger, nullptr), EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_Reset(stranger, 1, nullptr), EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_SetBaseElapsedTimeCount(stranger, 1, 1, nullptr), EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_SetBasePowerCycleCount(stranger, 1, 1, nullptr), EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_GetDiagnostics(stranger, &diagnostics), EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_GetDiagnosticsCallback(stranger, [&](int, EtcDiagnosticsStruct) { called = true; }),
              EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_Disconnect(&stranger, 1, nullptr), EtcErrorInvalidHandle);
    EXPECT_EQ(Etc_Disconnect(nullptr, 1, nullptr), EtcErrorInvalidHandle);

    EXPECT_EQ(Etc_IsValidDevice(handle, nullptr), EtcErrorInvalidParameter);
    EXPECT_EQ(Etc_GetIdentification(handle, nullptr), EtcErrorInvalidParameter);
    EXPECT_EQ(Etc_GetElapsedTime(handle, nullptr), EtcErrorInvalidParameter);
    EXPECT_EQ(Etc_GetPowerCycleCount(handle, nullptr), EtcErrorInvalidParameter);
    EXPECT_EQ(Etc_GetDiagnostics(handle, nullptr), EtcErrorInvalidParameter);
    EXPECT_EQ(Etc_GetDiagnosticsCallback(handle, nullptr), EtcErrorInvalidParameter);
    EXPECT_FALSE(called);
    EXPECT_TRUE(Commands().empty());
}

}  // namespace
}  // namespace tallytest
