// The main window when the calibration downloaded at connect cannot be
// saved: Calibration.ini is left alone, the reason is logged at Error and
// the error bar shows.
#include <filesystem>
#include <sstream>

#include <QAction>
#include <QSettings>

#include <gtest/gtest.h>

#include "ConnectionController.h"
#include "MainFrame.h"
#include "MessageBar.h"
#include "QtTestArgs.h"
#include "QuorvexControlPanelApp.h"
#include "SimulatedInstruments.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

int AnswerBox(void*, HWND, LPCWSTR, LPCWSTR, UINT) { return IDOK; }

}  // namespace

TEST(CalibrationSaveFrameTest, AFailedSaveAfterTheDownloadIsLoggedAndShowsTheErrorBar) {
    testsupport::CSimulatedInstruments sims;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(sims.Xdg().ConfigHome().string()));
    CQuorvexControlPanelApp app(qttest::g_argc, qttest::g_argv);
    ASSERT_TRUE(app.InitInstance());
    Platform_SetMessageBoxHandler(&AnswerBox, nullptr);
    app.m_appSettings.m_quorvexSerialSettings.port = testsupport::CSimulatedInstruments::kHeadCom;
    app.m_appSettings.m_agilentSerialSettings.port = testsupport::CSimulatedInstruments::kSupplyCom;
    app.m_appSettings.m_etcSerialSettings.port = testsupport::CSimulatedInstruments::kCounterCom;
    // A folder that does not exist: no temporary file can be made in it.
    const std::filesystem::path file = sims.Xdg().DataHome() / "gone" / "Calibration.ini";
    app.m_strCalibrationFile = platform::FromUtf8(file.string());
    CMainFrame& frame = *app.MainFrame();
    frame.UpdateCommands();
    EXPECT_FALSE(frame.ErrorBar()->isVisible());

    ASSERT_TRUE(qttest::RunUntil([&] { return frame.Actions().connect->isEnabled(); }));
    frame.Actions().connect->trigger();
    ASSERT_TRUE(qttest::RunUntil(
        [&] { return !frame.Controller().Busy() && frame.Actions().disconnect->isEnabled(); },
        std::chrono::seconds(60)));
    EXPECT_EQ(app.m_calibrationData.m_nSerialNumber, 10427);
    EXPECT_TRUE(frame.ErrorBar()->isVisible());
    EXPECT_FALSE(std::filesystem::exists(file.parent_path()));

    std::istringstream log(testsupport::ReadFile(std::filesystem::path(app.m_strLogFile)));
    std::vector<std::string> errors;
    for (std::string line; std::getline(log, line);)
        if (line.find("; Error]: ") != std::string::npos) errors.push_back(line.substr(line.find("]: ") + 3));
    EXPECT_EQ(errors, std::vector<std::string>{"Saving \"" + file.string() +
                                               "\" failed: the temporary file could not be created "
                                               "(No such file or directory)."});

    frame.close();
    EXPECT_TRUE(qttest::RunUntil([&] { return !frame.isVisible(); }));
}
