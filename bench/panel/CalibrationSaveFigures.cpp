// bench_calibration_save [--rounds N]: prints how long the control panel
// takes to save the simulated head's factory calibration to Calibration.ini
// (first into a new file, then the median of N saves over the existing one,
// with the same tables and with every value changed)
// and how many times a save replaces the file, counted by inotify as files
// moved into or created in the folder; then how long loading it back takes,
// also with a corrupt table count.
//
// Single-threaded; runs in a private XDG folder.
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CalibrationData.h"
#include "HeadSimulator.h"
#include "SettingsStorageIniFile.h"
#include "TestSupport.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

// Watches a folder for files that appear in it: a rename over the file or a
// file created in place.
class CFolderWatch {
public:
    explicit CFolderWatch(const std::filesystem::path& folder)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (m_fd >= 0) inotify_add_watch(m_fd, folder.c_str(), IN_MOVED_TO | IN_CREATE);
    }
    ~CFolderWatch() {
        if (m_fd >= 0) close(m_fd);
    }
    CFolderWatch(const CFolderWatch&) = delete;
    CFolderWatch& operator=(const CFolderWatch&) = delete;

    // Events of `mask` named `name` since the last call.
    int Count(std::uint32_t mask, const std::string& name) {
        int count = 0;
        alignas(inotify_event) char buffer[65536];
        for (;;) {
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            if (n <= 0) break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((event->mask & mask) && event->len && name == event->name) ++count;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return count;
    }

private:
    int m_fd;
};

double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 20;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));

    testsupport::CTempXdg folders;
    const std::filesystem::path path = folders.Root() / "Calibration.ini";
    const std::wstring file = platform::FromUtf8(path.string());

    CCalibrationData data;
    data.FillFromHead(sim::CHeadSimulator::FactoryApertureRows(),
                      sim::CHeadSimulator::FactorySpectrum());
    data.m_nSerialNumber = 12345;
    std::printf("Calibration: %zu aperture entries, %zu spectral entries\n",
                data.m_apertureData.size(), data.m_spectralData.size());

    CFolderWatch watch(folders.Root());
    auto save = [&] {
        CSettingsStorageIniFile storage(file, L"CalibrationData");
        const auto start = std::chrono::steady_clock::now();
        const bool ok = data.Save(storage);
        const double ms = Milliseconds(std::chrono::steady_clock::now() - start);
        if (!ok) {
            std::fprintf(stderr, "save failed\n");
            std::exit(1);
        }
        return ms;
    };

    const double first = save();
    const int firstReplacements = watch.Count(IN_MOVED_TO | IN_CREATE, "Calibration.ini");
    std::printf("Save into a new file: %.2f ms, %d file replacements\n", first, firstReplacements);

    // Over the existing file: the same head again (only the serial number
    // changes), and another head whose every value differs.
    const CCalibrationData factory = data;
    for (const bool allChanged : {false, true}) {
        std::vector<double> times;
        int replacements = 0;
        for (int i = 0; i < rounds; ++i) {
            data.m_nSerialNumber = 20000 + i;
            if (allChanged) {
                const double scale = 1.0 + 0.01 * (i % 2 + 1);
                for (size_t k = 0; k < data.m_apertureData.size(); ++k)
                    data.m_apertureData[k].m_dAttenuationFactor =
                        factory.m_apertureData[k].m_dAttenuationFactor * scale;
                for (size_t k = 0; k < data.m_spectralData.size(); ++k)
                    data.m_spectralData[k].m_dRadiance = factory.m_spectralData[k].m_dRadiance * scale;
            }
            times.push_back(save());
            replacements += watch.Count(IN_MOVED_TO | IN_CREATE, "Calibration.ini");
        }
        std::sort(times.begin(), times.end());
        std::printf("Save over the file, %s (median of %d): %.2f ms, %.0f file replacements per save\n",
                    allChanged ? "every value changed" : "same tables", rounds,
                    times[times.size() / 2], double(replacements) / rounds);
    }
    std::printf("File size: %ju bytes\n", static_cast<std::uintmax_t>(std::filesystem::file_size(path)));

    // Loading it back, as start-up does, and once more with the aperture
    // table's "Count" corrupted: the load then probes 65,536 entries that
    // are not there.
    auto load = [&] {
        CSettingsStorageIniFile storage(file, L"CalibrationData");
        CCalibrationData loaded;
        const auto start = std::chrono::steady_clock::now();
        loaded.Load(storage);
        return Milliseconds(std::chrono::steady_clock::now() - start);
    };
    std::printf("Load: %.2f ms\n", load());
    WritePrivateProfileStringW(L"CalibrationData.ApertureData", L"Count", L"4294967294", file.c_str());
    std::printf("Load with a corrupt aperture count: %.0f ms\n", load());
    return 0;
}
