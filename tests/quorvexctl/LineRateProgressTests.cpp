// quorvexctl's progress during an upload at the real line rate: with the
// simulated head paced at 9600 baud, an 81-pair upload takes seconds, and
// its progress lines must come while it runs, not all at its end.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>

#include "ChildProcess.h"
#include "SimulatedInstruments.h"

namespace {

TEST(QuorvexCtlLineRateTest, TheProgressMovesWhileAnUploadIsOnTheWire) {
    testsupport::CSimulatedInstruments sims;
    sims.head.SetLineRate(true);
    const auto file = sims.Xdg().Root() / "spectral.txt";
    {
        std::ofstream out(file);
        for (const auto& [nm, radiance] : sim::CHeadSimulator::FactorySpectrum()) {
            char line[64];
            std::snprintf(line, sizeof line, "%.2f,%.3E\n", nm, radiance);
            out << line;
        }
    }
    const size_t pairs = sim::CHeadSimulator::FactorySpectrum().size();
    testsupport::CChildProcess ctl({QUORVEXCTL_PATH, "calibration", "upload", "--spectral", file.string(), "--head",
                                    "COM1", "--supply", "COM2", "--counter", "COM3"});

    // Progress goes to standard error a line per tenth when it is no
    // terminal. Each percentage seen, and how many pairs the head had by
    // then.
    const std::regex progress(R"((\d+) %\n)");
    std::set<int> seen;
    std::set<int> seenMidway;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            const size_t received = sims.head.Received().size();
            const std::string err = ctl.Err();
            for (std::sregex_iterator it(err.begin(), err.end(), progress), end; it != end; ++it) {
                const int percent = std::stoi((*it)[1].str());
                if (seen.insert(percent).second && percent > 0 && percent < 100 && received < pairs)
                    seenMidway.insert(percent);
            }
            return seen.count(100) > 0;
        },
        std::chrono::seconds(60)))
        << ctl.Err();
    ASSERT_EQ(ctl.Wait(), 0) << ctl.Err();
    // At 9600 baud a pair and its acknowledgement take some 25 ms, so the
    // tenths are a quarter of a second apart: most are seen midway.
    EXPECT_GE(seenMidway.size(), 5u) << ctl.Err();
    EXPECT_EQ(sims.head.SpectralData(), sim::CHeadSimulator::FactorySpectrum());
}

}  // namespace
