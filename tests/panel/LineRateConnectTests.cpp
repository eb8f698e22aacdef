// The control panel's connect at the real line rate: with the simulated
// instruments paced at 9600 baud 8N2, the connect-time calibration download
// takes seconds; its progress must come as it goes, and the GUI thread must
// stay free to handle events all the while.
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include <QCoreApplication>
#include <QMetaObject>

#include <gtest/gtest.h>

#include "CalibrationTransfer.h"
#include "ConnectionController.h"
#include "InstrumentHandles.h"
#include "LineTiming.h"
#include "PsuDll/PsuDll.h"
#include "QtTestArgs.h"
#include "QuorvexDll/QuorvexDll.h"
#include "SimulatedInstruments.h"
#include "TallyDll/TallyDll.h"
#include "platform/win32.h"

namespace {

using Clock = std::chrono::steady_clock;

// The download dialog without widgets: the real download, its progress
// noted with the time it came and posted to the GUI thread as the dialog's
// would be.
class CProgressDialogs : public IDialogHost {
public:
    struct Report {
        int percent;
        Clock::time_point at;
        bool handledOnGuiThreadBeforeTheEnd = false;
    };

    int RunLampRamp(int, void*) override { return kCancel; }
    int RunUpload(void*) override { return kCancel; }
    int RunDownload(void* head) override {
        return calibrationtransfer::Download(head, nullptr, [this](const std::wstring&, int percent) {
            size_t index;
            {
                std::lock_guard lock(m_mutex);
                index = m_reports.size();
                m_reports.push_back({percent, Clock::now()});
            }
            if (percent == 100) m_ended = true;
            QMetaObject::invokeMethod(QCoreApplication::instance(), [this, index] {
                std::lock_guard lock(m_mutex);
                m_reports[index].handledOnGuiThreadBeforeTheEnd = !m_ended;
            });
        });
    }
    std::vector<Report> Reports() {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }

private:
    std::mutex m_mutex;
    std::vector<Report> m_reports;
    std::atomic<bool> m_ended{false};
};

TEST(PanelLineRateTest, ConnectAt9600ShowsTheDownloadsProgressAsItGoesAndLeavesTheGuiThreadFree) {
    QCoreApplication app(qttest::g_argc, qttest::g_argv);
    testsupport::CSimulatedInstruments sims;
    for (sim::CSimDevice* device : {static_cast<sim::CSimDevice*>(&sims.head), static_cast<sim::CSimDevice*>(&sims.supply),
                                    static_cast<sim::CSimDevice*>(&sims.counter)})
        device->SetLineRate(true);
    const std::wstring log = (sims.Xdg().Root() / "libraries.log").wstring();
    Quorvex_SetLogfilePath(log.c_str());
    Agilent_SetLogfilePath(log.c_str());
    Etc_SetLogfilePath(log.c_str());

    CProgressDialogs dialogs;
    CConnectionController controller(dialogs, [](int, const std::wstring&) {});
    bool downloaded = false;
    QObject::connect(&controller, &CConnectionController::CalibrationDownloaded, &app,
                     [&](const CalibrationTables&, int) { downloaded = true; });
    ConnectRequest request;
    request.head = {testsupport::CSimulatedInstruments::kHeadCom, 9600, 0, 8, 2, 0};
    request.supply = {testsupport::CSimulatedInstruments::kSupplyCom, 9600, 0, 8, 2, 0};
    request.counter = {testsupport::CSimulatedInstruments::kCounterCom, 9600, 0, 8, 2, 0};

    ASSERT_TRUE(controller.Connect(request));
    EXPECT_TRUE(controller.Busy()) << "the sequence runs on its worker, not in the call";
    ASSERT_TRUE(qttest::RunUntil([&] { return !controller.Busy(); }, std::chrono::seconds(60)));
    EXPECT_TRUE(downloaded);
    EXPECT_TRUE(g_hQuorvex.load() && g_hAgilent.load() && g_hEtc.load());

    const auto reports = dialogs.Reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].percent, 0);
    EXPECT_EQ(reports[1].percent, 25);
    EXPECT_EQ(reports[2].percent, 100);
    // The spectral table's 81 lines are some 1.9 s of wire after the 25 %:
    // the GUI thread handled that report while they were still coming.
    EXPECT_GE(reports[2].at - reports[1].at, sim::kLine9600_8N2.WireTime(81 * 17));
    EXPECT_TRUE(reports[0].handledOnGuiThreadBeforeTheEnd);
    EXPECT_TRUE(reports[1].handledOnGuiThreadBeforeTheEnd);

    ASSERT_TRUE(controller.Disconnect());
    ASSERT_TRUE(qttest::RunUntil([&] { return !controller.Busy(); }, std::chrono::seconds(60)));
    Quorvex_SetLogfilePath(L"");
    Agilent_SetLogfilePath(L"");
    Etc_SetLogfilePath(L"");
}

}  // namespace
