// Start-up and shutdown of the program, settings and calibration file access.
#include "QuorvexControlPanelApp.h"

#include <atomic>

#include "AboutDlg.h"
#include "AppPaths.h"
#include "DriverLogSetup.h"
#include "MainFrame.h"
#include "MessageBoxHandler.h"
#include "SettingsStorageIniFile.h"
#include "SettingsStorageRegistry.h"
#include "Version.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {
const wchar_t* const kProgramName = L"Quorvex Control Panel";
}

CQuorvexControlPanelApp* theApp() {
    return static_cast<CQuorvexControlPanelApp*>(QCoreApplication::instance());
}

CQuorvexControlPanelApp::CQuorvexControlPanelApp(int& argc, char** argv)
    : QApplication(argc, argv),
      // Worker threads log too; the ceiling is only ever replaced whole by
      // the GUI thread.
      m_log([this] {
          return std::atomic_ref<int>(m_appSettings.m_nLogCeiling).load(std::memory_order_relaxed);
      }) {
    setOrganizationName(QStringLiteral("Vandrel Scientific Ltd"));
    setApplicationName(QString::fromWCharArray(kProgramName));
    setApplicationVersion(QString::fromStdWString(GetFileVersion()));
    m_calibrationData.Reset();
    messageboxhandler::Install();
}

CQuorvexControlPanelApp::~CQuorvexControlPanelApp() {
    m_pMainFrame.reset();
    messageboxhandler::Uninstall();
}

int CQuorvexControlPanelApp::Run() {
    if (!InitInstance()) {
        ExitInstance();
        return 1;
    }
    const int code = exec();
    ExitInstance();
    return code;
}

void CQuorvexControlPanelApp::ReportStartupError(const std::wstring& text) {
    MessageBoxW(nullptr, text.c_str(), kProgramName, MB_OK | MB_ICONERROR);
}

bool CQuorvexControlPanelApp::InitInstance() {
    // The log file is named by the UTC start time, whatever the time zone.
    SYSTEMTIME now{};
    GetSystemTime(&now);

    std::wstring appData;
    if (!apppaths::GetApplicationDataFolder(appData)) {
        ReportStartupError(L"Error getting path to application data folder!");
    } else {
        m_strDataFolder = apppaths::DataFolder(appData);
        m_strCalibrationFile = apppaths::JoinFile(m_strDataFolder, L"Calibration.ini");
        m_strLogFile = apppaths::JoinFolder(m_strDataFolder, L"logs");

        bool bLogFolderUsable = true;
        switch (apppaths::CreateFolderTree(m_strLogFile)) {
            case ERROR_BAD_PATHNAME:
                ReportStartupError(
                    platform::FormatW(L"ERROR_BAD_PATHNAME: \"%ls\"", m_strLogFile.c_str()));
                bLogFolderUsable = false;
                break;
            case ERROR_FILENAME_EXCED_RANGE:
                ReportStartupError(platform::FormatW(L"ERROR_FILENAME_EXCED_RANGE: \"%ls\"",
                                                     m_strLogFile.c_str()));
                bLogFolderUsable = false;
                break;
            default: break;
        }
        if (bLogFolderUsable) {
            m_strLogFile = apppaths::JoinFile(m_strLogFile, apppaths::LogFileName(now));
            m_log.SetLogfilePath(m_strLogFile);
            Log(driverlog::Debug, L"Application logfile path set to \"" + m_strLogFile + L"\"");
        }
    }

    LoadSettings();
    LoadCalibrationData();

    m_pMainFrame = std::make_unique<CMainFrame>(*this);
    connect(m_pMainFrame.get(), &CMainFrame::AboutRequested, this,
            &CQuorvexControlPanelApp::OnAppAbout);
    m_pMainFrame->show();

    driverlogsetup::SetLogfilePath(m_strLogFile);
    return true;
}

void CQuorvexControlPanelApp::ExitInstance() { SaveSettings(); }

void CQuorvexControlPanelApp::LoadSettings() {
    auto storage = CSettingsStorageRegistry::ForApplicationSettings();
    m_appSettings.Load(*storage);
    driverlogsetup::SetLogCeiling(static_cast<unsigned>(m_appSettings.m_nLogCeiling));
    Log(driverlog::Informational,
        L"The logging ceiling has been set to " + std::to_wstring(m_appSettings.m_nLogCeiling));
}

bool CQuorvexControlPanelApp::SaveSettings() {
    auto storage = CSettingsStorageRegistry::ForApplicationSettings(
        [this](int severity, const std::wstring& message) { Log(severity, message); });
    return m_appSettings.Save(*storage);
}

void CQuorvexControlPanelApp::LoadCalibrationData() {
    CSettingsStorageIniFile storage(m_strCalibrationFile, L"CalibrationData");
    m_calibrationData.Load(storage);
}

bool CQuorvexControlPanelApp::SaveCalibrationData() {
    CSettingsStorageIniFile storage(m_strCalibrationFile, L"CalibrationData");
    storage.SetLog([this](int severity, const std::wstring& message) { Log(severity, message); });
    return m_calibrationData.Save(storage);
}

void CQuorvexControlPanelApp::Log(int severity, const std::wstring& message) {
    m_log.Write(severity, message);
}

void CQuorvexControlPanelApp::OnAppAbout() {
    CAboutDlg dialog(m_pMainFrame.get());
    dialog.exec();
}
