// Start-up and shutdown of the program, its About box, message boxes raised
// from other threads and termination signals: the tests that need the
// program's QApplication and widgets.
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <thread>

#include <QAbstractButton>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include "QtTestArgs.h"
#include "AboutDlg.h"
#include "MainFrame.h"
#include "MessageBoxHandler.h"
#include "PsuDll/PsuDll.h"
#include "QuorvexDll/QuorvexDll.h"
#include "TallyDll/TallyDll.h"
#include "PanelTestEnv.h"
#include "PortErrorGate.h"
#include "QuorvexControlPanelApp.h"
#include "TerminationSignals.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

using qttest::g_argc;
using qttest::g_argv;

std::mutex g_boxesMutex;
std::vector<std::wstring> g_boxes;  // the texts of the boxes shown

int RecordBox(void*, HWND, LPCWSTR text, LPCWSTR, UINT) {
    std::lock_guard lock(g_boxesMutex);
    g_boxes.push_back(text);
    return IDOK;
}

// The log file name an independent clock gives for "now" in UTC.
std::string UtcLogFileName() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char name[64];
    std::strftime(name, sizeof name, "%Y-%m-%d_%H-%M-%S_SystemLog.log", &utc);
    return name;
}

std::vector<std::string> ReadLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The whole program runs far from UTC, so a local-time file name would show.
const bool g_bFarFromUtc = [] {
    setenv("TZ", "QVT-14", 1);
    tzset();
    return true;
}();

class StartupTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        std::lock_guard lock(g_boxesMutex);
        g_boxes.clear();
    }
    void TearDown() override {
        m_app.reset();
        PanelTest::TearDown();
    }

    CQuorvexControlPanelApp& App() {
        if (!m_app) {
            m_app = std::make_unique<CQuorvexControlPanelApp>(g_argc, g_argv);
            Platform_SetMessageBoxHandler(&RecordBox, nullptr);
        }
        return *m_app;
    }

    fs::path DataFolder() const {
        return Xdg().DataHome() / "Vandrel Scientific Ltd" / "Quorvex Control Panel";
    }

    static std::vector<std::wstring> Boxes() {
        std::lock_guard lock(g_boxesMutex);
        return g_boxes;
    }

private:
    std::unique_ptr<CQuorvexControlPanelApp> m_app;
};

const std::regex kEntry(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}; (\w+)\]: (.*)$)");

}  // namespace

TEST_F(StartupTest, FirstRunCreatesFoldersNamesTheLogByUtcLogsTheCeilingFirstAndSavesOnlySettings) {
    CQuorvexControlPanelApp& app = App();
    const std::string before = UtcLogFileName();
    ASSERT_TRUE(app.InitInstance());
    const std::string after = UtcLogFileName();

    const fs::path data = DataFolder();
    EXPECT_EQ(app.m_strDataFolder, platform::FromUtf8(data.string() + "/"));
    EXPECT_EQ(app.m_strCalibrationFile, platform::FromUtf8((data / "Calibration.ini").string()));
    EXPECT_TRUE(fs::is_directory(data / "logs"));

    const fs::path logFile(platform::ToUtf8(app.m_strLogFile));
    EXPECT_EQ(logFile.parent_path(), data / "logs");
    const std::string name = logFile.filename().string();
    EXPECT_TRUE(name == before || name == after) << name << " (UTC " << before << ")";
    // The path entry (debug) came before the settings and was filtered out.
    const std::vector<std::string> lines = ReadLines(logFile);
    ASSERT_FALSE(lines.empty());
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, kEntry)) << lines[0];
    EXPECT_EQ(match[1], "Informational");
    EXPECT_EQ(match[2], "The logging ceiling has been set to 6");

    ASSERT_NE(app.MainFrame(), nullptr);
    EXPECT_TRUE(app.MainFrame()->isVisible());
    EXPECT_EQ(app.MainFrame()->windowTitle(), QStringLiteral("Quorvex Control Panel"));
    EXPECT_TRUE(Boxes().empty());
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Quorvex Control Panel"));
    EXPECT_EQ(about.VersionText(), QStringLiteral("Quorvex Control Panel, Version 1.0.0"));

    // Shutdown saves the settings but never the calibration copy.
    app.m_appSettings.m_nAppStyle = 216;
    app.m_appSettings.m_etcSerialSettings.port = 3;
    app.m_calibrationData.m_nSerialNumber = 99;
    app.ExitInstance();
    auto registry = Registry();
    EXPECT_EQ(registry->value(QStringLiteral("Application Settings/AppStyle")).toInt(), 216);
    EXPECT_EQ(registry->value(QStringLiteral("Application Settings/ETCSerialSettings/port")).toInt(),
              3);
    EXPECT_EQ(registry->value(QStringLiteral("Application Settings/LogCeiling")).toInt(), 6);
    EXPECT_FALSE(fs::exists(data / "Calibration.ini"));
}

TEST_F(StartupTest, SavedCeilingAndCalibrationAreLoadedAndTheProgramAndLibrariesLogAtTheCeiling) {
    Registry()->setValue(QStringLiteral("Application Settings/LogCeiling"), 7);
    fs::create_directories(DataFolder());
    // What the file holds is the ini tests' business; the serial number shows
    // that this one was read.
    std::ofstream(DataFolder() / "Calibration.ini") << "[CalibrationData]\r\nSerialNumber=4711\r\n";
    CQuorvexControlPanelApp& app = App();
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.m_appSettings.m_nLogCeiling, 7);
    EXPECT_EQ(app.m_calibrationData.m_nSerialNumber, 4711);

    app.Log(7, L"debug at seven");
    app.m_appSettings.m_nLogCeiling = 6;
    app.Log(7, L"debug at six");
    app.Log(6, L"information at six");
    std::thread worker([&] { app.Log(6, L"from a worker"); });
    worker.join();

    std::vector<std::string> messages;
    for (const std::string& line : ReadLines(platform::ToUtf8(app.m_strLogFile))) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, kEntry)) << line;
        messages.push_back(match[2]);
    }
    // The path entry came before the settings were loaded, at the default 6.
    const std::vector<std::string> expected = {"The logging ceiling has been set to 7",
                                               "debug at seven", "information at six",
                                               "from a worker"};
    EXPECT_EQ(messages, expected);

    // No such port: each library makes its device object, which takes the
    // saved ceiling and path, and then fails to open the port.
    const int kMissingPort = 250;
    SerialPortSettingsStruct settings{kMissingPort, 9600, 0, 8, 0, 0};
    void* handle = nullptr;
    EXPECT_NE(Quorvex_Connect(kMissingPort, 9600, 0, 8, 0, 0, &handle, 1, nullptr), 0);
    EXPECT_NE(Agilent_Connect(settings, &handle, 1, nullptr), 0);
    EXPECT_NE(Etc_Connect(settings, &handle, 1, nullptr), 0);

    const std::string pathEntry =
        ": Logfile path set to \"" + platform::ToUtf8(app.m_strLogFile) + "\"";
    const std::string log = testsupport::ReadFile(platform::ToUtf8(app.m_strLogFile));
    for (const char* device : {"CQuorvex (0x", "CAgilentE3633A (0x", "CElapsedTimeCounter (0x"}) {
        const auto at = log.find(device);
        ASSERT_NE(at, std::string::npos) << device << " wrote nothing:\n" << log;
        EXPECT_NE(log.find(pathEntry, at), std::string::npos) << device;
    }
}

TEST_F(StartupTest, ALogFolderWithATooLongNameIsReportedAndNoLogFileIsChosen) {
    const fs::path longHome = Xdg().Root() / std::string(300, 'x');
    setenv("XDG_DATA_HOME", longHome.c_str(), 1);
    CQuorvexControlPanelApp& app = App();
    ASSERT_TRUE(app.InitInstance());

    const std::wstring folder =
        platform::FromUtf8((longHome / "Vandrel Scientific Ltd" / "Quorvex Control Panel" / "logs")
                               .string() + "/");
    EXPECT_EQ(app.m_strLogFile, folder);
    EXPECT_EQ(Boxes(), std::vector<std::wstring>{L"ERROR_FILENAME_EXCED_RANGE: \"" + folder + L"\""});
    // Start-up goes on: settings and calibration are still loaded.
    EXPECT_EQ(app.m_appSettings.m_nLogCeiling, 6);
    EXPECT_EQ(app.m_calibrationData.m_nSerialNumber, -1);
    EXPECT_NE(app.MainFrame(), nullptr);
}

TEST_F(StartupTest, MessageBoxesAreShownOnTheGuiThreadAndBlockTheCaller) {
    App();
    messageboxhandler::Install();  // the program's handler instead of the recorder

    // The box's result, 0 until it returns; shared so that a worker left
    // behind by a hang cannot outlive it.
    auto result = std::make_shared<std::atomic<int>>(0);
    std::vector<QString> shown;  // "title: text" of each box, closed as it appears
    bool bCallerWaitedForTheBox = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown.push_back(box->windowTitle() + ": " + box->text());
        bCallerWaitedForTheBox = *result == 0;
        QAbstractButton* cancel = box->button(QMessageBox::Cancel);
        (cancel ? cancel : box->button(QMessageBox::Ok))->click();
    });
    closer.start(10);

    std::thread worker([result] {
        *result = MessageBoxW(nullptr, L"Lamp too hot", L"Quorvex", MB_OKCANCEL | MB_ICONWARNING);
    });
    if (!testsupport::WaitUntil([&] { QCoreApplication::processEvents(); return *result != 0; })) {
        worker.detach();
        FAIL() << "MessageBoxW from a worker never returned";
    }
    worker.join();
    EXPECT_EQ(*result, IDCANCEL);
    EXPECT_TRUE(bCallerWaitedForTheBox);
    // On the GUI thread itself the box is shown directly.
    EXPECT_EQ(MessageBoxW(nullptr, L"Direct", L"Caption", MB_OK), IDOK);
    EXPECT_EQ(shown, (std::vector<QString>{"Quorvex: Lamp too hot", "Caption: Direct"}));
}

TEST_F(StartupTest, APortErrorIsShownOncePerPortWithoutAnOwnerAndWithoutHoldingUpItsCaller) {
    App();
    messageboxhandler::Install();
    porterrors::Arm(5);
    const wchar_t* text =
        L"WARNING:  ReadFile() Failed with the following error: \nThe device is not connected.\nPort: 5\n";
    // A service thread failing on every call, as a port whose device went.
    std::atomic<int> returned{0};
    std::thread service([&] {
        for (int i = 0; i < 20; ++i)
            if (MessageBoxW(nullptr, text, L"Application Error", MB_ICONERROR) == IDOK) ++returned;
    });
    // It returns with no box closed by anyone.
    const bool allReturned = testsupport::WaitUntil([&] {
        QCoreApplication::processEvents();
        return returned == 20;
    });
    if (!allReturned) {
        // A caller held by each box: close them, so the thread can end.
        testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
            return returned == 20;
        }, std::chrono::seconds(60));
    }
    service.join();
    ASSERT_TRUE(allReturned);
    std::vector<QMessageBox*> boxes;
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        QCoreApplication::processEvents();
        boxes.clear();
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) boxes.push_back(box);
        return !boxes.empty();
    }));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]->windowTitle(), QStringLiteral("Application Error"));
    EXPECT_TRUE(boxes[0]->text().contains(QStringLiteral("Port: 5")));
    EXPECT_EQ(boxes[0]->parentWidget(), nullptr);
    EXPECT_EQ(boxes[0]->windowModality(), Qt::NonModal);
    // The main window is not blocked by it.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    boxes[0]->close();
}

TEST_F(StartupTest, TerminationSignalsBecomeAnOrdinaryCloseOnTheGuiThread) {
    App();
    bool bTerminated = false;
    {
        CTerminationSignals signalsToClose;
        QObject::connect(&signalsToClose, &CTerminationSignals::Terminate, [&] {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            bTerminated = true;
        });
        std::raise(SIGTERM);
        EXPECT_TRUE(testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return bTerminated;
        }));
    }
    // Afterwards the default disposition is back.
    struct sigaction current {};
    sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}
