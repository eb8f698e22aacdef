// The connection sequences and the readings against the three simulated
// instruments over pseudo-terminals, through the controller the main
// window drives, with the dialogs run headless.
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "QtTestArgs.h"
#include "AppSettings.h"
#include "CalibrationTransfer.h"
#include "ConnectionController.h"
#include "InstrumentHandles.h"
#include "LampRamp.h"
#include "PortErrorGate.h"
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
        // A ramp-down cannot be cut short, as in the dialog.
        auto own = platform::COwnedHandle::NewEvent(true);
        const HANDLE abort = direction == 0 ? Abortable() : own.Get();
        return lampramp::Run(supply, direction, abort, [this](int position) {
            if (rampProgress) rampProgress(position);
        }, 1);
    }
    int RunDownload(void* head) override {
        Record("download");
        if (downloadResult) return *downloadResult;
        return calibrationtransfer::Download(head, Abortable(), {});
    }
    void AbortDialog() override {
        Record("abort");
        SetEvent(m_abort.Get());
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
    // Called on the ramping thread with each bar position.
    std::function<void(int)> rampProgress;
    int uploadResult = kOk;
    // Set when the upload starts; the upload waits for the gate.
    testsupport::CTestEvent* inUpload = nullptr;
    testsupport::CTestEvent* uploadGate = nullptr;

private:
    HANDLE Abortable() {
        ResetEvent(m_abort.Get());
        return m_abort.Get();
    }
    platform::COwnedHandle m_abort = platform::COwnedHandle::NewEvent(true);
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
        // Port errors reach the controller through the gate, as in the
        // program; the boxes a person would see are counted per port.
        porterrors::Install([this](const porterrors::Box& box) {
            if (const auto error = porterrors::Parse(box.caption, box.text)) {
                std::lock_guard lock(m_logMutex);
                ++m_boxes[error->port];
            }
            return IDOK;
        });
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
        QObject::connect(&m_controller, &CConnectionController::ErrorReport, &m_app,
                         [this](const QString& text) { m_errors.push_back(text); });
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
        porterrors::Uninstall();
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
    // Error entries that begin with `start`.
    int ErrorsLogged(const std::wstring& start) {
        std::lock_guard lock(m_logMutex);
        int count = 0;
        for (const auto& entry : m_log)
            if (entry.first == driverlog::Error && entry.second.rfind(start, 0) == 0) ++count;
        return count;
    }
    int Boxes(int port) {
        std::lock_guard lock(m_logMutex);
        return m_boxes[port];
    }
    // Ticks the readings as the timers do until the session has ended.
    bool UntilTheSessionHasEnded() {
        return testsupport::WaitUntil([&] {
            m_controller.TickTemperature();
            m_controller.TickLampHours();
            QCoreApplication::processEvents();
            return !m_controller.Busy() && !IsAnyConnected() && !m_controller.State().connected;
        }, std::chrono::seconds(60));
    }
    // A few more ticks on the ended session, each of which could have asked
    // a dead port again.
    void TickAFewTimes() {
        for (int i = 0; i < 5; ++i) {
            m_controller.TickTemperature();
            m_controller.TickLampHours();
            testsupport::WaitUntil([&] {
                QCoreApplication::processEvents();
                return false;
            }, std::chrono::milliseconds(50));
        }
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
    std::vector<QString> m_errors;
    std::map<int, int> m_boxes;  // port -> port-error boxes shown
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

TEST_F(ConnectionTest, AClosingWindowCutsARampUpShortAndRampsTheLampDown) {
    ASSERT_TRUE(Connect());
    // Called on the supply's thread, maybe after the test: shared, not borrowed.
    auto peak = std::make_shared<std::atomic<double>>(0.0);
    m_sims.lamp.Subscribe([peak](bool, double amps) {
        if (amps > peak->load()) peak->store(amps);
    });
    std::atomic<bool> underway{false};
    m_dialogs.rampProgress = [&](int position) {
        if (position >= 20) underway = true;
    };
    ASSERT_TRUE(m_controller.RampUp());
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        QCoreApplication::processEvents();
        return underway.load();
    }));
    m_controller.CancelForClose();
    ASSERT_TRUE(Run([] { return true; }));
    EXPECT_EQ(m_dialogs.Calls(), (std::vector<std::string>{"download", "ramp up", "abort", "ramp down"}));
    EXPECT_FALSE(m_state.rampedUp);
    EXPECT_FALSE(m_sims.lamp.Lit());
    EXPECT_LT(peak->load(), 8.0) << "the ramp-up ran to its end";
    // With nothing running there is nothing to cut short.
    m_controller.CancelForClose();
    EXPECT_EQ(m_dialogs.Calls().size(), 4u);
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
    // The pane follows the disconnect the cancel made.
    EXPECT_EQ(m_panes.back(), QStringLiteral("Disconnected"));
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
    EXPECT_EQ(m_panes.back(), QStringLiteral("Disconnected"));
}

TEST_F(ConnectionTest, AnInstrumentLostWhileConnectedIsReportedOnceAndConnectWorksWhenItIsBack) {
    ASSERT_TRUE(Connect());
    m_sims.head.Vanish();
    // The readings meet the dead port; the loss ends the session.
    ASSERT_TRUE(UntilTheSessionHasEnded());
    TickAFewTimes();
    const QString lost = QStringLiteral("Lost the connection to the head unit on COM1");
    EXPECT_EQ(m_panes.back(), lost);
    EXPECT_EQ(m_errors, std::vector<QString>{lost + "."});
    EXPECT_EQ(Boxes(1), 1);
    EXPECT_EQ(ErrorsLogged(lost.toStdWString() + L": "), 1);
    // The others were let go as Disconnect lets them go.
    EXPECT_EQ(Wire(m_sims.supply).back(), "SYST:LOC");
    EXPECT_EQ(m_state.lamp, statustexts::Lamp::Off);
    EXPECT_FALSE(m_controller.Busy());

    // The head is back on the same port: Connect works again, and a second
    // loss is reported again.
    sim::CHeadSimulator back(m_sims.Xdg().PortsFolder(), testsupport::CSimulatedInstruments::kHeadCom);
    back.Start();
    m_request.storedSerialNumber = 10427;
    m_request.apertureTableEmpty = m_request.spectralTableEmpty = false;
    ASSERT_TRUE(Connect());
    EXPECT_EQ(m_panes.back(), QStringLiteral("Connected to Vandrel QUORVEX S/N 10427"));
    EXPECT_TRUE(m_state.connected);
    m_sims.counter.Vanish();
    ASSERT_TRUE(UntilTheSessionHasEnded());
    EXPECT_EQ(m_panes.back(), QStringLiteral("Lost the connection to the elapsed-time counter on COM3"));
    EXPECT_EQ(m_errors.size(), 2u);
    EXPECT_EQ(Boxes(1), 1);
    EXPECT_EQ(Boxes(3), 1);
}

TEST_F(ConnectionTest, ASupplyLostDuringARampUpEndsTheRampAndLeavesTheLampUnknown) {
    ASSERT_TRUE(Connect());
    std::atomic<bool> gone{false};
    m_dialogs.rampProgress = [&](int position) {
        if (position >= 40 && !gone.exchange(true)) m_sims.supply.Vanish();
    };
    ASSERT_TRUE(m_controller.RampUp());
    ASSERT_TRUE(UntilTheSessionHasEnded());
    TickAFewTimes();
    EXPECT_TRUE(gone);
    // The ramp was cut short, and no ramp-down was tried on a dead supply.
    EXPECT_EQ(m_dialogs.Calls(), (std::vector<std::string>{"download", "ramp up", "abort"}));
    EXPECT_EQ(m_state.lamp, statustexts::Lamp::Unknown);
    EXPECT_FALSE(m_state.rampedUp);
    EXPECT_EQ(m_panes.back(), QStringLiteral("Lost the connection to the power supply on COM2"));
    EXPECT_EQ(Boxes(2), 1);
    EXPECT_EQ(m_errors.size(), 1u);

    // A new session knows the lamp again.
    sim::CPsuSimulator back(m_sims.Xdg().PortsFolder(), testsupport::CSimulatedInstruments::kSupplyCom);
    back.Start();
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(m_state.connected);
    EXPECT_EQ(m_state.lamp, statustexts::Lamp::Off);
}

TEST_F(ConnectionTest, AHeadLostDuringTheConnectTimeDownloadStoresNothingAndConnectWorksWhenItIsBack) {
    // The aperture table trickles in, so the head can go in the middle of it.
    m_sims.head.InjectFault("C1\\?", {sim::FaultKind::Split, 0, 20, 1});
    ASSERT_TRUE(m_controller.Connect(m_request));
    ASSERT_TRUE(m_sims.head.WaitForCommand("C1\\?", testsupport::kLimit));
    m_sims.head.Vanish();
    ASSERT_TRUE(UntilTheSessionHasEnded());
    TickAFewTimes();
    EXPECT_TRUE(m_downloads.empty());
    EXPECT_FALSE(m_position);
    EXPECT_EQ(m_panes.back(), QStringLiteral("Lost the connection to the head unit on COM1"));
    EXPECT_EQ(Boxes(1), 1);
    EXPECT_EQ(m_errors.size(), 1u);

    sim::CHeadSimulator back(m_sims.Xdg().PortsFolder(), testsupport::CSimulatedInstruments::kHeadCom);
    back.Start();
    ASSERT_TRUE(Connect());
    EXPECT_EQ(m_panes.back(), QStringLiteral("Connected to Vandrel QUORVEX S/N 10427"));
    ASSERT_EQ(m_downloads.size(), 1u);
    EXPECT_EQ(m_downloads[0].first.spectralPairs, back.SpectralData());
}

TEST_F(ConnectionTest, AFailedConnectNamesTheInstrumentThePortAndWhy) {
    // A supply that never answers.
    m_sims.supply.InjectFault(".*", {sim::FaultKind::NoReply, 0, 5, -1});
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(IsAnyConnected());
    const QString silent = QStringLiteral("Could not connect to the power supply on COM2: no answer.");
    EXPECT_EQ(m_errors, std::vector<QString>{silent});
    EXPECT_TRUE(Logged(silent.toStdWString()));
    EXPECT_EQ(m_panes.back(), QStringLiteral("Disconnected"));

    // A counter on a port nothing is linked to.
    m_sims.supply.ClearFaults();
    m_request.counter.port = 9;
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(IsAnyConnected());
    const QString absent = QStringLiteral("Could not connect to the elapsed-time counter on COM9: not present.");
    EXPECT_EQ(m_errors.back(), absent);
    EXPECT_TRUE(Logged(absent.toStdWString()));
}

TEST(PortErrorGate, OneBoxPerPortUntilItIsArmedAgainAndOtherBoxesPassUnchanged) {
    std::vector<std::wstring> shown;
    std::vector<int> heard;
    std::mutex mutex;
    porterrors::Install([&](const porterrors::Box& box) {
        std::lock_guard lock(mutex);
        shown.push_back(box.caption + L"|" + (box.portError ? L"port" : L"other"));
        return box.type == MB_OKCANCEL ? IDCANCEL : IDOK;
    });
    porterrors::SetListener([&](const porterrors::PortError& error) { heard.push_back(error.port); });
    porterrors::Arm(7);
    porterrors::Arm(8);
    const wchar_t* read =
        L"WARNING:  ReadFile() Failed with the following error: \nThe device is not connected.\nPort: 7\n";
    const wchar_t* write =
        L"WARNING:  WriteFile() Failed with the following error: \nThe device is not connected.\nPort: 7\n";
    const wchar_t* other =
        L"WARNING:  ReadFile() Failed with the following error: \nThe device is not connected.\nPort: 8\n";
    const auto parsed = porterrors::Parse(L"Application Error", read);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->port, 7);
    EXPECT_EQ(parsed->operation, L"ReadFile()");
    EXPECT_EQ(parsed->systemText, L"The device is not connected.");
    EXPECT_FALSE(porterrors::Parse(L"Quorvex", read));
    EXPECT_FALSE(porterrors::Parse(L"Application Error", L"Lamp too hot"));

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(MessageBoxW(nullptr, read, L"Application Error", MB_ICONERROR), IDOK);
        EXPECT_EQ(MessageBoxW(nullptr, write, L"Application Error", MB_ICONERROR), IDOK);
    }
    MessageBoxW(nullptr, other, L"Application Error", MB_ICONERROR);
    EXPECT_EQ(MessageBoxW(nullptr, L"Lamp too hot", L"Quorvex", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, L"Lamp too hot", L"Quorvex", MB_OKCANCEL), IDCANCEL);
    porterrors::Arm(7);
    MessageBoxW(nullptr, write, L"Application Error", MB_ICONERROR);
    porterrors::SetListener({});
    porterrors::Uninstall();
    EXPECT_EQ(shown, (std::vector<std::wstring>{L"Application Error|port", L"Application Error|port",
                                                L"Quorvex|other", L"Quorvex|other", L"Application Error|port"}));
    EXPECT_EQ(heard, (std::vector<int>{7, 8, 7}));
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
