// Connecting, identification, disconnecting, handles and the log set-up of
// the head driver, through its exports against the simulated head.
#include "QuorvexFixture.h"

#include <atomic>
#include <memory>
#include <regex>
#include <set>
#include <thread>
#include <vector>

namespace qvtest {
namespace {

using ConnectionTest = QuorvexTest;

TEST_F(ConnectionTest, WaitingConnectIdentifiesTheHeadAndAsksItsStatus) {
    ASSERT_EQ(Connect(), QuorvexSuccess);
    ASSERT_NE(m_handle, nullptr);
    EXPECT_EQ(Valid(), 1);
    EXPECT_EQ(Identification(), (std::vector<std::string>{"Vandrel Scientific Ltd", "QUORVEX", "QVX-FW 2.14", "10427",
                                                          "Vandrel Scientific Ltd,QUORVEX,QVX-FW 2.14,10427"}));
    EXPECT_TRUE(m_sim->WaitForCommand(R"(S\?)", kLimit));
    EXPECT_EQ(m_sim->Received().front().text, "I?");

    // The ceiling applies as soon as it is set, so the new device's log
    // opens with its initialisation entry; the saved ceiling and path follow,
    // before anything the connection writes.
    const std::string log = LogText();
    size_t last = 0;
    for (const std::string& entry :
         {std::string(": Pantheios library initialized."), std::string(": Logging ceiling set to 7"),
          ": Logfile path set to \"" + m_logPath.string() + "\"",
          std::string(": Initializing serial port with the following settings: Port: 7, Baud: 9600, Parity: None, "
                      "Databits: 8, Stopbits: 1, FlowControl: None"),
          std::string(": A Vandrel Quorvex Low Brightness Source has been detected with the following properties: "
                      "Manufacturer: Vandrel Scientific Ltd, Model: QUORVEX, Firmware: QVX-FW 2.14, "
                      "Serial Number: 10427")}) {
        last = log.find(entry, last);
        ASSERT_NE(last, std::string::npos) << entry << " missing or out of order";
    }
    EXPECT_NE(log.find("; Debug]: CQuorvex (0x"), std::string::npos);
}

TEST_F(ConnectionTest, ReplyWithoutCommasChangesOnlyTheResponse) {
    m_sim->OverrideReply(R"(I\?)", "QUORVEX");
    CTestEvent identified;
    ASSERT_EQ(Connect(0, identified.Get()), QuorvexSuccess);
    ASSERT_TRUE(identified.Wait());
    EXPECT_EQ(Valid(), 0);
    EXPECT_EQ(Identification(), (std::vector<std::string>{"", "", "", "", "QUORVEX"}));
    EXPECT_FALSE(identified.IsSet()) << "the identification event is signalled once";
}

TEST_F(ConnectionTest, ConnectWithoutWaitReturnsBeforeTheIdentification) {
    m_sim->OverrideReply(R"(I\?)", "Vandrel,QUORVEX,FW 3,104,27");
    m_sim->InjectFault(R"(I\?)", sim::Fault{sim::FaultKind::Late, 800});
    CTestEvent identified;
    ASSERT_EQ(Connect(0, identified.Get()), QuorvexSuccess);
    EXPECT_EQ(Valid(), 0);
    ASSERT_TRUE(identified.Wait());
    EXPECT_EQ(Valid(), 1);
    // The serial number is everything after the third comma.
    EXPECT_EQ(Identification(),
              (std::vector<std::string>{"Vandrel", "QUORVEX", "FW 3", "104,27", "Vandrel,QUORVEX,FW 3,104,27"}));
}

TEST_F(ConnectionTest, FailedConnectionsReturnOneAndGiveThePortBack) {
    m_handle = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(Connect(1, nullptr, 127), QuorvexErrorFailed);  // nothing linked as COM127
    EXPECT_EQ(m_handle, nullptr);
    const std::string log = LogText();
    const size_t settings = log.find(": Initializing serial port with the following settings: Port: 127");
    const size_t failed = log.find(": Error initializing the serial port.");
    ASSERT_NE(failed, std::string::npos);
    EXPECT_LT(settings, failed);
    EXPECT_EQ(Connect(1, nullptr, 0), QuorvexErrorFailed);  // outside 1..127

    m_sim->InjectFault(R"(I\?)", sim::Fault{sim::FaultKind::NoReply});
    EXPECT_EQ(Connect(), QuorvexErrorFailed);  // the head stays silent
    EXPECT_EQ(m_handle, nullptr);
    m_sim->SetIdentity({"Vandrel", "QUORVEXX", "1", "2"});
    EXPECT_EQ(Connect(), QuorvexErrorFailed);  // another model
    EXPECT_TRUE(WaitForLog(": No Quorvex detected on the serial port."));
    // The port was given back: a head that does identify itself connects.
    m_sim->SetIdentity({});
    EXPECT_EQ(Connect(), QuorvexSuccess);
}

TEST_F(ConnectionTest, NullPointersAndStaleHandlesAreRefusedAndNothingIsSent) {
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
    int i = 0, pair[2];
    ASSERT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexSuccess);
    EXPECT_EQ(Sent(), std::vector<std::string>{"P?"});

    void* old = m_handle;
    ASSERT_EQ(Quorvex_Disconnect(&m_handle, 1, nullptr), QuorvexSuccess);
    EXPECT_EQ(m_handle, nullptr);
    // Every export finds its device through one look-up: one of each kind
    // of call (blocking, callback, transfer, held table, save) stands for all.
    constexpr QuorvexError kRefused = QuorvexErrorInvalidHandle;
    QuorvexIdentificationStruct id;
    QuorvexSpectralTable spectral;
    EXPECT_EQ(Quorvex_Disconnect(&old, 1, nullptr), kRefused);
    EXPECT_EQ(Quorvex_GetIdentification(old, &id), kRefused);
    EXPECT_EQ(Quorvex_IsValidDevice(old, &i), kRefused);
    EXPECT_EQ(Quorvex_SetPosition(old, 1, 1, 1, nullptr), kRefused);
    EXPECT_EQ(Quorvex_GetPosition(old, pair), kRefused);
    EXPECT_EQ(Quorvex_GetParameterCallback(old, QuorvexParameter(2), [](int, int) {}, nullptr), kRefused);
    EXPECT_EQ(Quorvex_UploadSpectralCalibrationData(old, L"x", 1, nullptr, nullptr), kRefused);
    EXPECT_EQ(Quorvex_DownloadApertureCalibrationData(old, 1, nullptr, nullptr), kRefused);
    EXPECT_EQ(Quorvex_GetSpectralCalibrationData(old, &spectral), kRefused);
    EXPECT_EQ(Quorvex_SaveApertureCalibrationData(old, L"x"), kRefused);
    EXPECT_EQ(Sent(), std::vector<std::string>{"P?"}) << "nothing more reached the head";
}

TEST_F(ConnectionTest, DisconnectEndsWaitingWorkersThenSignalsItsEventAndLeavesItOpen) {
    for (const int wait : {0, 1}) {
        m_sim->ClearReceived();
        ConnectOrFail();
        // Once a later read is answered, the "S?" reply is in too: none is
        // left on the line for the next connection's "I?". A read the head
        // never answers keeps a worker waiting.
        int pair[2];
        ASSERT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexSuccess);
        m_sim->InjectFault(R"(T\?)", sim::Fault{sim::FaultKind::NoReply});
        std::atomic<int> calls{0}, validSeen{-1};
        CTestEvent done, closed;
        ASSERT_EQ(Quorvex_GetTemperatureCallback(
                      m_handle, [&](int valid, double, double, double, double) { validSeen = valid, ++calls; },
                      done.Get()),
                  QuorvexSuccess);
        ASSERT_TRUE(m_sim->WaitForCommand(R"(T\?)", kLimit));
        void* handle = m_handle;
        ASSERT_EQ(Quorvex_Disconnect(&m_handle, wait, closed.Get()), QuorvexSuccess);
        EXPECT_EQ(m_handle, nullptr);
        int valid;
        EXPECT_EQ(Quorvex_IsValidDevice(handle, &valid), QuorvexErrorInvalidHandle);
        ASSERT_TRUE(closed.Wait());
        // The worker ended before the object went: its callable ran once,
        // with an invalid reading, and its event was signalled.
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(validSeen, 0);
        EXPECT_TRUE(done.IsSet());
        EXPECT_TRUE(SetEvent(closed.Get())) << "the caller's event is still open";
        EXPECT_TRUE(LogHas(": Uninitializing Pantheios library."));
    }
    EXPECT_EQ(Connect(), QuorvexSuccess) << "the port is free again";
}

TEST_F(ConnectionTest, ExportsFromManyThreadsSurviveConnectsAndDisconnects) {
    // Unanswered reads keep callers blocked inside the library while the
    // device is disconnected under them (and leave no stale replies on the
    // line for the next connection).
    Ceiling(0);  // the callers' refusals would only fill the file
    m_sim->InjectFault(R"(T\?)", sim::Fault{sim::FaultKind::NoReply, 0, 5, -1});
    std::atomic<void*> shared{nullptr};
    std::atomic<int> unexpected{0};
    std::vector<std::jthread> callers;  // stopped and joined before the counters go
    for (int i = 0; i < 3; ++i) {
        callers.emplace_back([&, i](std::stop_token stop) {
            while (!stop.stop_requested()) {
                double t[4];
                int valid;
                QuorvexIdentificationStruct id;
                const QuorvexError a = i == 0 ? Quorvex_GetTemperature(shared.load(), t)
                                              : Quorvex_GetIdentification(shared.load(), &id);
                const QuorvexError b = Quorvex_IsValidDevice(shared.load(), &valid);
                if ((a != QuorvexSuccess && a != QuorvexErrorInvalidHandle && a != QuorvexErrorCommandFailed) ||
                    (b != QuorvexSuccess && b != QuorvexErrorInvalidHandle))
                    ++unexpected;
                // Refused at once while no device is listed: let the simulator
                // and the connecting thread run, or on a loaded machine the
                // next Connect's identification can starve past its time-out.
                if (a == QuorvexErrorInvalidHandle) std::this_thread::yield();
            }
        });
    }
    for (int round = 0; round < 8; ++round) {
        void* handle = nullptr;
        ASSERT_EQ(Quorvex_Connect(kCom, 9600, 0, 8, 0, 0, &handle, 1, nullptr), QuorvexSuccess);
        shared = handle;
        ASSERT_TRUE(m_sim->WaitForCommand(R"(T\?)", kLimit));
        m_sim->ClearReceived();
        CTestEvent closed;
        ASSERT_EQ(Quorvex_Disconnect(&handle, round % 2, round % 2 ? nullptr : closed.Get()), QuorvexSuccess);
        if (round % 2 == 0) {
            ASSERT_TRUE(closed.Wait());
        }
    }
    EXPECT_EQ(unexpected, 0);
}

TEST_F(ConnectionTest, LogCeilingFiltersBySeverityAndReachesEveryDevice) {
    EXPECT_EQ(Quorvex_SetLogCeiling(8), QuorvexErrorInvalidParameter);
    EXPECT_EQ(Quorvex_SetLogfilePath(L"/nonexistent/folder/q.log"), QuorvexSuccess);
    ASSERT_EQ(Quorvex_SetLogfilePath(m_logPath.wstring().c_str()), QuorvexSuccess);
    Ceiling(3);
    sim::CHeadSimulator second(m_xdg.PortsFolder(), kCom + 1);
    second.Start();
    void* other = nullptr;
    // Disconnected before the second head goes, whatever the test did.
    const std::unique_ptr<void*, void (*)(void**)> disconnect(&other, [](void** handle) {
        if (*handle) Quorvex_Disconnect(handle, 1, nullptr);
    });
    ConnectOrFail();
    ASSERT_EQ(Quorvex_Connect(kCom + 1, 9600, 0, 8, 0, 0, &other, 1, nullptr), QuorvexSuccess);
    m_sim->OverrideReply(R"(C5\(.*\))", "-6");
    EXPECT_EQ(Quorvex_SetParameter(m_handle, QuorvexParameter(5), 1, 1, nullptr), QuorvexErrorCommandFailed);
    m_sim->SendRaw("!Q:1\r");  // a warning, filtered out at ceiling 3
    // The reply to a later command comes after the line on the wire: once
    // it is in, the line has been dealt with.
    int value;
    EXPECT_EQ(Quorvex_GetParameter(m_handle, QuorvexParameter(5), &value), QuorvexSuccess);
    ASSERT_TRUE(WaitForLog(": Error Code = -6, Message = Syntax Error"));
    Ceiling(4);
    m_sim->SendRaw("!Q:2\r");
    ASSERT_TRUE(WaitForLog(": Unexpected response received. \"!Q:2\"."));
    const std::string log = LogText();
    EXPECT_EQ(log.find("!Q:1"), std::string::npos);
    EXPECT_EQ(log.find("; Debug]"), std::string::npos);
    EXPECT_NE(log.find("; Warning]"), std::string::npos);
    EXPECT_NE(log.find("; Error]"), std::string::npos);

    // Both devices take a new ceiling, each under a prefix of its own.
    Ceiling(7);
    const std::string after = LogText().substr(log.size());
    const std::regex entry(R"((CQuorvex \(0x[0-9A-F]+\)): Logging ceiling set to 7)");
    std::set<std::string> prefixes;
    for (std::sregex_iterator it(after.begin(), after.end(), entry), end; it != end; ++it) prefixes.insert((*it)[1]);
    EXPECT_EQ(prefixes.size(), 2u);
}

}  // namespace
}  // namespace qvtest
