// The main window driven through its own actions against the three
// simulated instruments: connecting and what the panes, commands and bars
// then show, a head that vanishes, closing with the lamp lit or during a
// ramp-up, and what connect cycles leave on the heap.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include <malloc.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include "QtTestArgs.h"
#include "ApertureListBox.h"
#include "ConnectionController.h"
#include "InstrumentHandles.h"
#include "LampRampDlg.h"
#include "MainFrame.h"
#include "MessageBar.h"
#include "PortErrorGate.h"
#include "PsuDll/PsuDll.h"
#include "QuorvexControlPanelApp.h"
#include "QuorvexControlPanelView.h"
#include "SettingsSheet.h"
#include "InformationDlg.h"
#include "SimulatedInstruments.h"
#include "TestSupport.h"
#include "platform/win32.h"

namespace {

using qttest::g_argc;
using qttest::g_argv;

int AnswerBox(void*, HWND, LPCWSTR, LPCWSTR, UINT) { return IDOK; }

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_sims.Xdg().ConfigHome().string()));
        m_app = std::make_unique<CQuorvexControlPanelApp>(g_argc, g_argv);
        ASSERT_TRUE(m_app->InitInstance());
        Platform_SetMessageBoxHandler(&AnswerBox, nullptr);
        CAppSettings& settings = m_app->m_appSettings;
        settings.m_quorvexSerialSettings.port = testsupport::CSimulatedInstruments::kHeadCom;
        settings.m_agilentSerialSettings.port = testsupport::CSimulatedInstruments::kSupplyCom;
        settings.m_etcSerialSettings.port = testsupport::CSimulatedInstruments::kCounterCom;
        Frame().UpdateCommands();
    }
    void TearDown() override {
        if (m_app && m_app->MainFrame()) {
            Frame().close();
            EXPECT_TRUE(Until([&] { return !Frame().isVisible(); }));
        }
        m_app.reset();
    }

    CMainFrame& Frame() { return *m_app->MainFrame(); }
    QString Pane(int index) { return Frame().Pane(index)->text(); }
    // Runs the event loop (and the dialogs the sequences show) until the
    // condition holds.
    static bool Until(const std::function<bool()>& condition) {
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return condition();
        }, std::chrono::seconds(60));
    }
    bool ConnectThroughTheRibbon() {
        EXPECT_TRUE(Until([&] { return Frame().Actions().connect->isEnabled(); }));
        Frame().Actions().connect->trigger();
        const bool ended =
            Until([&] { return !Frame().Controller().Busy() && Frame().Actions().disconnect->isEnabled(); });
        EXPECT_TRUE(ended) << "busy " << Frame().Controller().Busy() << ", connected "
                           << Frame().Controller().State().connected << ", pane " << Pane(0).toStdString();
        return ended;
    }

    testsupport::CSimulatedInstruments m_sims;
    std::unique_ptr<CQuorvexControlPanelApp> m_app;
};

TEST_F(FrameTest, ConnectingFillsThePanesEnablesTheCommandsAndStoresTheHeadsCalibration) {
    EXPECT_EQ(Pane(0), QStringLiteral("Disconnected"));
    EXPECT_EQ(Frame().NoticeBar()->Text(),
              QStringLiteral("No calibration data found. Connect to the Quorvex to download the calibration data."));
    EXPECT_FALSE(Frame().Actions().disconnect->isEnabled());
    EXPECT_FALSE(Frame().Actions().rampUp->isEnabled());
    m_sims.counter.SetElapsedCount(4 * 3600);
    m_sims.head.SetTemperatures(30.0, 31.0, 75.1, 33.0);

    ASSERT_TRUE(ConnectThroughTheRibbon());
    EXPECT_EQ(Pane(0), QStringLiteral("Connected to Vandrel QUORVEX S/N 10427"));
    EXPECT_TRUE(Until([&] {
        return Pane(2) == QStringLiteral("Lamp Hours: 1.00") &&
               Pane(3) == QStringLiteral("Bulb Temperature: 75.1 \u00B0C");
    }));
    EXPECT_TRUE(Frame().Pane(3)->styleSheet().contains(QStringLiteral("#ff0000")));
    EXPECT_EQ(Pane(1), QStringLiteral("Lamp: OFF"));
    EXPECT_FALSE(Frame().Actions().connect->isEnabled());
    for (QAction* action : {Frame().Actions().rampUp, Frame().Actions().upload, Frame().Actions().download,
                            Frame().Actions().exportData, Frame().Actions().information})
        EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
    EXPECT_FALSE(Frame().Actions().rampDown->isEnabled());
    EXPECT_FALSE(Frame().NoticeBar()->isVisible());
    EXPECT_EQ(m_app->m_calibrationData.m_nSerialNumber, 10427);
    EXPECT_EQ(m_app->m_calibrationData.m_spectralData.size(), m_sims.head.SpectralData().size());
    const std::string ini = testsupport::ReadFile(std::filesystem::path(m_app->m_strCalibrationFile));
    EXPECT_NE(ini.find("10427"), std::string::npos);
    EXPECT_TRUE(Frame().View()->ApertureList()->isEnabled());

    // The view's list follows the head: its reported position is selected.
    const auto [primary, secondary] = m_sims.head.Position();
    const QPoint selected = CApertureListBox::Positions(Frame().View()->ApertureList()->currentItem());
    EXPECT_EQ(selected, QPoint(int(primary), int(secondary)));
}

TEST_F(FrameTest, AHeadThatVanishesIsNamedOnceAndLeavesAWindowThatCanConnectAgain) {
    // Port errors through the gate as in the program; the boxes are counted.
    std::atomic<int> boxes{0};
    porterrors::Install([&](const porterrors::Box& box) {
        if (box.portError) ++boxes;
        return IDOK;
    });
    ASSERT_TRUE(ConnectThroughTheRibbon());
    m_sims.head.Vanish();
    const QString lost = QStringLiteral("Lost the connection to the head unit on COM1");
    // The readings meet the dead port; nobody presses anything.
    ASSERT_TRUE(Until([&] { return Pane(0) == lost && !Frame().Controller().Busy(); }));
    EXPECT_TRUE(Frame().ErrorBar()->isVisible());
    EXPECT_EQ(Frame().ErrorBar()->Text(), lost + QStringLiteral(". See log file for details."));
    EXPECT_TRUE(Frame().Actions().connect->isEnabled());
    for (QAction* action : {Frame().Actions().disconnect, Frame().Actions().rampUp, Frame().Actions().rampDown,
                            Frame().Actions().upload, Frame().Actions().download, Frame().Actions().information})
        EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    EXPECT_EQ(Pane(1), QStringLiteral("Lamp: OFF"));
    EXPECT_TRUE(Until([&] { return Pane(3) == QStringLiteral("Bulb Temperature: \u2013 \u00B0C"); }));
    EXPECT_EQ(g_hQuorvex.load(), nullptr);
    EXPECT_EQ(boxes, 1);

    // Back on its port: Connect works again.
    sim::CHeadSimulator back(m_sims.Xdg().PortsFolder(), testsupport::CSimulatedInstruments::kHeadCom);
    back.Start();
    ASSERT_TRUE(ConnectThroughTheRibbon());
    EXPECT_EQ(Pane(0), QStringLiteral("Connected to Vandrel QUORVEX S/N 10427"));
    Frame().Actions().disconnect->trigger();
    ASSERT_TRUE(Until([&] { return !Frame().Controller().Busy() && Frame().Actions().connect->isEnabled(); }));
    EXPECT_EQ(boxes, 1);
    porterrors::Uninstall();
}

TEST_F(FrameTest, AHeadLostDuringTheDownloadDialogEndsItAndTheWindowCanConnectAgain) {
    porterrors::Install([](const porterrors::Box&) { return IDOK; });
    m_sims.head.InjectFault("C1\\?", {sim::FaultKind::Split, 0, 20, 1});
    ASSERT_TRUE(Until([&] { return Frame().Actions().connect->isEnabled(); }));
    // The dialog runs its own event loop inside the command, so the head
    // goes from another thread once the table is on its way.
    std::atomic<bool> vanished{false};
    std::thread unplug([&] {
        if (m_sims.head.WaitForCommand("C1\\?", testsupport::kLimit)) m_sims.head.Vanish();
        vanished = true;
    });
    Frame().Actions().connect->trigger();
    const bool ended = Until([&] {
        return vanished && !Frame().Controller().Busy() &&
               Pane(0) == QStringLiteral("Lost the connection to the head unit on COM1");
    });
    unplug.join();
    ASSERT_TRUE(ended) << Pane(0).toStdString();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(Frame().Actions().connect->isEnabled());
    // Tables cut short are not stored.
    EXPECT_TRUE(m_app->m_calibrationData.m_spectralData.empty());
    EXPECT_EQ(m_app->m_calibrationData.m_nSerialNumber, -1);

    sim::CHeadSimulator back(m_sims.Xdg().PortsFolder(), testsupport::CSimulatedInstruments::kHeadCom);
    back.Start();
    ASSERT_TRUE(ConnectThroughTheRibbon());
    EXPECT_EQ(Pane(0), QStringLiteral("Connected to Vandrel QUORVEX S/N 10427"));
    EXPECT_EQ(m_app->m_calibrationData.m_spectralData.size(), back.SpectralData().size());
    Frame().Actions().disconnect->trigger();
    ASSERT_TRUE(Until([&] { return !Frame().Controller().Busy() && Frame().Actions().connect->isEnabled(); }));
    porterrors::Uninstall();
}

TEST_F(FrameTest, AFailedConnectSaysInTheErrorBarWhichInstrumentDidNotAnswer) {
    m_sims.supply.InjectFault(".*", {sim::FaultKind::NoReply, 0, 5, -1});
    Frame().Actions().connect->trigger();
    ASSERT_TRUE(Until([&] { return !Frame().Controller().Busy() && Frame().Actions().connect->isEnabled(); }));
    EXPECT_TRUE(Frame().ErrorBar()->isVisible());
    EXPECT_EQ(Frame().ErrorBar()->Text(),
              QStringLiteral("Could not connect to the power supply on COM2: no answer. See log file for details."));
    EXPECT_EQ(Pane(0), QStringLiteral("Disconnected"));
    // Closing the bar forgets the failure it named.
    Frame().Actions().toggleErrorBar->trigger();
    EXPECT_FALSE(Frame().ErrorBar()->isVisible());
    EXPECT_EQ(Frame().ErrorBar()->Text(), QStringLiteral("Errors encountered! See log file for details."));
}

// Runs `act` on the dialog of type Dialog once the window's command has
// opened it (its exec() runs inside the command).
template <typename Dialog>
void WhenOpen(const std::function<void(Dialog&)>& act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            act(*dialog);
        }
    });
    timer->start(20);
}

TEST_F(FrameTest, SetupAndInformationOpenTheirDialogsAndOkAppliesTheSettings) {
    WhenOpen<CSettingsSheet>([](CSettingsSheet& sheet) {
        sheet.ApplicationPage()->YAxisCombo()->setCurrentIndex(2);
        sheet.accept();
    });
    Frame().Actions().setup->trigger();
    EXPECT_EQ(m_app->m_appSettings.m_nYAxisDisplayUnits, 2);
    EXPECT_EQ(m_app->m_appSettings.m_quorvexSerialSettings.port, 1);
    EXPECT_EQ(m_app->m_appSettings.m_agilentSerialSettings.port, 2);
    EXPECT_EQ(m_app->m_appSettings.m_etcSerialSettings.port, 3);

    ASSERT_TRUE(ConnectThroughTheRibbon());
    QString headId;
    WhenOpen<CInformationDlg>([&](CInformationDlg& dialog) {
        Until([&] { return !dialog.FieldEdit(CInformationDlg::HeadId)->text().isEmpty(); });
        headId = dialog.FieldEdit(CInformationDlg::HeadId)->text();
        dialog.accept();
    });
    Frame().Actions().information->trigger();
    EXPECT_TRUE(headId.startsWith(QStringLiteral("Vandrel"))) << headId.toStdString();
}

// Prints, as figures and not as a pass mark, what each Connect/Disconnect
// cycle through the ribbon leaves on the heap, without and with the
// calibration download (a head whose serial number is not the stored one).
TEST_F(FrameTest, ConnectCyclesPrintTheMemoryTheyKeep) {
    const auto rssKb = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
        return 0L;
    };
    const auto cycle = [&](bool download) {
        if (download) m_app->m_calibrationData.m_nSerialNumber = -1;
        if (!ConnectThroughTheRibbon()) return false;
        Frame().Actions().disconnect->trigger();
        return Until([&] { return !Frame().Controller().Busy() && Frame().Actions().connect->isEnabled(); });
    };
    constexpr int kCycles = 10;
    for (bool download : {false, true}) {
        ASSERT_TRUE(cycle(download));  // first use of everything a cycle touches
        const long rss = rssKb();
        const std::size_t heap = mallinfo2().uordblks;
        for (int i = 0; i < kCycles; ++i) ASSERT_TRUE(cycle(download));
        std::printf("%d cycles %s the download: RSS %ld -> %ld kB, heap in use %+.1f kB a cycle\n", kCycles,
                    download ? "with" : "without", rss, rssKb(),
                    (double(mallinfo2().uordblks) - double(heap)) / 1024.0 / kCycles);
    }
}

// Waits out the supply's ramp-down.
TEST_F(FrameTest, SlowClosingDuringARampUpCutsItShortRampsDownAndCloses) {
    ASSERT_TRUE(ConnectThroughTheRibbon());
    // Called on the supply's thread, maybe after the test: shared, not borrowed.
    auto peak = std::make_shared<std::atomic<double>>(0.0);
    m_sims.lamp.Subscribe([peak](bool, double amps) {
        if (amps > peak->load()) peak->store(amps);
    });
    // The dialog's loop runs inside the command, so a timer looks at it.
    bool closed = false;
    QWidget* blocking = nullptr;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto* dialog = Frame().findChild<CLampRampDlg*>();
        if (closed || !dialog || !dialog->isVisible() || dialog->Position() < 10) return;
        // The ramp does not block the window, so the window system's close
        // reaches it as this one does.
        blocking = QApplication::activeModalWidget();
        closed = true;
        Frame().close();
        EXPECT_TRUE(Frame().isVisible());
    });
    watch.start(20);
    ASSERT_TRUE(Frame().Actions().rampUp->isEnabled());
    Frame().Actions().rampUp->trigger();
    ASSERT_TRUE(Until([&] { return closed && !Frame().isVisible(); }));
    EXPECT_EQ(blocking, nullptr);
    EXPECT_FALSE(m_sims.lamp.Lit());
    EXPECT_LT(peak->load(), 8.0) << "the ramp-up ran to its end";
    EXPECT_EQ(g_hAgilent.load(), nullptr);
    EXPECT_EQ(testsupport::CSimulatedInstruments::Wire(m_sims.supply).back(), "SYST:LOC");
}

// Waits out the supply's 5 s ramp-down.
TEST_F(FrameTest, SlowClosingWithTheLampLitRampsDownThenDisconnectsAndCloses) {
    ASSERT_TRUE(ConnectThroughTheRibbon());
    ASSERT_EQ(Agilent_RampUp(g_hAgilent.load(), 8.333, 15.0, 1, nullptr, 1, nullptr), 0);
    Frame().Controller().TickTemperature();
    ASSERT_TRUE(Until([&] { return Pane(1) == QStringLiteral("Lamp: ON"); }));
    EXPECT_TRUE(Frame().Actions().rampDown->isEnabled());
    EXPECT_FALSE(Frame().Actions().rampUp->isEnabled());

    Frame().close();
    EXPECT_TRUE(Frame().isVisible());  // not before the lamp is down
    ASSERT_TRUE(Until([&] { return !Frame().isVisible(); }));
    EXPECT_FALSE(m_sims.lamp.Lit());
    EXPECT_EQ(g_hQuorvex.load(), nullptr);
    EXPECT_EQ(g_hAgilent.load(), nullptr);
    EXPECT_EQ(g_hEtc.load(), nullptr);
    const auto wire = testsupport::CSimulatedInstruments::Wire(m_sims.supply);
    EXPECT_EQ(wire.back(), "SYST:LOC");
}

}  // namespace
