// The application object: owns the data folder, the per-run log, the
// settings record and the calibration copy for the whole process, and runs
// start-up and shutdown.
#pragma once

#include <memory>
#include <string>

#include <QApplication>

#include "AppSettings.h"
#include "CalibrationData.h"
#include "FrameHost.h"
#include "InstrumentHandles.h"
#include "ProgramLog.h"

class CMainFrame;

class CQuorvexControlPanelApp : public QApplication, public IFrameHost {
    Q_OBJECT
public:
    CQuorvexControlPanelApp(int& argc, char** argv);
    ~CQuorvexControlPanelApp() override;

    // InitInstance, the event loop, ExitInstance; returns the exit code.
    int Run();

    // Folders, log file, settings, calibration, main window, driver logging.
    bool InitInstance();
    // Saves the settings.
    void ExitInstance();

    void LoadSettings();
    // False when the settings could not be stored (logged at Error).
    bool SaveSettings() override;
    void LoadCalibrationData();
    // Calibration.ini replaced whole, or left as it was and false (the
    // reason logged at Error).
    bool SaveCalibrationData() override;

    // Writes to the program's log when `severity` passes the ceiling setting.
    void Log(int severity, const std::wstring& message) override;

    CAppSettings& Settings() override { return m_appSettings; }
    CCalibrationData& Calibration() override { return m_calibrationData; }
    const std::wstring& LogFile() const override { return m_strLogFile; }

    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }

    // The log folder until the log file is chosen, then the log file.
    std::wstring m_strLogFile;
    // With a trailing '/'.
    std::wstring m_strDataFolder;
    std::wstring m_strCalibrationFile;
    CAppSettings m_appSettings;
    CCalibrationData m_calibrationData;

public slots:
    void OnAppAbout();

private:
    void ReportStartupError(const std::wstring& text);

    CProgramLog m_log;
    std::unique_ptr<CMainFrame> m_pMainFrame;
};

// The one application object.
CQuorvexControlPanelApp* theApp();
