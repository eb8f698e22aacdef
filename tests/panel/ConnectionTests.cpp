// The connection sequences and the readings against the three simulated
// instruments over pseudo-terminals, through the controller the main
// window drives, with the dialogs run headless.
#include <filesystem>
#include <mutex>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "QtTestArgs.h"
#include "AppSettings.h"
#include "CalibrationTransfer.h"
#include "ConnectionController.h"
#include "InstrumentHandles.h"
#include "LampRamp.h"
#include "PsuDll/PsuDll.h"
#include "QuorvexDll/QuorvexDll.h"
#include "SimulatedInstruments.h"
#include "TallyDll/TallyDll.h"
#include "TestEvent.h"
#include "TestSupport.h"
#include "platform/OwnedHandle.h"
#include "platform/win32.h"

namespace {

using qttest::g_argc;
using qttest::g_argv;

// The dialogs a sequence asks for, run on the connection worker without
// widgets: the real ramp and download unless a test scripts their result.
class CHeadlessDialogs : public IDialogHost {
public:
    int RunLampRamp(int direction, void* supply) override {
        Record(direction == 0 ? "ramp up" : "ramp down");
        if (direction == 0 && rampUpResult) return *rampUpResult;
        auto abort = platform::COwnedHandle::NewEvent(true);
        return lampramp::Run(supply, direction, abort.Get(), [](int) {}, 1);
    }
    int RunDownload(void* head) override {
        Record("download");
        if (downloadResult) return *downloadResult;
        auto abort = platform::COwnedHandle::NewEvent(true);
        return calibrationtransfer::Download(head, abort.Get(), {});
    }
    int RunUpload(void*) override {
        Record("upload");
        if (inUpload) inUpload->Set();
        if (uploadGate) uploadGate->Wait();
        return uploadResult;
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

    std::optional<int> rampUpResult;
    std::optional<int> downloadResult;
    int uploadResult = kOk;
    // Set when the upload starts; the upload waits for the gate.
    testsupport::CTestEvent* inUpload = nullptr;
    testsupport::CTestEvent* uploadGate = nullptr;

private:
    void Record(const char* call) {
        std::lock_guard lock(m_mutex);
        m_calls.emplace_back(call);
    }
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

class ConnectionTest : public ::testing::Test {
protected:
    ConnectionTest()
        : m_app(g_argc, g_argv),
          m_controller(m_dialogs, [this](int severity, const std::wstring& text) {
              std::lock_guard lock(m_logMutex);
              m_log.emplace_back(severity, text);
          }) {
        const std::wstring log = (m_sims.Xdg().Root() / "libraries.log").wstring();
        Quorvex_SetLogfilePath(log.c_str());
        Agilent_SetLogfilePath(log.c_str());
        Etc_SetLogfilePath(log.c_str());
        m_request.head = CSerialSettings();
        m_request.head.port = testsupport::CSimulatedInstruments::kHeadCom;
        m_request.supply = CAgilentSerialSettings();
        m_request.supply.port = testsupport::CSimulatedInstruments::kSupplyCom;
        m_request.counter = CSerialSettings();
        m_request.counter.port = testsupport::CSimulatedInstruments::kCounterCom;

        // With the application as context the slots run on the test's thread,
        // as the main window's do on the GUI thread.
        QObject::connect(&m_controller, &CConnectionController::ConnectionText, &m_app,
                         [this](const QString& text) { m_panes.push_back(text); });
        QObject::connect(&m_controller, &CConnectionController::StateChanged, &m_app,
                         [this](SessionState state) { m_state = state; });
        QObject::connect(&m_controller, &CConnectionController::CalibrationDownloaded, &m_app,
                         [this](const CalibrationTables& tables, int serial) {
                             m_downloads.emplace_back(tables, serial);
                         });
        QObject::connect(&m_controller, &CConnectionController::HeadPositionRead, &m_app,
                         [this](int p, int s) { m_position = {p, s}; });
        QObject::connect(&m_controller, &CConnectionController::LampHoursRead, &m_app,
                         [this](bool valid, double seconds) { m_hours = valid ? seconds : -1.0; });
        QObject::connect(&m_controller, &CConnectionController::TemperatureRead, &m_app,
                         [this](bool valid, double celsius) { m_bulb = valid ? celsius : -1.0; });
    }
    ~ConnectionTest() override {
        if (IsAnyConnected()) Run([&] { return m_controller.Disconnect(); });
        Quorvex_SetLogfilePath(L"");
        Agilent_SetLogfilePath(L"");
        Etc_SetLogfilePath(L"");
    }

    // Starts a sequence and waits, handling the queued signals, until it
    // has ended.
    bool Run(const std::function<bool()>& start) {
        if (!start()) return false;
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return !m_controller.Busy();
        }, std::chrono::seconds(60));
    }
    bool Connect() { return Run([&] { return m_controller.Connect(m_request); }); }
    static bool IsAnyConnected() {
        return g_hQuorvex.load() || g_hAgilent.load() || g_hEtc.load();
    }
    bool Logged(const std::wstring& text) {
        std::lock_guard lock(m_logMutex);
        for (const auto& entry : m_log)
            if (entry.second == text) return true;
        return false;
    }
    static std::vector<std::string> Wire(const sim::CSimDevice& device) {
        return testsupport::CSimulatedInstruments::Wire(device);
    }

    QCoreApplication m_app;
    testsupport::CSimulatedInstruments m_sims;
    CHeadlessDialogs m_dialogs;
    CConnectionController m_controller;
    ConnectRequest m_request;

    std::mutex m_logMutex;
    std::vector<std::pair<int, std::wstring>> m_log;
    std::vector<QString> m_panes;
    SessionState m_state;
    std::vector<std::pair<CalibrationTables, int>> m_downloads;
    std::optional<std::pair<int, int>> m_position;
    double m_hours = -2.0;
    double m_bulb = -2.0;
};

std::vector<std::string> First(const std::vector<std::string>& wire, std::size_t count) {
    return {wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(std::min(count, wire.size()))};
}

TEST_F(ConnectionTest, ConnectRunsEachInstrumentsSequenceInOrderAndReportsByValue) {
    m_sims.counter.SetElapsedCount(4 * 3600);
    m_sims.head.SetTemperatures(30.0, 31.0, 75.1, 33.0);
    ASSERT_TRUE(Connect());
    // A head whose serial number is not the stored one is downloaded.
    EXPECT_EQ(m_dialogs.Calls(), std::vector<std::string>{"download"});
    EXPECT_EQ(First(Wire(m_sims.head), 5), (std::vector<std::string>{"I?", "S?", "C1?", "C0?", "P?"}));
    ASSERT_TRUE(m_sims.supply.WaitForCount(6, testsupport::kLimit));
    EXPECT_EQ(First(Wire(m_sims.supply), 6),
              (std::vector<std::string>{"*IDN?", "SYST:RWL", "DISP:TEXT \"VANDREL QUORVEX\"", "DISP ON",
                                        "CURR:PROT:CLE", "VOLT:PROT:CLE"}));
    EXPECT_EQ(Wire(m_sims.counter).at(0), "I?");
    EXPECT_EQ(m_panes, (std::vector<QString>{QStringLiteral("Connecting\u2026"),
                                             QStringLiteral("Connected to Vandrel QUORVEX S/N 10427")}));
    ASSERT_EQ(m_downloads.size(), 1u);
    EXPECT_EQ(m_downloads[0].second, 10427);
    EXPECT_EQ(m_downloads[0].first.spectralPairs, m_sims.head.SpectralData());
    EXPECT_EQ(m_downloads[0].first.apertureRows.size(), 12u);
    const auto [primary, secondary] = m_sims.head.Position();
    EXPECT_EQ(m_position, std::make_pair(int(primary), int(secondary)));
    EXPECT_TRUE(Logged(L"Connecting to the Quorvex hardware."));
    EXPECT_TRUE(Logged(L"Successfully connected to the Quorvex hardware."));
    // The readings started by Connect come back by value.
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        QCoreApplication::processEvents();
        return m_hours >= 0.0 && m_bulb >= 0.0;
    }));
    EXPECT_EQ(m_hours, 3600.0);
    EXPECT_EQ(m_bulb, 75.1);
    EXPECT_TRUE(m_state.connected);
    EXPECT_TRUE(m_controller.State().connected);
    EXPECT_EQ(m_state.lamp, statustexts::Lamp::Off);

    // One sequence at a time.
    ASSERT_TRUE(m_controller.Disconnect());
    EXPECT_FALSE(m_controller.Connect(m_request));
    ASSERT_TRUE(Run([] { return true; }));

    // The stored serial number with both tables present: no download.
    m_sims.head.ClearReceived();
    m_request.storedSerialNumber = 10427;
    m_request.apertureTableEmpty = m_request.spectralTableEmpty = false;
    ASSERT_TRUE(Connect());
    EXPECT_EQ(m_downloads.size(), 1u);
    EXPECT_EQ(First(Wire(m_sims.head), 3), (std::vector<std::string>{"I?", "S?", "P?"}));
}

TEST_F(ConnectionTest, ACancelledRampUpRampsDownAndDisconnectRampsDownThenClosesCounterSupplyHead) {
    Quorvex_SetLogCeiling(7);
    Agilent_SetLogCeiling(7);
    Etc_SetLogCeiling(7);
    ASSERT_TRUE(Connect());
    m_dialogs.rampUpResult = IDialogHost::kCancel;
    ASSERT_TRUE(Run([&] { return m_controller.RampUp(); }));
    EXPECT_EQ(m_dialogs.Calls(), (std::vector<std::string>{"download", "ramp up", "ramp down"}));
    EXPECT_FALSE(m_state.rampedUp);

    m_dialogs.rampUpResult.reset();
    ASSERT_TRUE(Run([&] { return m_controller.RampUp(); }));
    EXPECT_TRUE(m_state.rampedUp);
    EXPECT_EQ(m_state.lamp, statustexts::Lamp::On);

    ASSERT_TRUE(Run([&] { return m_controller.Disconnect(); }));
    EXPECT_EQ(m_dialogs.Calls().back(), "ramp down");
    EXPECT_FALSE(IsAnyConnected());
    EXPECT_EQ(m_panes.back(), QStringLiteral("Disconnected"));
    // The three libraries write one log: their disconnect entries in order.
    const std::string log = testsupport::ReadFile(m_sims.Xdg().Root() / "libraries.log");
    std::vector<std::string> order;
    for (std::size_t line = log.find(": Disconnecting from serial port."); line != std::string::npos;
         line = log.find(": Disconnecting from serial port.", line + 1)) {
        const std::size_t begin = log.rfind('\n', line) + 1;
        const std::string entry = log.substr(begin, line - begin);
        for (const char* device : {"CElapsedTimeCounter", "CAgilentE3633A", "CQuorvex "})
            if (entry.find(device) != std::string::npos) order.emplace_back(device);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"CElapsedTimeCounter", "CAgilentE3633A", "CQuorvex "}));
    Quorvex_SetLogCeiling(6);
    Agilent_SetLogCeiling(6);
    Etc_SetLogCeiling(6);
}

TEST_F(ConnectionTest, ACancelledDownloadDisconnectsAndLeavesTheTablesAlone) {
    m_dialogs.downloadResult = IDialogHost::kCancel;
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(IsAnyConnected());
    EXPECT_TRUE(m_downloads.empty());
    EXPECT_FALSE(m_position);
    EXPECT_EQ(m_panes.back(), QStringLiteral("Disconnected"));
    EXPECT_FALSE(m_state.connected);

    m_dialogs.downloadResult.reset();
    ASSERT_TRUE(Connect());
    m_dialogs.downloadResult = IDialogHost::kCancel;
    ASSERT_TRUE(Run([&] { return m_controller.Download(); }));
    EXPECT_EQ(m_downloads.size(), 1u);  // only the one of the second Connect
    EXPECT_FALSE(IsAnyConnected());
}

TEST_F(ConnectionTest, DuringAnUploadTheBulbReadsNothingWhileTheHoursGoOnAndACancelDisconnects) {
    ASSERT_TRUE(Connect());
    testsupport::CTestEvent inUpload(true), release(true);
    m_dialogs.inUpload = &inUpload;
    m_dialogs.uploadGate = &release;
    ASSERT_TRUE(m_controller.Upload());
    ASSERT_TRUE(inUpload.Wait());
    m_bulb = m_hours = -2.0;
    // Ticks as the timers give them; one whose reading still runs is skipped.
    EXPECT_TRUE(testsupport::WaitUntil([&] {
        m_controller.TickTemperature();
        m_controller.TickLampHours();
        QCoreApplication::processEvents();
        return m_bulb == -1.0 && m_hours >= 0.0;
    }));
    release.Set();
    ASSERT_TRUE(Run([] { return true; }));
    EXPECT_TRUE(IsAnyConnected());

    m_dialogs.uploadGate = nullptr;
    m_dialogs.uploadResult = IDialogHost::kCancel;
    ASSERT_TRUE(Run([&] { return m_controller.Upload(); }));
    EXPECT_FALSE(IsAnyConnected());
}

TEST_F(ConnectionTest, AHeadThatVanishesLeavesTheProgramFreeToDisconnectAndConnectAgain) {
    ASSERT_TRUE(Connect());
    m_sims.head.Vanish();
    m_bulb = -2.0;
    m_controller.TickTemperature();
    // The failed reading sends nothing; the controller stays free.
    EXPECT_FALSE(m_controller.Busy());
    ASSERT_TRUE(Run([&] { return m_controller.Disconnect(); }));
    EXPECT_FALSE(IsAnyConnected());

    sim::CHeadSimulator spare(m_sims.Xdg().PortsFolder(), 4);
    spare.Start();
    m_request.head.port = 4;
    ASSERT_TRUE(Connect());
    EXPECT_EQ(m_panes.back(), QStringLiteral("Connected to Vandrel QUORVEX S/N 10427"));
    EXPECT_TRUE(m_state.connected);
    ASSERT_TRUE(Run([&] { return m_controller.Disconnect(); }));
}

TEST(StatusTexts, PanesAndNotices) {
    EXPECT_EQ(statustexts::LampHours(true, 3600.0), "Lamp Hours: 1.00");
    EXPECT_EQ(statustexts::LampHours(false, 0.0), "Lamp Hours: \u2014");
    EXPECT_EQ(statustexts::BulbTemperature(true, 75.1), "Bulb Temperature: 75.1 \u00B0C");
    EXPECT_EQ(statustexts::BulbTemperature(false, 0.0), "Bulb Temperature: \u2013 \u00B0C");
    EXPECT_EQ(statustexts::LampText(statustexts::Lamp::Error), "Lamp: ERROR");
    EXPECT_EQ(statustexts::Notice(false, false, true), "");
    EXPECT_EQ(statustexts::Notice(false, true, false), "No spectral calibration data found in Quorvex.");
    EXPECT_EQ(statustexts::Notice(true, false, true), "No aperture calibration data found in Quorvex.");
    EXPECT_EQ(statustexts::Notice(true, true, true),
              "No calibration data found in Quorvex. Please upload the calibration data using the upload button.");
    EXPECT_EQ(statustexts::Notice(true, true, false),
              "No calibration data found. Connect to the Quorvex to download the calibration data.");
}

}  // namespace
