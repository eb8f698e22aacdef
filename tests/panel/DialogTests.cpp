// The lamp ramp, download and upload dialogs on Qt's offscreen platform,
// against the simulated instruments: the upload dialog's enabling rules and
// its results, a ramp-down that cannot be cancelled, and dialogs that end
// only once their worker has.
#include "QtTestArgs.h"
#include "DownloadCalibrationDataDlg.h"
#include "LampRampDlg.h"
#include "UploadCalibrationDataDlg.h"

#include "SimulatedInstruments.h"

#include <PsuDll/PsuDll.h>
#include <QuorvexDll/QuorvexDll.h>

#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace {

using qttest::g_argc;
using qttest::g_argv;

// The other GUI tests create and destroy the program's own application, so
// each test here brings its own.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_app = std::make_unique<QApplication>(g_argc, g_argv);
        ASSERT_EQ(Quorvex_Connect(static_cast<int>(Sims::kHeadCom), 9600, 0, 8, 0, 0, &m_head, 1, nullptr),
                  QuorvexSuccess);
        const SerialPortSettingsStruct supply{static_cast<int32_t>(Sims::kSupplyCom), 9600, 0, 8, 2, 0};
        ASSERT_EQ(Agilent_Connect(supply, &m_supply, 1, nullptr), AgilentSuccess);
    }
    void TearDown() override {
        if (m_head) Quorvex_Disconnect(&m_head, 1, nullptr);
        if (m_supply) Agilent_Disconnect(&m_supply, 1, nullptr);
        m_app.reset();
    }

    // Runs the event loop until the dialog has closed itself.
    static bool WaitForClose(const QDialog& dialog) {
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return !dialog.isVisible();
        });
    }
    QString WriteFile(const std::string& name, const std::string& content) const {
        const auto path = m_sims.Xdg().Root() / name;
        std::ofstream(path, std::ios::binary) << content;
        return QString::fromStdString(path.string());
    }

    using Sims = testsupport::CSimulatedInstruments;
    std::unique_ptr<QApplication> m_app;
    Sims m_sims;
    void* m_head = nullptr;
    void* m_supply = nullptr;
};

TEST_F(DialogTest, UploadDialogEnablesByTicksAndRunsAndReportsEachUpload) {
    CUploadCalibrationDataDlg dialog(m_head);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Upload Calibration Data"));
    // {aperture ticked, spectral ticked} -> aperture edit, spectral edit, Upload.
    struct Case {
        bool aperture, spectral;
    };
    for (const Case& c : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
        dialog.SetApertureChecked(c.aperture);
        dialog.SetSpectralChecked(c.spectral);
        EXPECT_EQ(dialog.ApertureEdit()->isEnabled(), c.aperture);
        EXPECT_EQ(dialog.SpectralEdit()->isEnabled(), c.spectral);
        EXPECT_EQ(dialog.UploadButton()->isEnabled(), c.aperture || c.spectral);
        EXPECT_FALSE(dialog.CancelButton()->isEnabled());
        EXPECT_TRUE(dialog.DoneButton()->isEnabled());
    }
    EXPECT_FALSE(dialog.Bar()->isVisible());

    dialog.SetSpectralChecked(false);
    dialog.SetAperturePath(WriteFile("a.csv", "2,3\n1,0.5,0.25\n2,1,0.5\n"));
    dialog.UploadButton()->click();
    EXPECT_TRUE(dialog.Running());
    EXPECT_TRUE(dialog.Bar()->isVisible());
    EXPECT_FALSE(dialog.UploadButton()->isEnabled());
    EXPECT_TRUE(dialog.CancelButton()->isEnabled());
    EXPECT_FALSE(dialog.DoneButton()->isEnabled());
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        QCoreApplication::processEvents();
        return !dialog.Running();
    }));
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("Complete."));
    EXPECT_TRUE(dialog.Succeeded());
    EXPECT_TRUE(dialog.UploadButton()->isEnabled());
    EXPECT_FALSE(dialog.CancelButton()->isEnabled());

    dialog.SetAperturePath(WriteFile("bad.csv", "2,3\n1,0.5\n"));
    dialog.UploadButton()->click();
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        QCoreApplication::processEvents();
        return !dialog.Running();
    }));
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("Error. See the log file for details."));
    EXPECT_EQ(dialog.Bar()->value(), 100);
    EXPECT_FALSE(dialog.Succeeded());
    dialog.DoneButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(DialogTest, ClosingTheUploadDialogAbortsTheUploadAndWaitsForIt) {
    std::string pairs;
    for (int i = 0; i < 2000; ++i) pairs += std::to_string(300 + i) + ",1E-05\n";
    CUploadCalibrationDataDlg dialog(m_head);
    dialog.show();
    dialog.SetSpectralChecked(true);
    dialog.SetSpectralPath(WriteFile("s.csv", pairs));
    dialog.UploadButton()->click();
    ASSERT_TRUE(dialog.Running());
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_TRUE(WaitForClose(dialog));
    EXPECT_FALSE(dialog.Running());
    EXPECT_EQ(dialog.result(), 2);
    EXPECT_FALSE(dialog.Succeeded());
    EXPECT_LT(m_sims.head.SpectralData().size(), 2000u);
}

TEST_F(DialogTest, EscapeOrTheCloseBoxEndTheIdleUploadDialogWithTwo) {
    for (const bool escape : {true, false}) {
        CUploadCalibrationDataDlg dialog(m_head);
        dialog.show();
        if (escape)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
        ASSERT_TRUE(WaitForClose(dialog));
        EXPECT_EQ(dialog.result(), 2) << (escape ? "Escape" : "close box");
    }
}

TEST_F(DialogTest, RampDownIgnoresEscapeAndTheCloseBoxAndEndsWithOne) {
    CLampRampDlg dialog(1, m_supply);
    dialog.SetSeconds(1);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Ramping ..."));
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("Ramping down the lamp ..."));
    EXPECT_EQ(dialog.Position(), 100);
    EXPECT_FALSE(dialog.CancelButton()->isEnabled());
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_TRUE(WaitForClose(dialog));
    EXPECT_EQ(dialog.result(), 1);
    EXPECT_EQ(dialog.Position(), 100);
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("Ramping down the lamp ..."));
}

TEST_F(DialogTest, CancelledRampUpEndsWithTwo) {
    CLampRampDlg dialog(0, m_supply);
    dialog.SetSeconds(30);
    dialog.show();
    dialog.CancelButton()->click();
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("Cancelling ..."));
    ASSERT_TRUE(WaitForClose(dialog));
    EXPECT_EQ(dialog.result(), 2);
    EXPECT_LT(dialog.Position(), 100);
}

TEST_F(DialogTest, DownloadDialogEndsWithTwoAfterCancelOnlyOnceItsWorkerHasEnded) {
    // The reply trickles in a byte at a time: the download cannot end by itself first.
    m_sims.head.InjectFault(R"(C1\?)", sim::Fault{sim::FaultKind::Split, 0, 100, 1});
    CDownloadCalibrationDataDlg dialog(m_head);
    dialog.show();
    ASSERT_TRUE(m_sims.head.WaitForCommand(R"(C1\?)", testsupport::kLimit));
    dialog.CancelButton()->click();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_TRUE(WaitForClose(dialog));
    EXPECT_FALSE(dialog.Running());
    EXPECT_EQ(dialog.result(), 2);
    EXPECT_EQ(Sims::Wire(m_sims.head), (std::vector<std::string>{"I?", "S?", "C1?"}));
}

TEST_F(DialogTest, DownloadDialogEndsWithOneWhenBothTablesArrived) {
    CDownloadCalibrationDataDlg dialog(m_head);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Downloading Calibration Data ..."));
    dialog.show();
    ASSERT_TRUE(WaitForClose(dialog));
    EXPECT_EQ(dialog.result(), 1);
    EXPECT_EQ(dialog.OverallPosition(), 100);
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("Complete."));
}

}  // namespace
