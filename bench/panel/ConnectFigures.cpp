// bench_connect [--idle-seconds N]: prints how long the control panel takes
// to connect and how much CPU it uses while connected and idle, with the
// real program (its main window, offscreen) against the three simulated
// instruments, which run in this process on COM1..COM3 in a private XDG
// folder.
//
// Connect time is from triggering the ribbon's Connect until the
// connection pane reads "Connected to ...": once with the calibration
// download the first connect makes, then the median of five connects, each
// after a Disconnect. CPU use is getrusage (user + system) over wall time,
// as a percentage of one core. The simulators share the process, so the
// same figure is also taken with the program disconnected and with the
// program gone, which leaves the simulators alone.
//
// Everything here runs on the main (GUI) thread; waits run the event loop,
// because the connection worker opens its dialogs on this thread.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <QAction>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QSettings>
#include <QTimer>

#include "EventLoopWait.h"
#include "MainFrame.h"
#include "QuorvexControlPanelApp.h"
#include "SimulatedInstruments.h"
#include "platform/win32.h"

namespace {

using namespace std::chrono_literals;

// The connect times are taken from a signal, not from this poll.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
    return eventloopwait::RunUntil(done, limit, 5ms);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU use over `idle` while `wait` waits it out, in % of one core.
double CpuPercent(std::chrono::seconds idle, const std::function<void(std::chrono::seconds)>& wait) {
    QElapsedTimer wall;
    const double before = CpuSeconds();
    wall.start();
    wait(idle);
    const double cpu = CpuSeconds() - before;
    return 100.0 * cpu / (double(wall.nsecsElapsed()) / 1e9);
}

void IdleInEventLoop(std::chrono::seconds idle) {
    QEventLoop loop;
    QTimer::singleShot(idle, &loop, &QEventLoop::quit);
    loop.exec();
}

class CConnectBench {
public:
    explicit CConnectBench(CQuorvexControlPanelApp& app) : m_app(app) {
        QObject::connect(&Frame().Controller(), &CConnectionController::ConnectionText, &Frame(), [this] {
            // The frame's own slot, connected first, has set the pane.
            if (m_clock.isValid() && m_connectedMs < 0 &&
                Frame().Pane(0)->text().startsWith(QStringLiteral("Connected to ")))
                m_connectedMs = double(m_clock.nsecsElapsed()) / 1e6;
        });
        QObject::connect(&Frame().Controller(), &CConnectionController::SequenceEnded, &Frame(),
                         [this](CConnectionController::Sequence sequence) {
                             if (m_clock.isValid() && sequence == CConnectionController::Sequence::Connect)
                                 m_endedMs = double(m_clock.nsecsElapsed()) / 1e6;
                         });
    }

    CMainFrame& Frame() const { return *m_app.MainFrame(); }

    // Milliseconds from Connect to the pane's "Connected to ..."; < 0 on
    // failure. EndedMs() then tells when the whole sequence had ended.
    double Connect() {
        if (!Frame().Actions().connect->isEnabled()) return -1;
        m_connectedMs = m_endedMs = -1;
        m_clock.start();
        Frame().Actions().connect->trigger();
        const bool ended =
            RunUntil([&] { return !Frame().Controller().Busy() && Frame().Actions().disconnect->isEnabled(); });
        m_clock.invalidate();
        return ended ? m_connectedMs : -1;
    }

    double EndedMs() const { return m_endedMs; }

    bool Disconnect() {
        if (!Frame().Actions().disconnect->isEnabled()) return false;
        Frame().Actions().disconnect->trigger();
        return RunUntil([&] { return !Frame().Controller().Busy() && Frame().Actions().connect->isEnabled(); });
    }

    bool Close() {
        Frame().close();
        return RunUntil([&] { return !Frame().isVisible(); });
    }

private:
    CQuorvexControlPanelApp& m_app;
    QElapsedTimer m_clock;
    double m_connectedMs = -1;
    double m_endedMs = -1;
};

int Usage() {
    std::fprintf(stderr, "usage: bench_connect [--idle-seconds N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int idleSeconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--idle-seconds") == 0 && i + 1 < argc) {
            idleSeconds = std::atoi(argv[++i]);
            if (idleSeconds <= 0) return Usage();
        } else {
            return Usage();
        }
    }
    const std::chrono::seconds idle(idleSeconds);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    // First, so the program finds its folders in the private XDG folder, and
    // last to go: the simulators outlive the program.
    testsupport::CSimulatedInstruments sims;
    int appArgc = 1;
    auto app = std::make_unique<CQuorvexControlPanelApp>(appArgc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(sims.Xdg().ConfigHome().string()));
    if (!app->InitInstance() || !app->MainFrame()) {
        std::fprintf(stderr, "bench_connect: the program did not start\n");
        return 1;
    }
    Platform_SetMessageBoxHandler(nullptr, nullptr);  // boxes to stderr, answered OK
    CAppSettings& settings = app->m_appSettings;
    settings.m_quorvexSerialSettings.port = testsupport::CSimulatedInstruments::kHeadCom;
    settings.m_agilentSerialSettings.port = testsupport::CSimulatedInstruments::kSupplyCom;
    settings.m_etcSerialSettings.port = testsupport::CSimulatedInstruments::kCounterCom;
    app->MainFrame()->UpdateCommands();

    CConnectBench bench(*app);
    const double first = bench.Connect();
    const double firstEnded = bench.EndedMs();
    if (first < 0) {
        std::fprintf(stderr, "bench_connect: the first connect failed\n");
        return 1;
    }
    std::vector<double> times, ended;
    // What one reconnect says to each instrument, to show the short times
    // are real round trips (the last of the five is counted).
    std::size_t said[3] = {};
    for (int i = 0; i < 5; ++i) {
        const bool down = bench.Disconnect();
        const std::size_t before[3] = {sims.head.Received().size(), sims.supply.Received().size(),
                                       sims.counter.Received().size()};
        const double ms = down ? bench.Connect() : -1;
        said[0] = sims.head.Received().size() - before[0];
        said[1] = sims.supply.Received().size() - before[1];
        said[2] = sims.counter.Received().size() - before[2];
        if (ms < 0) {
            std::fprintf(stderr, "bench_connect: connect %d failed\n", i + 2);
            return 1;
        }
        times.push_back(ms);
        ended.push_back(bench.EndedMs());
    }
    std::sort(times.begin(), times.end());
    std::sort(ended.begin(), ended.end());

    std::printf("Connect until the pane reads \"Connected to ...\" (and until the connect sequence has ended):\n");
    std::printf("  first, with the calibration download: %8.1f ms  (%.1f ms)\n", first, firstEnded);
    std::printf("  median of 5, each after a Disconnect: %8.1f ms  (%.1f ms); min %.1f, max %.1f\n", times[2],
                ended[2], times.front(), times.back());
    std::printf("  commands in one reconnect: head %zu, supply %zu, counter %zu\n", said[0], said[1], said[2]);
    std::fflush(stdout);

    const double connected = CpuPercent(idle, IdleInEventLoop);
    std::printf("CPU over %d s, connected and idle (program + simulators): %6.2f %% of one core\n", idleSeconds,
                connected);
    std::fflush(stdout);

    if (!bench.Disconnect()) {
        std::fprintf(stderr, "bench_connect: disconnect failed\n");
        return 1;
    }
    const double disconnected = CpuPercent(idle, IdleInEventLoop);
    std::printf("CPU over %d s, disconnected, window open (program + simulators): %6.2f %% of one core\n",
                idleSeconds, disconnected);
    std::fflush(stdout);

    const bool closed = bench.Close();
    app->ExitInstance();
    app.reset();
    // No event loop is left to run: the main thread just sleeps through it.
    const double alone = CpuPercent(idle, [](std::chrono::seconds s) { std::this_thread::sleep_for(s); });
    std::printf("CPU over %d s, simulators alone (program closed): %6.2f %% of one core\n", idleSeconds, alone);
    std::printf("so the connected program itself: about %.2f %% of one core\n", connected - alone);
    return closed ? 0 : 1;
}
