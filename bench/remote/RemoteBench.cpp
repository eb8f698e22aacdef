// bench_remote: what sharing the light source through quorvexd costs, in
// one run against the simulated instruments: "*IDN?" round trips per second
// over loopback TCP; "SOURce:APERture?" round trips over TCP against
// Quorvex_GetPosition called directly; the same with eight clients at once;
// and quorvexd's CPU while idle with two clients connected.
#include <QuorvexDll/QuorvexDll.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ChildProcess.h"
#include "ScpiClient.h"
#include "SimulatedInstruments.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr auto kRun = 3s;  // each rate is measured over this long
constexpr int kClients = 8;
constexpr auto kIdle = 30s;

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "bench_remote: %s\n", why.c_str());
    std::exit(1);
}

// Calls `once` until kRun has passed; round trips per second.
template <typename Call>
double Rate(Call once) {
    const auto start = Clock::now();
    long count = 0;
    while (Clock::now() - start < kRun) {
        once();
        ++count;
    }
    return static_cast<double>(count) / std::chrono::duration<double>(Clock::now() - start).count();
}

double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Past the command name (in parentheses, which may hold blanks).
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoul(field);
        if (i == 15) stime = std::stoul(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main() {
    testsupport::CSimulatedInstruments sims;

    // Direct first: the port is the daemon's once it runs.
    double direct = 0;
    {
        void* head = nullptr;
        if (Quorvex_Connect(1, 115200, 0, 8, 0, 0, &head, 1, nullptr) != QuorvexSuccess || !head)
            Fail("cannot connect to the simulated head");
        int position[2];
        direct = Rate([&] {
            if (Quorvex_GetPosition(head, position) != QuorvexSuccess) Fail("Quorvex_GetPosition failed");
        });
        Quorvex_Disconnect(&head, 1, nullptr);
    }

    testsupport::CChildProcess daemon({QUORVEXD_PATH, "--listen", "127.0.0.1:0", "--head", "COM1", "--supply", "COM2",
                                       "--counter", "COM3", "--log",
                                       (sims.Xdg().Root() / "quorvexd.log").string()});
    const std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
    std::smatch match;
    std::string out;
    if (!testsupport::WaitUntil([&] {
            out = daemon.Out();
            return std::regex_search(out, match, listening);
        }))
        Fail("quorvexd did not start: " + daemon.Err());
    const int port = std::stoi(match[1]);
    {
        testsupport::CScpiClient probe(port);
        if (!testsupport::WaitUntil([&] { return probe.Query("SYST:CONN?") == "1,1,1"; }))
            Fail("quorvexd did not connect the instruments");
    }

    double identify = 0, position = 0;
    {
        testsupport::CScpiClient client(port);
        identify = Rate([&] {
            if (client.Query("*IDN?").rfind("Vandrel", 0) != 0) Fail("*IDN? went unanswered");
        });
        position = Rate([&] {
            if (client.Query("SOUR:APER?").find(',') == std::string::npos) Fail("SOUR:APER? went unanswered");
        });
    }

    std::vector<double> shared(kClients, 0.0);
    {
        std::vector<std::unique_ptr<testsupport::CScpiClient>> clients;
        for (int i = 0; i < kClients; ++i) clients.push_back(std::make_unique<testsupport::CScpiClient>(port));
        std::vector<std::thread> threads;
        for (int i = 0; i < kClients; ++i)
            threads.emplace_back([&, i] {
                shared[i] = Rate([&] {
                    if (clients[i]->Query("SOUR:APER?").find(',') == std::string::npos)
                        Fail("SOUR:APER? went unanswered");
                });
            });
        for (auto& thread : threads) thread.join();
    }

    double idleCpu = 0;
    {
        testsupport::CScpiClient first(port), second(port);
        first.Query("*IDN?");
        second.Query("*IDN?");
        const double before = CpuSeconds(daemon.Pid());
        std::this_thread::sleep_for(kIdle);
        idleCpu = (CpuSeconds(daemon.Pid()) - before) / std::chrono::duration<double>(kIdle).count() * 100.0;
    }
    daemon.Signal(SIGTERM);
    daemon.Wait();

    const double slowest = *std::min_element(shared.begin(), shared.end());
    double total = 0;
    for (double rate : shared) total += rate;
    std::printf("quorvexd over loopback TCP against the simulated instruments (%.0f s per rate)\n",
                std::chrono::duration<double>(kRun).count());
    std::printf("  *IDN? round trips/s, one client                %10.0f   (aim >= 20000)\n", identify);
    std::printf("  SOURce:APERture? round trips/s, one client     %10.0f\n", position);
    std::printf("  Quorvex_GetPosition calls/s, direct            %10.0f\n", direct);
    std::printf("  TCP / direct                                   %10.2f   (aim >= 0.6)\n", position / direct);
    std::printf("  SOURce:APERture?, %d clients at once: total %.0f/s, per client", kClients, total);
    for (double rate : shared) std::printf(" %.0f", rate);
    std::printf("\n  slowest of %d / one client                      %10.2f   (aim >= 0.25)\n", kClients,
                slowest / position);
    std::printf("  quorvexd idle CPU, 2 clients, %.0f s             %9.3f %%  (aim < 0.5 %% of one core)\n",
                std::chrono::duration<double>(kIdle).count(), idleCpu);
    return 0;
}
