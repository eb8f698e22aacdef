// The main window: its chrome, its commands and their enabling, the panes
// and bars, and the hand-over to the connection controller.
#include "MainFrame.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include "AppLooks.h"
#include "CommandRules.h"
#include "DriverLogSetup.h"
#include "HelpViewer.h"
#include "InformationDlg.h"
#include "InstrumentHandles.h"
#include "LookColours.h"
#include "MessageBar.h"
#include "ProgramDialogHost.h"
#include "QuorvexControlPanelView.h"
#include "RibbonBar.h"
#include "SettingsSheet.h"
#include "StatusTexts.h"
#include "Utf8Text.h"
#include "serial/DriverLog.h"

namespace {

enum Pane { ConnectionPane, LampPane, HoursPane, BulbPane };

const char* const kErrorBarText = "Errors encountered! See log file for details.";

}  // namespace

CMainFrame::CMainFrame(IFrameHost& host, QWidget* parent)
    : QMainWindow(parent),
      m_host(host),
      m_actions(CreateFrameActions(this)),
      m_pDialogHost(std::make_unique<CProgramDialogHost>(this)),
      m_pController(std::make_unique<CConnectionController>(
          *m_pDialogHost, [&host](int severity, const std::wstring& text) { host.Log(severity, text); })) {
    // The title is the program's name alone, never a document name.
    setWindowTitle(QStringLiteral("Quorvex Control Panel"));

    BuildRibbon();
    BuildMessageBars();
    m_pView = new CQuorvexControlPanelView(CQuorvexControlPanelView::ApplicationServices(m_host), this);
    setCentralWidget(m_pView);
    BuildStatusBar();
    ConnectController();
    ApplyLook(m_host.Settings().m_nAppStyle);

    m_logWatch.SetPath(m_host.LogFile());
    m_logTimer.setInterval(1000);
    connect(&m_logTimer, &QTimer::timeout, this, [this] {
        if (m_logWatch.Poll()) ShowErrorBar(true);
    });
    m_logTimer.start();
    m_pController->StartTimers();
    UpdateCommands();
    resize(CQuorvexControlPanelView::kWidth, CQuorvexControlPanelView::kHeight + menuWidget()->sizeHint().height() +
                                                statusBar()->sizeHint().height());
}

// The controller goes first: its workers end before the host they may call.
CMainFrame::~CMainFrame() { m_pController.reset(); }

void CMainFrame::BuildRibbon() {
    m_pRibbon = new CRibbonBar(this);
    auto* fileMenu = new QMenu(QStringLiteral("File"), this);
    fileMenu->addAction(m_actions.toggleErrorBar);
    fileMenu->addAction(m_actions.openLogFile);
    fileMenu->addSeparator();
    fileMenu->addAction(m_actions.exit);
    m_pRibbon->SetApplicationMenu(fileMenu);
    const int home = m_pRibbon->AddTab(QStringLiteral("Home"), QChar('H'));
    m_pRibbon->AddPanel(home, QStringLiteral("Settings"), {m_actions.setup});
    m_pRibbon->AddPanel(home, QStringLiteral("Connection"), {m_actions.connect, m_actions.disconnect});
    m_pRibbon->AddPanel(home, QStringLiteral("Lamp "), {m_actions.rampUp, m_actions.rampDown});
    const int utilities = m_pRibbon->AddTab(QStringLiteral("Utilities"), QChar('U'));
    m_pRibbon->AddPanel(utilities, QStringLiteral("Calibration Data"),
                        {m_actions.upload, m_actions.download, m_actions.exportData});
    m_pRibbon->AddPanel(utilities, QStringLiteral("Advanced"), {m_actions.information});
    const int help = m_pRibbon->AddTab(QStringLiteral("Help"), QChar('Q'));
    m_pRibbon->AddPanel(help, QStringLiteral("Help"), {m_actions.help, m_actions.about});
    auto* styleMenu = new QMenu(QStringLiteral("Style"), this);
    for (QAction* look : m_actions.lookActions) styleMenu->addAction(look);
    m_pRibbon->AddRightMenu(QStringLiteral("Style"), styleMenu);
    m_pRibbon->AddRightAction(m_actions.help);
    addAction(m_actions.help);  // F1 anywhere in the window

    connect(m_actions.exit, &QAction::triggered, this, &QWidget::close);
    connect(m_actions.about, &QAction::triggered, this, &CMainFrame::AboutRequested);
    connect(m_actions.setup, &QAction::triggered, this, &CMainFrame::OnSetup);
    connect(m_actions.information, &QAction::triggered, this, [this] {
        CInformationDlg dialog(g_hQuorvex.load(), g_hAgilent.load(), g_hEtc.load(), this);
        dialog.exec();
    });
    connect(m_actions.help, &QAction::triggered, this, [this] { helpviewer::Open(this); });
    connect(m_actions.connect, &QAction::triggered, this, &CMainFrame::OnConnect);
    connect(m_actions.disconnect, &QAction::triggered, this, [this] { m_pController->Disconnect(); });
    connect(m_actions.rampUp, &QAction::triggered, this, [this] { m_pController->RampUp(); });
    connect(m_actions.rampDown, &QAction::triggered, this, [this] { m_pController->RampDown(); });
    connect(m_actions.upload, &QAction::triggered, this, [this] { m_pController->Upload(); });
    connect(m_actions.download, &QAction::triggered, this, [this] { m_pController->Download(); });
    connect(m_actions.exportData, &QAction::triggered, this, &CMainFrame::OnExport);
    connect(m_actions.looks, &QActionGroup::triggered, this, [this](QAction* look) {
        m_host.Settings().m_nAppStyle = look->data().toInt();
        if (!m_host.SaveSettings()) ShowErrorBar(true);
        ApplyLook(look->data().toInt());
        m_pView->OnSettingsChanged();
    });
}

void CMainFrame::BuildMessageBars() {
    m_pErrorBar = new CMessageBar(this);
    m_pErrorBar->setObjectName(QStringLiteral("ErrorBar"));
    m_pErrorBar->SetText(QString::fromUtf8(kErrorBarText));
    m_pErrorBar->SetButton(QStringLiteral("Open Log File"), QStringLiteral("Click here to open the log file"));
    m_pErrorBar->SetCloseBox(true);
    m_pErrorBar->hide();
    m_pNoticeBar = new CMessageBar(this);
    m_pNoticeBar->setObjectName(QStringLiteral("NoticeBar"));
    m_pNoticeBar->SetCloseBox(false);
    m_pNoticeBar->hide();

    auto* top = new QWidget(this);
    auto* layout = new QVBoxLayout(top);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pRibbon);
    layout->addWidget(m_pErrorBar);
    layout->addWidget(m_pNoticeBar);
    setMenuWidget(top);

    connect(m_pErrorBar, &CMessageBar::ButtonClicked, m_actions.openLogFile, &QAction::trigger);
    connect(m_pErrorBar, &CMessageBar::CloseClicked, this, [this] { ShowErrorBar(false); });
    connect(m_actions.toggleErrorBar, &QAction::toggled, this, &CMainFrame::ShowErrorBar);
    connect(m_actions.openLogFile, &QAction::triggered, this, [this] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdWString(m_host.LogFile())));
    });
    connect(m_pDialogHost.get(), &CProgramDialogHost::UploadFailed, this, [this] { ShowErrorBar(true); });
}

void CMainFrame::BuildStatusBar() {
    const char* const texts[] = {statustexts::kDisconnected, "Lamp: OFF", "Lamp Hours: \u2014",
                                 "Bulb Temperature: \u2013 \u00B0C"};
    const char* const labels[] = {"Connection Status", "Lamp Status", "Lamp Hours", "Bulb Temperature"};
    for (int i = 0; i < 4; ++i) {
        m_panes[i] = new QLabel(FromUtf8(texts[i]), this);
        m_panes[i]->setAccessibleName(QString::fromUtf8(labels[i]));
        m_panes[i]->setToolTip(QString::fromUtf8(labels[i]));
        m_panes[i]->setContentsMargins(6, 0, 6, 0);
    }
    statusBar()->addWidget(m_panes[ConnectionPane]);
    statusBar()->addWidget(m_panes[LampPane]);
    statusBar()->addPermanentWidget(m_panes[HoursPane]);
    statusBar()->addPermanentWidget(m_panes[BulbPane]);
}

void CMainFrame::ConnectController() {
    CConnectionController* controller = m_pController.get();
    connect(controller, &CConnectionController::ConnectionText, this,
            [this](const QString& text) { m_panes[ConnectionPane]->setText(text); });
    connect(controller, &CConnectionController::StateChanged, this, [this] { UpdateCommands(); });
    connect(controller, &CConnectionController::ErrorReport, this, [this](const QString& text) {
        m_pErrorBar->SetText(text + QStringLiteral(" See log file for details."));
        ShowErrorBar(true);
    });
    connect(controller, &CConnectionController::SequenceStarted, this, [this] { UpdateCommands(); });
    connect(controller, &CConnectionController::SequenceEnded, this, &CMainFrame::OnSequenceEnded);
    connect(controller, &CConnectionController::CalibrationDownloaded, this, &CMainFrame::OnCalibrationDownloaded);
    connect(controller, &CConnectionController::HeadPositionRead, m_pView, &CQuorvexControlPanelView::OnHeadPosition);
    connect(controller, &CConnectionController::TemperatureRead, this, &CMainFrame::OnTemperature);
    connect(controller, &CConnectionController::LampHoursRead, this, &CMainFrame::OnLampHours);
}

void CMainFrame::SetPaneText(int index, const std::string& utf8) { m_panes[index]->setText(FromUtf8(utf8)); }

void CMainFrame::UpdateCommands() {
    const CAppSettings& settings = m_host.Settings();
    const CCalibrationData& calibration = m_host.Calibration();
    const SessionState& state = m_pController->State();
    const bool connected = state.connected;
    const commandrules::Enabled enabled = commandrules::Decide(
        {connected, state.lamp, state.rampedUp, commandrules::PortsConfigured(settings), m_pController->Busy(),
         m_pController->Uploading()});

    m_actions.setup->setEnabled(enabled.setup);
    m_actions.connect->setEnabled(enabled.connect);
    m_actions.disconnect->setEnabled(enabled.disconnect);
    m_actions.rampUp->setEnabled(enabled.rampUp);
    m_actions.rampDown->setEnabled(enabled.rampDown);
    m_actions.upload->setEnabled(enabled.upload);
    m_actions.download->setEnabled(enabled.download);
    m_actions.exportData->setEnabled(enabled.exportData);
    m_actions.information->setEnabled(enabled.information);
    m_actions.about->setEnabled(enabled.about);
    // Disconnected, the controller says Off, or Unknown after losing a lit supply.
    SetPaneText(LampPane, statustexts::LampText(state.lamp));
    m_pView->SetConnected(enabled.viewPicks);

    const std::string notice = statustexts::Notice(calibration.m_apertureData.empty(),
                                                   calibration.m_spectralData.empty(), connected);
    m_pNoticeBar->SetText(FromUtf8(notice));
    m_pNoticeBar->setVisible(!notice.empty());
}

void CMainFrame::OnConnect() {
    const CAppSettings& settings = m_host.Settings();
    const CCalibrationData& calibration = m_host.Calibration();
    ConnectRequest request;
    request.head = settings.m_quorvexSerialSettings;
    request.supply = settings.m_agilentSerialSettings;
    request.counter = settings.m_etcSerialSettings;
    request.disableSupplyDisplay = settings.m_nDisableAgilentDisplay != 0;
    request.storedSerialNumber = calibration.m_nSerialNumber;
    request.apertureTableEmpty = calibration.m_apertureData.empty();
    request.spectralTableEmpty = calibration.m_spectralData.empty();
    m_pController->Connect(request);
}

void CMainFrame::OnExport() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export Calibration Data"), QString(),
                                                      QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty()) return;
    if (!m_host.Calibration().ExportCalibrationData(path.toStdWString())) {
        m_host.Log(driverlog::Error, L"Error exporting the calibration data to \"" + path.toStdWString() + L"\".");
        QMessageBox::warning(this, windowTitle(), QStringLiteral("The calibration data could not be written to\n%1").arg(path));
    }
}

void CMainFrame::OnSequenceEnded(CConnectionController::Sequence sequence) {
    UpdateCommands();
    if (!m_bClosePending) return;
    if (sequence == CConnectionController::Sequence::Disconnect && m_bCloseAllowed) {
        close();
        return;
    }
    // What ran when the window was asked to close has ended: now disconnect.
    m_bCloseAllowed = true;
    m_pController->Disconnect();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_bCloseAllowed && !m_pController->Busy()) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_pController->Busy()) {
        // What runs ends as its Cancel ends it (a ramp-up is ramped down
        // again), then the window disconnects and closes. Asked again on a
        // second close, in case the first came before the dialog showed.
        m_pController->CancelForClose();
        if (!m_bClosePending)
            m_panes[ConnectionPane]->setText(
                QStringLiteral("Closing when the operation in progress has finished\u2026"));
        m_bClosePending = true;
        return;
    }
    if (m_bClosePending) return;
    m_bClosePending = true;
    m_bCloseAllowed = true;
    m_pController->Disconnect();
}

void CMainFrame::OnCalibrationDownloaded(const CalibrationTables& tables, int serialNumber) {
    IFrameHost* app = &m_host;
    app->Calibration().FillFromHead(tables.apertureRows, tables.spectralPairs);
    if (serialNumber >= 0) {
        app->Calibration().m_nSerialNumber = serialNumber;
        // The reason is in the log; the bar also shows when there is no log file.
        if (!app->SaveCalibrationData()) ShowErrorBar(true);
    }
    m_pView->OnCalibrationReplaced();
    UpdateCommands();
}

void CMainFrame::OnTemperature(bool valid, double celsius) {
    SetPaneText(BulbPane, statustexts::BulbTemperature(valid, celsius));
    SetBulbColour(valid ? celsius : -1.0);
}

void CMainFrame::SetBulbColour(double celsius) {
    m_bulbColour = lookcolours::StatusPaneColour(m_host.Settings().m_nAppStyle, celsius, m_bulbColour);
    m_panes[BulbPane]->setStyleSheet(
        QStringLiteral("color: %1;").arg(QColor::fromRgba(m_bulbColour).name(QColor::HexRgb)));
}

void CMainFrame::OnLampHours(bool valid, double seconds) { SetPaneText(HoursPane, statustexts::LampHours(valid, seconds)); }

void CMainFrame::ShowErrorBar(bool show) {
    // A failure named in the bar stays named until the bar is closed.
    if (!show) m_pErrorBar->SetText(QString::fromUtf8(kErrorBarText));
    m_pErrorBar->setVisible(show);
    const QSignalBlocker blocker(m_actions.toggleErrorBar);
    m_actions.toggleErrorBar->setChecked(show);
}

void CMainFrame::ApplyLook(int look) {
    const int shown = applooks::NearestLook(look);
    applooks::Apply(*qApp, shown);
    applooks::SaveProfileLook(shown);
    for (QAction* action : m_actions.lookActions) action->setChecked(action->data().toInt() == shown);
    SetBulbColour(-1.0);
}

void CMainFrame::OnSetup() {
    IFrameHost* app = &m_host;
    app->Log(driverlog::Debug, L"Opening settings dialog.");
    int result;
    {
        CSettingsSheet sheet(app->Settings(), m_pController->State().connected, this);
        result = sheet.exec();
    }
    if (result == QDialog::Accepted) {
        AfterSettingsAccepted();
    } else if (result == QDialog::Rejected) {
        app->Log(driverlog::Debug, L"Settings dialog exited with IDCANCEL exit code.");
        // An Apply before the Cancel may have changed the ports.
        UpdateCommands();
    } else {
        app->Log(driverlog::Warning, L"Settings dialog exited with unknown exit code.");
    }
}

void CMainFrame::AfterSettingsAccepted() {
    IFrameHost* app = &m_host;
    app->Log(driverlog::Debug, L"Settings dialog exited with IDOK exit code.");
    app->Log(driverlog::Debug, L"Saving settings to registry.");
    if (!app->SaveSettings()) ShowErrorBar(true);
    app->Log(driverlog::Debug, L"Setting application visual style.");
    ApplyLook(app->Settings().m_nAppStyle);
    m_pView->OnSettingsChanged();
    driverlogsetup::SetLogCeiling(static_cast<unsigned>(app->Settings().m_nLogCeiling));
    app->Log(driverlog::Informational,
             L"The logging ceiling has been set to " + std::to_wstring(app->Settings().m_nLogCeiling));
    m_pController->ApplySupplyDisplay(app->Settings().m_nDisableAgilentDisplay != 0);
    UpdateCommands();
}
