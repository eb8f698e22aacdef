// Connecting through Etc_Connect: identification from the "I?" reply, the
// blocking and event forms, and the failures that must leave no handle; and
// exports that refuse strangers and null outputs without sending anything.
#include "TallyFixture.h"

namespace tallytest {
namespace {

TEST_F(TallyTest, ConnectIdentifiesTheCounterAndSignalsButClosesTheEventOnlyWhenItWaits) {
    // Without waiting: the event says when the identification is known.
    m_sim->SetIdentification("Vandrel Scientific Ltd,ETC,2.04,build 7,rc");
    CTestEvent identified;
    ASSERT_EQ(Etc_Connect(Settings(), &m_handle, 0, identified.Get()), EtcSuccess);
    ASSERT_NE(m_handle, nullptr);
    ASSERT_TRUE(identified.Wait());
    int valid = 0;
    EXPECT_EQ(Etc_IsValidDevice(m_handle, &valid), EtcSuccess);
    EXPECT_EQ(valid, 1);
    EtcIdentificationStruct id;
    EXPECT_EQ(Etc_GetIdentification(m_handle, &id), EtcSuccess);
    EXPECT_EQ((std::vector<std::string>{id.manufacturer, id.model, id.firmwareRevision, id.response}),
              (std::vector<std::string>{"Vandrel Scientific Ltd", "ETC", "2.04,build 7,rc",
                                        "Vandrel Scientific Ltd,ETC,2.04,build 7,rc"}));
    EXPECT_TRUE(LogHas(": Initializing serial port with the following settings: Port: 7, Baud: 9600, "
                       "Parity: None, Databits: 8, Stopbits: 1, FlowControl: None"));
    EXPECT_TRUE(LogHas(": A Vandrel Elapsed Time Counter has been detected with the following "
                       "properties: Manufacturer: Vandrel Scientific Ltd, Model: ETC, Firmware "
                       "Revision: 2.04,build 7,rc"));
    ASSERT_EQ(Etc_Disconnect(&m_handle, 1, nullptr), EtcSuccess);

    // A wrong model still gives a handle, which says it is no counter; the
    // caller's event stays usable (the library does not close it).
    m_sim->SetIdentification("Vandrel,PSU,1.0");
    ASSERT_EQ(Etc_Connect(Settings(), &m_handle, 0, identified.Get()), EtcSuccess);
    ASSERT_TRUE(identified.Wait());
    EXPECT_EQ(Etc_IsValidDevice(m_handle, &valid), EtcSuccess);
    EXPECT_EQ(valid, 0);
    EXPECT_TRUE(SetEvent(identified.Get()));
    ASSERT_EQ(Etc_Disconnect(&m_handle, 1, nullptr), EtcSuccess);

    // A blocking connect is handed its event: closed by the time it returns.
    m_sim->SetIdentification(sim::CTallySimulator::kDefaultIdentification);
    const HANDLE handedOver = identified.Release();
    ASSERT_EQ(Etc_Connect(Settings(), &m_handle, 1, handedOver), EtcSuccess);
    EXPECT_FALSE(SetEvent(handedOver));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(TallyTest, FailedConnectsLeaveNoHandleAndGiveThePortBack) {
    EXPECT_EQ(Etc_Connect(Settings(), nullptr, 1, nullptr), EtcErrorInvalidParameter);
    // Ports that cannot be opened (127 is a valid number with no device
    // behind it), then identifications of anything but the model ETC.
    const std::pair<unsigned, std::string> cases[] = {
        {0, ""}, {128, ""}, {127, ""}, {kCom, "Vandrel,etc,1.0"}, {kCom, "Vandrel,ETC"},
        {kCom, "ETC"}, {kCom, "Vandrel,ETCX,1.0"}, {kCom, ""}};
    for (const auto& [port, identification] : cases) {
        SCOPED_TRACE(std::to_string(port) + " " + identification);
        m_sim->SetIdentification(identification);
        void* h = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(Etc_Connect(Settings(port), &h, 1, nullptr), EtcErrorFailed);
        EXPECT_EQ(h, nullptr);
    }
    EXPECT_TRUE(LogHas(": Error initializing the serial port."));
    EXPECT_TRUE(LogHas(": No Vandrel Elapsed Time Counter detected on the serial port."));
    // The port was closed each time: the counter is still reachable.
    m_sim->SetIdentification(sim::CTallySimulator::kDefaultIdentification);
    Connect();
}

TEST_F(TallyTest, ExportsRefuseStrangersAndNullOutputsWithoutSendingAnything) {
    Connect();
    int dummy = 0, valid = 0;
    void* stranger = &dummy;
    double seconds = 0;
    uint32_t count = 0;
    EtcIdentificationStruct id;
    EtcDiagnosticsStruct diagnostics;
    bool called = false;
    const EtcError strangers[] = {
        Etc_IsValidDevice(stranger, &valid), Etc_GetIdentification(stranger, &id),
        Etc_GetElapsedTime(stranger, &seconds),
        Etc_GetElapsedTimeCallback(stranger, [&](int, double) { called = true; }),
        Etc_GetPowerCycleCount(nullptr, &count), Etc_GetPowerCycleCountCallback(stranger, nullptr),
        Etc_Reset(stranger, 1, nullptr), Etc_SetBaseElapsedTimeCount(stranger, 1, 1, nullptr),
        Etc_SetBasePowerCycleCount(stranger, 1, 1, nullptr), Etc_GetDiagnostics(stranger, &diagnostics),
        Etc_GetDiagnosticsCallback(stranger, [&](int, EtcDiagnosticsStruct) { called = true; }),
        Etc_Disconnect(&stranger, 1, nullptr), Etc_Disconnect(nullptr, 1, nullptr)};
    for (size_t i = 0; i < std::size(strangers); ++i) EXPECT_EQ(strangers[i], EtcErrorInvalidHandle) << i;
    const EtcError nullOutputs[] = {
        Etc_IsValidDevice(m_handle, nullptr), Etc_GetIdentification(m_handle, nullptr),
        Etc_GetElapsedTime(m_handle, nullptr), Etc_GetPowerCycleCount(m_handle, nullptr),
        Etc_GetDiagnostics(m_handle, nullptr), Etc_GetDiagnosticsCallback(m_handle, nullptr)};
    for (size_t i = 0; i < std::size(nullOutputs); ++i) EXPECT_EQ(nullOutputs[i], EtcErrorInvalidParameter) << i;
    EXPECT_FALSE(called);
    EXPECT_TRUE(Wire().empty());
}

}  // namespace
}  // namespace tallytest
