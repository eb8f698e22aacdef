// The program's top-level window: the ribbon with the commands, the error
// and notice bars under it, the main view, and the status bar with the
// connection, lamp, lamp-hours and bulb-temperature panes. It owns the
// instrument connection through its CConnectionController and keeps the
// commands, panes and bars in step with what the controller reports.
//
// Ownership and threads: owned by the application object, GUI thread only;
// the frame host it is given outlives it. It owns the view, the controller
// and the dialog host. Closing waits,
// without blocking the GUI thread, for a running sequence, then disconnects
// and closes, so the controller is never destroyed while a sequence runs.
#pragma once

#include <memory>

#include <QMainWindow>
#include <QTimer>

#include "ConnectionController.h"
#include "FrameActions.h"
#include "FrameHost.h"
#include "LogErrorWatch.h"

class CMessageBar;
class CProgramDialogHost;
class CQuorvexControlPanelView;
class CRibbonBar;
class QLabel;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(IFrameHost& host, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CQuorvexControlPanelView* View() const { return m_pView; }
    CConnectionController& Controller() const { return *m_pController; }
    const FrameActions& Actions() const { return m_actions; }
    CRibbonBar* Ribbon() const { return m_pRibbon; }
    CMessageBar* ErrorBar() const { return m_pErrorBar; }
    CMessageBar* NoticeBar() const { return m_pNoticeBar; }
    // The four panes, in their order on the bar.
    QLabel* Pane(int index) const { return m_panes[index]; }

    // Restyles the window in a look (215..219; other ids map to the nearest)
    // and stores it as the program's look.
    void ApplyLook(int look);
    // What follows a settings sheet closed with OK: save, restyle, tell the
    // view, pass the log ceiling on and set the supply's display.
    void AfterSettingsAccepted();
    // Enables the commands and sets the lamp pane and the notice bar from
    // the controller's last state, the settings and the calibration.
    void UpdateCommands();

signals:
    void AboutRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void OnConnect();
    void OnSetup();
    void OnExport();
    void OnSequenceEnded(CConnectionController::Sequence sequence);
    void OnCalibrationDownloaded(const CalibrationTables& tables, int serialNumber);
    void OnTemperature(bool valid, double celsius);
    void OnLampHours(bool valid, double seconds);
    void ShowErrorBar(bool show);

private:
    void BuildRibbon();
    void BuildStatusBar();
    void BuildMessageBars();
    void ConnectController();
    void SetPaneText(int index, const std::string& utf8);
    void SetBulbColour(double celsius);

    IFrameHost& m_host;
    FrameActions m_actions;
    CRibbonBar* m_pRibbon = nullptr;
    CMessageBar* m_pErrorBar = nullptr;
    CMessageBar* m_pNoticeBar = nullptr;
    CQuorvexControlPanelView* m_pView = nullptr;
    QLabel* m_panes[4] = {};
    std::uint32_t m_bulbColour = 0xFF000000;
    std::unique_ptr<CProgramDialogHost> m_pDialogHost;
    std::unique_ptr<CConnectionController> m_pController;
    CLogErrorWatch m_logWatch;
    QTimer m_logTimer;
    bool m_bClosePending = false;
    bool m_bCloseAllowed = false;
};
