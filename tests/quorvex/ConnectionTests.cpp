// Connecting, identification, disconnecting, handles and the log set-up of
// the head driver, through its exports against the simulated head.
#include "QuorvexFixture.h"

#include <atomic>
#include <thread>
#include <vector>

namespace qvtest {
namespace {

using ConnectionTest = QuorvexTest;

TEST_F(ConnectionTest, WaitingConnectIdentifiesTheHeadAndAsksItsStatus) {
    EnableLog();
    ASSERT_EQ(Connect(), QuorvexSuccess);
    ASSERT_NE(m_handle, nullptr);
    int valid = 0;
    EXPECT_EQ(Quorvex_IsValidDevice(m_handle, &valid), QuorvexSuccess);
    EXPECT_EQ(valid, 1);
    QuorvexIdentificationStruct id;
    ASSERT_EQ(Quorvex_GetIdentification(m_handle, &id), QuorvexSuccess);
    EXPECT_EQ(id.manufacturer, "Vandrel Scientific Ltd");
    EXPECT_EQ(id.model, "QUORVEX");
    EXPECT_EQ(id.firmware, "QVX-FW 2.14");
    EXPECT_EQ(id.serialNumber, "10427");
    EXPECT_EQ(id.response, "Vandrel Scientific Ltd,QUORVEX,QVX-FW 2.14,10427");
    EXPECT_TRUE(m_head->WaitForCommand(R"(S\?)", kLimit));
    EXPECT_EQ(m_head->Received().front().text, "I?");

    // The ceiling applies as soon as it is set, so the new device's log
    // opens with its initialisation entry; the saved ceiling and path follow,
    // before anything the connection writes.
    const std::string log = LogText();
    const size_t initialised = log.find(": Pantheios library initialized.");
    const size_t ceiling = log.find(": Logging ceiling set to 7");
    const size_t path = log.find(": Logfile path set to \"" + m_logPath.string() + "\"");
    const size_t settings = log.find(": Initializing serial port with the following settings: Port: 4, "
                                     "Baud: 9600, Parity: None, Databits: 8, Stopbits: 1, FlowControl: None");
    ASSERT_NE(initialised, std::string::npos);
    ASSERT_NE(ceiling, std::string::npos);
    ASSERT_NE(path, std::string::npos);
    ASSERT_NE(settings, std::string::npos);
    EXPECT_LT(initialised, ceiling);
    EXPECT_LT(ceiling, path);
    EXPECT_LT(path, settings);
    EXPECT_NE(log.find("; Debug]: CQuorvex (0x"), std::string::npos);
    EXPECT_NE(log.find(": A Vandrel Quorvex Low Brightness Source has been detected with the following "
                       "properties: Manufacturer: Vandrel Scientific Ltd, Model: QUORVEX, Firmware: "
                       "QVX-FW 2.14, Serial Number: 10427"),
              std::string::npos);
}

TEST_F(ConnectionTest, ReplyWithoutCommasChangesOnlyTheResponse) {
    m_head->OverrideReply(R"(I\?)", "QUORVEX");
    CTestEvent identified;
    ASSERT_EQ(Connect(0, identified.Get()), QuorvexSuccess);
    ASSERT_TRUE(identified.Wait());
    int valid = -1;
    EXPECT_EQ(Quorvex_IsValidDevice(m_handle, &valid), QuorvexSuccess);
    EXPECT_EQ(valid, 0);
    QuorvexIdentificationStruct id;
    ASSERT_EQ(Quorvex_GetIdentification(m_handle, &id), QuorvexSuccess);
    EXPECT_EQ(id.response, "QUORVEX");
    EXPECT_EQ(id.model, "");
    EXPECT_EQ(id.serialNumber, "");
    EXPECT_FALSE(identified.IsSet()) << "the identification event is signalled once";
}

TEST_F(ConnectionTest, ConnectWithoutWaitReturnsBeforeTheIdentification) {
    m_head->OverrideReply(R"(I\?)", "Vandrel,QUORVEX,FW 3,104,27");
    m_head->InjectFault(R"(I\?)", sim::Fault{sim::FaultKind::Late, 800});
    CTestEvent identified;
    ASSERT_EQ(Connect(0, identified.Get()), QuorvexSuccess);
    int valid = -1;
    EXPECT_EQ(Quorvex_IsValidDevice(m_handle, &valid), QuorvexSuccess);
    EXPECT_EQ(valid, 0);
    ASSERT_TRUE(identified.Wait());
    EXPECT_EQ(Quorvex_IsValidDevice(m_handle, &valid), QuorvexSuccess);
    EXPECT_EQ(valid, 1);
    // The serial number is everything after the third comma.
    QuorvexIdentificationStruct id;
    ASSERT_EQ(Quorvex_GetIdentification(m_handle, &id), QuorvexSuccess);
    EXPECT_EQ(id.firmware, "FW 3");
    EXPECT_EQ(id.serialNumber, "104,27");
}

TEST_F(ConnectionTest, FailedConnectionsReturnOneAndGiveThePortBack) {
    EnableLog();
    m_handle = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(Connect(1, nullptr, 127), QuorvexErrorFailed);  // nothing linked as COM127
    EXPECT_EQ(m_handle, nullptr);
    const std::string log = LogText();
    const size_t settings = log.find(": Initializing serial port with the following settings: Port: 127");
    const size_t failed = log.find(": Error initializing the serial port.");
    ASSERT_NE(failed, std::string::npos);
    EXPECT_LT(settings, failed);
    EXPECT_EQ(Connect(1, nullptr, 0), QuorvexErrorFailed);  // outside 1..127

    m_head->InjectFault(R"(I\?)", sim::Fault{sim::FaultKind::NoReply});
    EXPECT_EQ(Connect(), QuorvexErrorFailed);  // the head stays silent
    EXPECT_EQ(m_handle, nullptr);
    m_head->SetIdentity({"Vandrel", "QUORVEXX", "1", "2"});
    EXPECT_EQ(Connect(), QuorvexErrorFailed);  // another model
    EXPECT_TRUE(LogHas(": No Quorvex detected on the serial port."));
    // The port was given back: a head that does identify itself connects.
    m_head->SetIdentity({});
    EXPECT_EQ(Connect(), QuorvexSuccess);
}

TEST_F(ConnectionTest, EveryExportRefusesAHandleThatIsNotConnected) {
    ConnectOrFail();
    void* old = m_handle;
    ASSERT_EQ(Quorvex_Disconnect(&m_handle, 1, nullptr), QuorvexSuccess);
    EXPECT_EQ(m_handle, nullptr);
    int i = 0, pair[2];
    double t[4];
    QuorvexIdentificationStruct id;
    QuorvexSpectralTable spectral;
    QuorvexApertureTable aperture;
    EXPECT_EQ(Quorvex_Disconnect(&old, 1, nullptr), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_GetIdentification(old, &id), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_IsValidDevice(old, &i), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_Home(old, 1, nullptr), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_SetPosition(old, 1, 1, 1, nullptr), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_GetPosition(old, pair), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_GetTemperature(old, t), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_SetParameter(old, QuorvexParameterPrimaryWheelConfiguration, 1, 1, nullptr),
              QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_GetParameter(old, QuorvexParameterPrimaryWheelConfiguration, &i),
              QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_GetPositionCallback(old, [](int, int, int) {}, nullptr), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_GetTemperatureCallback(old, [](int, double, double, double, double) {}, nullptr),
              QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_GetParameterCallback(old, QuorvexParameterPrimaryWheelConfiguration, [](int, int) {},
                                           nullptr),
              QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_UploadSpectralCalibrationData(old, L"x", 1, nullptr, nullptr), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_UploadApertureCalibrationData(old, L"", 1, nullptr, nullptr), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_UploadSpectralCalibrationData_ProgressCallback(old, L"x", nullptr, nullptr, nullptr),
              QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_UploadApertureCalibrationData_ProgressCallback(old, L"", nullptr, nullptr, nullptr),
              QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_DownloadSpectralCalibrationData(old, 1, nullptr, nullptr), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_DownloadApertureCalibrationData(old, 1, nullptr, nullptr), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_SetSpectralCalibrationData(old, {}), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_GetSpectralCalibrationData(old, &spectral), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_SetApertureCalibrationData(old, {}), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_GetApertureCalibrationData(old, &aperture), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_SaveSpectralCalibrationData(old, L"x"), QuorvexErrorInvalidHandle);
    EXPECT_EQ(Quorvex_SaveApertureCalibrationData(old, L"x"), QuorvexErrorInvalidHandle);
    EXPECT_TRUE(Wire().empty()) << "nothing reached the head";
}

TEST_F(ConnectionTest, NullPointersAreRefusedAndNothingIsSent) {
    ConnectOrFail();
    EXPECT_EQ(Quorvex_GetIdentification(m_handle, nullptr), QuorvexErrorInvalidParameter);
    EXPECT_EQ(Quorvex_IsValidDevice(m_handle, nullptr), QuorvexErrorInvalidParameter);
    EXPECT_EQ(Quorvex_GetPosition(m_handle, nullptr), QuorvexErrorInvalidParameter);
    EXPECT_EQ(Quorvex_GetTemperature(m_handle, nullptr), QuorvexErrorInvalidParameter);
    EXPECT_EQ(Quorvex_GetParameter(m_handle, QuorvexParameter(3), nullptr), QuorvexErrorInvalidParameter);
    EXPECT_EQ(Quorvex_GetSpectralCalibrationData(m_handle, nullptr), QuorvexErrorInvalidParameter);
    EXPECT_EQ(Quorvex_GetApertureCalibrationData(m_handle, nullptr), QuorvexErrorInvalidParameter);
    EXPECT_EQ(Quorvex_Connect(kCom, 9600, 0, 8, 0, 0, nullptr, 1, nullptr), QuorvexErrorInvalidParameter);
    EXPECT_EQ(Quorvex_Disconnect(nullptr, 1, nullptr), QuorvexErrorInvalidHandle);
    // A read that does go out comes back alone: nothing was queued before it.
    int pair[2];
    ASSERT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexSuccess);
    EXPECT_EQ(Wire(), std::vector<std::string>{"P?"});
}

TEST_F(ConnectionTest, DisconnectSignalsItsEventOnceThePortIsClosedAndLeavesItOpen) {
    EnableLog();
    for (const int wait : {0, 1}) {
        ConnectOrFail();
        // Once a later read is answered, the "S?" reply is in too: none is
        // left on the line for the next connection's "I?".
        int pair[2];
        ASSERT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexSuccess);
        void* handle = m_handle;
        CTestEvent closed;
        ASSERT_EQ(Quorvex_Disconnect(&m_handle, wait, closed.Get()), QuorvexSuccess);
        EXPECT_EQ(m_handle, nullptr);
        int valid;
        EXPECT_EQ(Quorvex_IsValidDevice(handle, &valid), QuorvexErrorInvalidHandle);
        ASSERT_TRUE(closed.Wait());
        EXPECT_TRUE(SetEvent(closed.Get())) << "the caller's event is still open";
        EXPECT_NE(LogText().find(": Uninitializing Pantheios library."), std::string::npos);
    }
    EXPECT_EQ(Connect(), QuorvexSuccess) << "the port is free again";
}

TEST_F(ConnectionTest, DisconnectEndsWorkersThatAreStillWaitingForTheHead) {
    ConnectOrFail();
    m_head->InjectFault(R"(T\?)", sim::Fault{sim::FaultKind::NoReply});
    testsupport::CLatch called;
    std::atomic<int> validSeen{-1};
    CTestEvent done, closed;
    ASSERT_EQ(Quorvex_GetTemperatureCallback(
                  m_handle,
                  [&](int valid, double, double, double, double) {
                      validSeen = valid;
                      called.Signal();
                  },
                  done.Get()),
              QuorvexSuccess);
    ASSERT_TRUE(m_head->WaitForCommand(R"(T\?)", kLimit));
    ASSERT_EQ(Quorvex_Disconnect(&m_handle, 0, closed.Get()), QuorvexSuccess);
    ASSERT_TRUE(closed.Wait());
    // The worker ended before the object went: its callable ran once and its
    // event was signalled.
    EXPECT_EQ(called.Count(), 1);
    EXPECT_EQ(validSeen, 0);
    EXPECT_TRUE(done.IsSet());
}

TEST_F(ConnectionTest, ExportsFromManyThreadsSurviveConnectsAndDisconnects) {
    // Unanswered reads keep callers blocked inside the library while the
    // device is disconnected under them (and leave no stale replies on the
    // line for the next connection).
    m_head->InjectFault(R"(T\?)", sim::Fault{sim::FaultKind::NoReply, 0, 5, -1});
    std::atomic<void*> shared{nullptr};
    std::atomic<int> unexpected{0};
    struct Callers {
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        ~Callers() {
            stop = true;
            for (auto& t : threads) t.join();
        }
    } callers;
    for (int i = 0; i < 3; ++i) {
        callers.threads.emplace_back([&, i] {
            while (!callers.stop) {
                double t[4];
                int valid;
                QuorvexIdentificationStruct id;
                const QuorvexError a = i == 0 ? Quorvex_GetTemperature(shared.load(), t)
                                              : Quorvex_GetIdentification(shared.load(), &id);
                const QuorvexError b = Quorvex_IsValidDevice(shared.load(), &valid);
                if ((a != QuorvexSuccess && a != QuorvexErrorInvalidHandle && a != QuorvexErrorCommandFailed) ||
                    (b != QuorvexSuccess && b != QuorvexErrorInvalidHandle))
                    ++unexpected;
            }
        });
    }
    for (int round = 0; round < 8; ++round) {
        void* handle = nullptr;
        ASSERT_EQ(Quorvex_Connect(kCom, 9600, 0, 8, 0, 0, &handle, 1, nullptr), QuorvexSuccess);
        shared = handle;
        ASSERT_TRUE(m_head->WaitForCommand(R"(T\?)", kLimit));
        m_head->ClearReceived();
        CTestEvent closed;
        ASSERT_EQ(Quorvex_Disconnect(&handle, round % 2, round % 2 ? nullptr : closed.Get()), QuorvexSuccess);
        if (round % 2 == 0) {
            ASSERT_TRUE(closed.Wait());
        }
    }
    EXPECT_EQ(unexpected, 0);
}

TEST_F(ConnectionTest, LogCeilingFiltersBySeverity) {
    EXPECT_EQ(Quorvex_SetLogCeiling(8), QuorvexErrorInvalidParameter);
    EXPECT_EQ(Quorvex_SetLogfilePath(L"/nonexistent/folder/q.log"), QuorvexSuccess);
    EnableLog(3);
    ConnectOrFail();
    m_head->OverrideReply(R"(C5\(.*\))", "-6");
    EXPECT_EQ(Quorvex_SetParameter(m_handle, QuorvexParameter(5), 1, 1, nullptr), QuorvexErrorCommandFailed);
    m_head->SendRaw("!Q:1\r");  // a warning, filtered out at ceiling 3
    // The reply to a later command comes after the line on the wire: once
    // it is in, the line has been dealt with.
    int value;
    EXPECT_EQ(Quorvex_GetParameter(m_handle, QuorvexParameter(5), &value), QuorvexSuccess);
    ASSERT_TRUE(LogHas(": Error Code = -6, Message = Syntax Error"));
    ASSERT_EQ(Quorvex_SetLogCeiling(4), QuorvexSuccess);
    m_head->SendRaw("!Q:2\r");
    ASSERT_TRUE(LogHas(": Unexpected response received. \"!Q:2\"."));
    const std::string log = LogText();
    EXPECT_EQ(log.find("!Q:1"), std::string::npos);
    EXPECT_EQ(log.find("; Debug]"), std::string::npos);
    EXPECT_NE(log.find("; Warning]"), std::string::npos);
    EXPECT_NE(log.find("; Error]"), std::string::npos);
}

TEST_F(ConnectionTest, TwoDevicesHaveTheirOwnPrefixesAndShareTheCeiling) {
    sim::CHeadSimulator second(m_xdg.PortsFolder(), kCom + 1);
    second.Start();
    EnableLog();
    ConnectOrFail();
    void* other = nullptr;
    struct Disconnector {
        void*& handle;
        ~Disconnector() {
            if (handle) Quorvex_Disconnect(&handle, 1, nullptr);
        }
    } disconnect{other};  // before the second head goes
    ASSERT_EQ(Quorvex_Connect(kCom + 1, 9600, 0, 8, 0, 0, &other, 1, nullptr), QuorvexSuccess);
    const size_t before = LogText().size();
    ASSERT_EQ(Quorvex_SetLogCeiling(7), QuorvexSuccess);
    const std::string log = LogText();
    const std::string entry = ": Logging ceiling set to 7";
    const size_t first = log.find(entry, before);
    ASSERT_NE(first, std::string::npos);
    const size_t secondEntry = log.find(entry, first + 1);
    ASSERT_NE(secondEntry, std::string::npos);
    auto prefixBefore = [&](size_t at) {
        const size_t start = log.rfind("CQuorvex (0x", at);
        return log.substr(start, at - start);
    };
    EXPECT_NE(prefixBefore(first), prefixBefore(secondEntry));
}

}  // namespace
}  // namespace qvtest
