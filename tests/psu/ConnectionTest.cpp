// PsuDll connecting, identification, disconnecting, handles and log set-up,
// through the exports against the simulated supply.
#include "PsuFixture.h"

namespace psutest {
namespace {

struct IdentificationCase {
    std::string name;
    std::string reply;
    bool valid;
    std::vector<std::string> fields;  // the response is always the whole reply
};

void PrintTo(const IdentificationCase& c, std::ostream* out) { *out << '"' << c.reply << '"'; }

class IdentificationTest : public PsuTest, public ::testing::WithParamInterface<IdentificationCase> {};

// Connected without blocking, so even a refused reply leaves a handle whose
// record can be read.
TEST_P(IdentificationTest, ParsesReplyAndDecidesValidity) {
    const IdentificationCase& c = GetParam();
    m_sim->SetIdentity(c.reply);
    CTestEvent identified;
    ASSERT_EQ(Agilent_Connect(Settings(), &m_handle, 0, identified.Get()), AgilentSuccess);
    ASSERT_TRUE(identified.Wait());

    int valid = -1;
    ASSERT_EQ(Agilent_IsValidDevice(m_handle, &valid), AgilentSuccess);
    EXPECT_EQ(valid, c.valid ? 1 : 0);
    AgilentIdentificationStruct id;
    ASSERT_EQ(Agilent_GetIdentification(m_handle, &id), AgilentSuccess);
    EXPECT_EQ((std::vector<std::string>{id.manufacturer, id.model, id.mainVersion, id.ioRevision,
                                        id.frontPanelRevision}),
              c.fields);
    EXPECT_EQ(id.response, c.reply);

    // Only a supply that was recognised gets its front panel locked.
    EXPECT_EQ(WireUpToMarker(), (c.valid ? std::vector<std::string>{"*IDN?", "SYST:RWL", "VOLT?"}
                                         : std::vector<std::string>{"*IDN?", "VOLT?"}));
    EXPECT_EQ(m_sim->State().RemoteLocked(), c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, IdentificationTest,
    ::testing::Values(
        IdentificationCase{"Instrument", "Agilent Technologies,E3633A,0,1.7-5.0-1.0", true,
                           {"Agilent Technologies", "E3633A", "1.7", "5.0", "1.0"}},
        IdentificationCase{"NoFirmwareField", "M,E3633A,0", true, {"M", "E3633A", "", "", ""}},
        IdentificationCase{"FirmwareWithoutDash", "M,E3633A,0,A", true, {"M", "E3633A", "", "", ""}},
        IdentificationCase{"TrailingCharacters", "M,E3633A,0,A-B-C-D ", true, {"M", "E3633A", "A", "B", "C-D "}},
        IdentificationCase{"OneComma", "M,E3633A", false, {"M", "", "", "", ""}},
        IdentificationCase{"LowerCaseModel", "M,e3633a,0,A-B-C", false, {"M", "e3633a", "A", "B", "C"}},
        IdentificationCase{"LongerModel", "M,E3633AX,0,A-B-C", false, {"M", "E3633AX", "A", "B", "C"}},
        IdentificationCase{"ModelWithBlank", "M,E3633A ,0,A-B-C", false, {"M", "E3633A ", "A", "B", "C"}},
        IdentificationCase{"Silence", "", false, {"", "", "", "", ""}}),
    [](const auto& info) { return info.param.name; });

TEST_F(PsuTest, BlockingConnectIdentifiesAndLogsTheSupplyAndClosesTheEvent) {
    const HANDLE event = CTestEvent().Release();
    ASSERT_EQ(Agilent_Connect(Settings(), &m_handle, 1, event), AgilentSuccess);
    ASSERT_NE(m_handle, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);  // closed: handles are never reused
    EXPECT_EQ(WireUpToMarker(), (std::vector<std::string>{"*IDN?", "SYST:RWL", "VOLT?"}));
    EXPECT_TRUE(m_sim->State().RemoteLocked());
    EXPECT_TRUE(LogHas(": Initializing serial port with the following settings: Port: 7, Baud: 9600, "
                       "Parity: None, Databits: 8, Stopbits: 2, FlowControl: None"));
    EXPECT_TRUE(LogHas(": An Agilent E3633A Power Supply has been detected with the following properties: "
                       "Manufacturer: Agilent Technologies, Model: E3633A, Main Power Supply Version: 1.7, "
                       "IO Processor Revision: 5.0, Front Panel Revision: 1.0"));
    EXPECT_TRUE(LogHas(": Locking the front panel controls."));
    EXPECT_TRUE(LogHas(": Logfile path set to \"" + m_logPath.string() + "\""));
}

// Ports that cannot be opened, a wrong model, and silence until the reply
// time-out: no handle, and the port is closed again, since the next connect
// opens it at once.
TEST_F(PsuTest, FailedConnectsLeaveNoHandleAndFreeThePort) {
    for (const unsigned com : {kCom + 1, 0u, 128u}) {
        EXPECT_EQ(Agilent_Connect(Settings(com), &m_handle, com != 128, nullptr), AgilentErrorFailed) << com;
        EXPECT_EQ(m_handle, nullptr);
    }
    EXPECT_TRUE(LogHas(": Error initializing the serial port."));
    const std::string noDevice = ": No Agilent E3633A detected on the serial port.";
    size_t logged = 0;
    for (const char* identity : {"Agilent Technologies,E3631A,0,1.7-5.0-1.0", ""}) {
        SCOPED_TRACE(identity);
        m_sim->SetIdentity(identity);
        EXPECT_EQ(Agilent_Connect(Settings(), &m_handle, 1, nullptr), AgilentErrorFailed);
        EXPECT_EQ(m_handle, nullptr);
        const size_t at = LogText().find(noDevice, logged);
        ASSERT_NE(at, std::string::npos);
        logged = at + 1;
    }
    m_sim->SetIdentity(sim::CPsuSimulator::kDefaultIdentity);
    EXPECT_EQ(Agilent_Connect(Settings(), &m_handle, 1, nullptr), AgilentSuccess);
}

// Blocking, then without blocking: each time the handle is gone at once and
// the port free again once the call or the caller's event says so.
TEST_F(PsuTest, DisconnectUnlocksEndsARampClosesAndInvalidatesTheHandleBlockingOrNot) {
    Connect();
    void* old = m_handle;
    const HANDLE event = CTestEvent().Release();
    ASSERT_EQ(Agilent_Disconnect(&m_handle, 1, event), AgilentSuccess);
    EXPECT_EQ(m_handle, nullptr);
    // The event was handed over, as to a blocking connect: closed.
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    ASSERT_TRUE(m_sim->WaitForCommand("SYST:LOC", kLimit));
    EXPECT_EQ(Wire(), std::vector<std::string>{"SYST:LOC"});
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !m_sim->State().RemoteLocked(); }));
    EXPECT_TRUE(LogHas(": Unlocking the front panel controls."));
    EXPECT_TRUE(LogHas(": Disconnecting from serial port."));
    EXPECT_EQ(Agilent_Disconnect(&m_handle, 1, nullptr), AgilentErrorInvalidHandle);
    void* stale = old;
    EXPECT_EQ(Agilent_Disconnect(&stale, 1, nullptr), AgilentErrorInvalidHandle);
    double value;
    EXPECT_EQ(Agilent_GetCurrent(old, &value), AgilentErrorInvalidHandle);

    // With a ramp in flight, which must end without hanging the close and
    // send no step after the unlock; the caller's abort event is left alone.
    Connect();
    old = m_handle;
    CTestEvent closed, abort(true);
    ASSERT_EQ(Agilent_RampUp(m_handle, 8.0, 12.0, 20, abort.Get(), 0, nullptr), AgilentSuccess);
    ASSERT_TRUE(m_sim->WaitForCommand("CURR 1.000", kLimit));
    ASSERT_EQ(Agilent_Disconnect(&m_handle, 0, closed.Get()), AgilentSuccess);
    EXPECT_EQ(m_handle, nullptr);
    int valid;
    EXPECT_EQ(Agilent_IsValidDevice(old, &valid), AgilentErrorInvalidHandle);
    ASSERT_TRUE(closed.Wait());
    ASSERT_TRUE(m_sim->WaitForCommand("SYST:LOC", kLimit));
    EXPECT_EQ(Wire().back(), "SYST:LOC");
    // The event comes after the device is gone, its last entry written.
    EXPECT_TRUE(LogHas(": Uninitializing Pantheios library."));
    EXPECT_TRUE(LogHas(": Aborting ramp up!"));
    EXPECT_FALSE(abort.IsSet());
    ASSERT_EQ(Agilent_Connect(Settings(), &m_handle, 1, nullptr), AgilentSuccess);

    // Without an event the port is still closed: it opens again soon.
    ASSERT_EQ(Agilent_Disconnect(&m_handle, 0, nullptr), AgilentSuccess);
    EXPECT_EQ(m_handle, nullptr);
    EXPECT_TRUE(testsupport::WaitUntil([&] {
        return Agilent_Connect(Settings(), &m_handle, 1, nullptr) == AgilentSuccess;
    }));
}

TEST_F(PsuTest, EveryHandleExportRefusesAnUnlistedHandle) {
    int dummy = 0, flag = 0;
    void* bogus = &dummy;
    double value = 1.0;
    AgilentOutput output = AgilentOutput_Off;
    AgilentIdentificationStruct id;
    auto token = std::make_shared<int>(0);
    int calls = 0;
    AgilentResponseCallback callback = [token, &calls](int, double) { ++calls; };
    AgilentProgressCallback progress = [token, &calls](double) { ++calls; };
    // In order; with an unlisted handle a null output is refused for the handle.
    const AgilentError results[] = {
        Agilent_GetIdentification(bogus, &id), Agilent_IsValidDevice(bogus, &flag),
        Agilent_IsRampedUp(bogus, &flag), Agilent_SetOutput(bogus, AgilentOutput_On, 1, nullptr),
        Agilent_SetDisplay(bogus, AgilentDisplay_On, 1, nullptr), Agilent_SetDisplayMessage(bogus, "X", 1, nullptr),
        Agilent_ClearDisplayMessage(bogus, 1, nullptr),
        Agilent_SetVoltageRange(bogus, AgilentVoltageRange_Low, 1, nullptr),
        Agilent_SetCurrent(bogus, 1.0, 1, nullptr), Agilent_SetVoltage(bogus, 1.0, 1, nullptr),
        Agilent_SetCurrentLimit(bogus, 1.0, 1, nullptr), Agilent_SetVoltageLimit(bogus, 1.0, 1, nullptr),
        Agilent_ResetOCP(bogus, 1, nullptr), Agilent_ResetOVP(bogus, 1, nullptr),
        Agilent_GetCurrent(bogus, &value), Agilent_GetVoltage(bogus, &value),
        Agilent_MeasureCurrent(bogus, &value), Agilent_MeasureVoltage(bogus, &value),
        Agilent_MeasureCurrent(bogus, nullptr), Agilent_GetOutput(bogus, &output),
        Agilent_GetCurrentCallback(bogus, callback),
        Agilent_GetVoltageCallback(bogus, callback), Agilent_MeasureCurrentCallback(bogus, callback),
        Agilent_MeasureVoltageCallback(bogus, callback), Agilent_RampUp(bogus, 8.0, 12.0, 1, nullptr, 1, nullptr),
        Agilent_RampUpReportProgress(bogus, 8.0, 12.0, 1, nullptr, nullptr, progress),
        Agilent_RampDown(bogus, 1, nullptr, 1, nullptr),
        Agilent_RampDownReportProgress(bogus, 1, nullptr, nullptr, progress),
        Agilent_Disconnect(&bogus, 1, nullptr), Agilent_IsValidDevice(nullptr, &flag),
        Agilent_Disconnect(nullptr, 1, nullptr)};
    for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], AgilentErrorInvalidHandle) << i;
    EXPECT_EQ(bogus, &dummy);
    EXPECT_EQ(Agilent_Connect(Settings(), nullptr, 1, nullptr), AgilentErrorInvalidParameter);
    EXPECT_TRUE(Wire().empty());

    // Nothing written, nothing called, and every copy of the callables let go.
    EXPECT_EQ(value, 1.0);
    EXPECT_EQ(calls, 0);
    callback = nullptr;
    progress = nullptr;
    EXPECT_EQ(token.use_count(), 1);
}

TEST_F(PsuTest, LogCeilingAndPathReachConnectedDevicesAndTheCeilingStopsAtSeven) {
    ASSERT_EQ(Agilent_SetLogCeiling(0), AgilentSuccess);
    Connect();
    EXPECT_EQ(LogText(), "");  // nothing passes ceiling 0

    ASSERT_EQ(Agilent_SetLogCeiling(3), AgilentSuccess);
    ASSERT_EQ(Agilent_SetCurrent(m_handle, 1.0, 1, nullptr), AgilentSuccess);
    m_sim->OverrideReply(R"(CURR\?)", "abc\r\n");
    double value;
    EXPECT_EQ(Agilent_GetCurrent(m_handle, &value), AgilentErrorCommandFailed);
    EXPECT_FALSE(LogHas("Setting the current"));
    EXPECT_TRUE(LogHas("; Error]: CAgilentE3633A (0x"));
    EXPECT_TRUE(LogHas(": Error converting response to double. Response = \"abc\"."));

    ASSERT_EQ(Agilent_SetLogCeiling(7), AgilentSuccess);
    EXPECT_TRUE(LogHas("; Debug]: CAgilentE3633A (0x"));
    EXPECT_TRUE(LogHas(": Logging ceiling set to 7"));
    EXPECT_EQ(Agilent_SetLogCeiling(8), AgilentErrorFailed);
    EXPECT_EQ(Agilent_SetLogCeiling(0xFFFFFFFFu), AgilentErrorFailed);

    // A new path moves the log of the devices already connected.
    const auto second = m_xdg.Root() / "second.log";
    ASSERT_EQ(Agilent_SetLogfilePath(second.wstring().c_str()), AgilentSuccess);
    ASSERT_EQ(Agilent_SetCurrent(m_handle, 2.0, 1, nullptr), AgilentSuccess);
    const std::string moved = testsupport::ReadFile(second);
    EXPECT_NE(moved.find(": Logfile path set to \"" + second.string() + "\""), std::string::npos);
    EXPECT_NE(moved.find(": Setting the current to 2.000A."), std::string::npos);
    EXPECT_FALSE(LogHas("2.000A."));
}

}  // namespace
}  // namespace psutest
