// Lamp ramp timing: a 15 s ramp-up to 8.333 A at 15 V and a 5 s ramp-down,
// run through PsuDll against the simulated E3633A on a pseudo-terminal. For
// every step it compares the arrival of the step's current command at the
// supply with the step's deadline, and the whole ramp's duration with the
// requested one.
#include "PsuDll/PsuDll.h"
#include "PsuSimulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <stdlib.h>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;
constexpr unsigned kCom = 11;

// A private configuration folder for the run, so the simulated port never
// lands among a user's real ones.
class CPrivateConfig {
public:
    CPrivateConfig() {
        std::string pattern = (std::filesystem::temp_directory_path() / "psu-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_root = pattern;
        setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);
    }
    ~CPrivateConfig() {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    std::filesystem::path PortsFolder() const { return m_root / "Vandrel Scientific Ltd" / "ports"; }

private:
    std::filesystem::path m_root;
};

struct Figures {
    double medianMs = 0, maxMs = 0;
    size_t steps = 0;
};

Figures Summarise(std::vector<double> lateness) {
    Figures f;
    f.steps = lateness.size();
    if (lateness.empty()) return f;
    std::sort(lateness.begin(), lateness.end());
    f.medianMs = lateness[lateness.size() / 2];
    f.maxMs = lateness.back();
    return f;
}

void Report(const char* name, const Figures& f, Ms total, Ms requested) {
    std::printf("%-10s steps %2zu  lateness median %7.3f ms  max %7.3f ms  total %9.3f ms "
                "(requested %6.0f ms, %+7.3f ms)\n",
                name, f.steps, f.medianMs, f.maxMs, total.count(), requested.count(),
                (total - requested).count());
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

void Fail(const char* what) {
    std::fprintf(stderr, "bench_psu: %s\n", what);
    std::exit(1);
}

}  // namespace

int main() {
    CPrivateConfig config;
    sim::CPsuSimulator supply(config.PortsFolder(), kCom);
    supply.Start();

    void* handle = nullptr;
    if (Agilent_Connect(SerialPortSettingsStruct{kCom, 9600, 0, 8, 2, 0}, &handle, 1, nullptr) != AgilentSuccess)
        Fail("cannot connect to the simulated supply");
    supply.ClearReceived();

    // Ramp-up: 50 steps of 300 ms. The thread takes its start time right
    // after "OUTP ON" has been written; step 1 is due one interval later and
    // step k (k >= 2) at k - 1 intervals, since each step's wait ends at the
    // deadline of the next command.
    const Ms upRequested(15000);
    const Ms upInterval(300);
    auto begin = Clock::now();
    if (Agilent_RampUp(handle, 8.333, 15.0, 15, nullptr, 1, nullptr) != AgilentSuccess) Fail("ramp-up failed");
    const Ms upTotal = Clock::now() - begin;
    auto received = supply.Received();
    auto on = std::find_if(received.begin(), received.end(), [](const auto& c) { return c.text == "OUTP ON"; });
    if (on == received.end() || received.end() - on != 51) Fail("ramp-up sequence incomplete");
    std::vector<double> lateness;
    for (int k = 1; k <= 50; ++k) {
        const auto due = on->at + std::chrono::duration_cast<Clock::duration>(upInterval * std::max(1, k - 1));
        lateness.push_back(Ms(on[k].at - due).count());
    }
    Report("ramp-up", Summarise(lateness), upTotal, upRequested);

    // Ramp-down: 20 steps of 250 ms; step 1 goes out at the start, step k
    // at k - 1 intervals after it.
    supply.ClearReceived();
    const Ms downRequested(5000);
    const Ms downInterval(250);
    begin = Clock::now();
    if (Agilent_RampDown(handle, 5, nullptr, 1, nullptr) != AgilentSuccess) Fail("ramp-down failed");
    const Ms downTotal = Clock::now() - begin;
    received = supply.Received();
    std::vector<sim::ReceivedCommand> steps;
    for (size_t i = 2; i < received.size(); ++i)
        if (StartsWith(received[i].text, "CURR ")) steps.push_back(received[i]);
    if (steps.size() != 20) Fail("ramp-down sequence incomplete");
    lateness.clear();
    for (int k = 2; k <= 20; ++k) {
        const auto due = steps[0].at + std::chrono::duration_cast<Clock::duration>(downInterval * (k - 1));
        lateness.push_back(Ms(steps[k - 1].at - due).count());
    }
    Report("ramp-down", Summarise(lateness), downTotal, downRequested);

    Agilent_Disconnect(&handle, 1, nullptr);
    return 0;
}
