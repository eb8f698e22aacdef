// The lamp ramp and the calibration transfers the dialogs run, through the
// drivers' exports against the three simulated instruments: the ramps'
// positions, results, aborts and busy refusals; the downloads into the head
// library and their abort; the uploads' success only when every table went
// over in full, and their abort.
#include "CalibrationTransfer.h"
#include "LampRamp.h"

#include "SimulatedInstruments.h"
#include "TestEvent.h"

#include <PsuDll/PsuDll.h>
#include <QuorvexDll/QuorvexDll.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

using testsupport::CTestEvent;
using testsupport::kLimit;

// Collects what a ramp or a transfer reports, from whichever thread.
template <typename Entry>
class CRecord {
public:
    void Add(Entry entry) {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(std::move(entry));
    }
    std::vector<Entry> Entries() const {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

using Report = std::pair<std::wstring, int>;

class TransferAndRampTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Quorvex_Connect(static_cast<int>(Sims::kHeadCom), 9600, 0, 8, 0, 0, &m_head, 1, nullptr),
                  QuorvexSuccess);
        const SerialPortSettingsStruct supply{static_cast<int32_t>(Sims::kSupplyCom), 9600, 0, 8, 2, 0};
        ASSERT_EQ(Agilent_Connect(supply, &m_supply, 1, nullptr), AgilentSuccess);
        // The connections' own last commands, so the records start with the tests'.
        ASSERT_TRUE(m_sims.head.WaitForCommand(R"(S\?)", kLimit));
        ASSERT_TRUE(m_sims.supply.WaitForCommand("SYST:RWL", kLimit));
        m_sims.head.ClearReceived();
        m_sims.supply.ClearReceived();
    }
    void TearDown() override {
        if (m_head) Quorvex_Disconnect(&m_head, 1, nullptr);
        if (m_supply) Agilent_Disconnect(&m_supply, 1, nullptr);
    }

    int Ramp(int direction, CRecord<int>& positions, int seconds = 1,
             const std::function<void(int)>& also = nullptr) {
        return lampramp::Run(m_supply, direction, m_abort.Get(),
                             [&](int position) {
                                 positions.Add(position);
                                 if (also) also(position);
                             },
                             seconds);
    }
    calibrationtransfer::Status Recorder(CRecord<Report>& reports) {
        return [&reports](const std::wstring& text, int percent) { reports.Add({text, percent}); };
    }
    std::wstring WriteFile(const std::string& name, const std::string& content) const {
        const auto path = m_sims.Xdg().Root() / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.wstring();
    }
    std::vector<std::string> HeadWire() const { return Sims::Wire(m_sims.head); }
    bool HeadGot(const std::string& prefix) const {
        const auto wire = HeadWire();
        return std::any_of(wire.begin(), wire.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    }

    using Sims = testsupport::CSimulatedInstruments;
    Sims m_sims;
    void* m_head = nullptr;
    void* m_supply = nullptr;
    CTestEvent m_abort{true};
};

TEST(LampRampPosition, RoundsHalfUpAndRunsBackwardsDown) {
    struct Case {
        double percent;
        int direction, position;
    };
    for (const Case& c : {Case{2.5, 0, 3}, Case{2.5, 1, 97}, Case{2.49, 0, 2}, Case{0, 0, 0}, Case{0, 1, 100},
                          Case{100, 0, 100}, Case{100, 1, 0}, Case{99.5, 1, 0}})
        EXPECT_EQ(lampramp::Position(c.percent, c.direction), c.position) << c.percent << " " << c.direction;
}

TEST_F(TransferAndRampTest, RampsRunToTheirEndsWithEveryPosition) {
    CRecord<int> up;
    ASSERT_EQ(Ramp(lampramp::kUp, up), lampramp::kCompleted);
    // Ours, the supply's start, its 50 steps, and ours at the end.
    std::vector<int> expected{0, 0};
    for (int p = 2; p <= 100; p += 2) expected.push_back(p);
    expected.push_back(100);
    EXPECT_EQ(up.Entries(), expected);
    const auto wire = Sims::Wire(m_sims.supply);
    ASSERT_GE(wire.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(wire.begin(), wire.begin() + 4),
              (std::vector<std::string>{"VOLT:PROT 15.000", "CURR:PROT 8.500", "CURR?", "VOLT 15.000"}));
    int rampedUp = 0;
    ASSERT_EQ(Agilent_IsRampedUp(m_supply, &rampedUp), AgilentSuccess);
    EXPECT_EQ(rampedUp, 1);
    EXPECT_TRUE(m_sims.lamp.Lit());

    CRecord<int> down;
    ASSERT_EQ(Ramp(lampramp::kDown, down), lampramp::kCompleted);
    expected = {0};
    for (int p = 100; p >= 0; p -= 5) expected.push_back(p);
    expected.push_back(100);
    EXPECT_EQ(down.Entries(), expected);
    EXPECT_FALSE(m_sims.lamp.Lit());
}

TEST_F(TransferAndRampTest, AbortedRampKeepsItsLastPosition) {
    CRecord<int> positions;
    ASSERT_EQ(Ramp(lampramp::kUp, positions, 2,
                   [&](int position) {
                       if (position >= 40) m_abort.Set();
                   }),
              lampramp::kAborted);
    const auto entries = positions.Entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_GE(entries.back(), 40);
    EXPECT_LT(entries.back(), 100);
    int rampedUp = -1;
    ASSERT_EQ(Agilent_IsRampedUp(m_supply, &rampedUp), AgilentSuccess);
    EXPECT_EQ(rampedUp, 0);
}

TEST_F(TransferAndRampTest, RampUpDuringARampDownIsRefusedAtOnce) {
    CRecord<int> down, up;
    CTestEvent running;
    int downResult = 0;
    std::thread downThread([&] {
        downResult = Ramp(lampramp::kDown, down, 30, [&](int position) {
            if (position == 100) running.Set();
        });
    });
    ASSERT_TRUE(running.Wait());
    // The abort event is the ramp-down's; the refused ramp-up never waits on it.
    CTestEvent otherAbort(true);
    EXPECT_EQ(lampramp::Run(m_supply, lampramp::kUp, otherAbort.Get(), [&](int p) { up.Add(p); }, 1),
              lampramp::kAborted);
    EXPECT_EQ(up.Entries(), std::vector<int>{0});
    m_abort.Set();
    downThread.join();
    EXPECT_EQ(downResult, lampramp::kAborted);
}

TEST_F(TransferAndRampTest, DownloadFillsTheHeadLibraryInOrder) {
    QuorvexSpectralTable spectral;
    ASSERT_EQ(Quorvex_SetSpectralCalibrationData(m_head, {}), QuorvexSuccess);
    CRecord<Report> reports;
    ASSERT_EQ(calibrationtransfer::Download(m_head, m_abort.Get(), Recorder(reports)),
              calibrationtransfer::kCompleted);
    EXPECT_EQ(reports.Entries(), (std::vector<Report>{{L"Downloading aperture calibration data ...", 0},
                                                      {L"Downloading spectral calibration data ...", 25},
                                                      {L"Complete.", 100}}));
    ASSERT_EQ(Quorvex_GetSpectralCalibrationData(m_head, &spectral), QuorvexSuccess);
    EXPECT_EQ(spectral, sim::CHeadSimulator::FactorySpectrum());
    QuorvexApertureTable aperture;
    ASSERT_EQ(Quorvex_GetApertureCalibrationData(m_head, &aperture), QuorvexSuccess);
    EXPECT_EQ(aperture, sim::CHeadSimulator::FactoryApertureRows());
    EXPECT_EQ(HeadWire(), (std::vector<std::string>{"C1?", "C0?"}));
}

TEST_F(TransferAndRampTest, DownloadAbortedDuringTheApertureTableSendsNoMore) {
    // The reply trickles in a byte at a time, so the download is still in
    // flight when the abort comes.
    m_sims.head.InjectFault(R"(C1\?)", sim::Fault{sim::FaultKind::Split, 0, 100, 1});
    CRecord<Report> reports;
    int result = 0;
    std::thread worker([&] { result = calibrationtransfer::Download(m_head, m_abort.Get(), Recorder(reports)); });
    EXPECT_TRUE(m_sims.head.WaitForCommand(R"(C1\?)", kLimit));
    m_abort.Set();
    worker.join();
    EXPECT_EQ(result, calibrationtransfer::kAborted);
    EXPECT_EQ(reports.Entries().size(), 1u);
    EXPECT_EQ(HeadWire(), std::vector<std::string>{"C1?"});
}

// A 4-row aperture file and a 3-pair spectral file.
constexpr const char* kApertureFile = "4,3\n1,0.5,0.25\n2,1,0.5\n3,1.5,0.75\n4,2,1\n";
constexpr const char* kSpectralFile = "400,1.5E-05\n410,2.5E-05\n420,3.5E-05\n";

TEST_F(TransferAndRampTest, UploadOfGoodFilesPutsBothTablesOnTheHead) {
    calibrationtransfer::UploadRequest request{true, WriteFile("a.csv", kApertureFile), true,
                                               WriteFile("s.csv", kSpectralFile)};
    CRecord<Report> reports;
    ASSERT_TRUE(calibrationtransfer::Upload(m_head, request, m_abort.Get(), Recorder(reports)));
    const auto entries = reports.Entries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries.front(), (Report{L"Uploading aperture calibration data ...", 0}));
    EXPECT_EQ(entries[2], (Report{L"Uploading aperture calibration data ...", 16}));  // 2 of 12 values
    EXPECT_EQ(entries.back(), (Report{L"Complete.", 100}));
    EXPECT_NE(std::find(entries.begin(), entries.end(), Report{L"Uploading spectral calibration data ...", 33}),
              entries.end());
    EXPECT_EQ(m_sims.head.SpectralData(), (sim::CHeadSimulator::SpectralTable{{400, 1.5E-05}, {410, 2.5E-05},
                                                                              {420, 3.5E-05}}));
    EXPECT_EQ(m_sims.head.ApertureFactors(),
              sim::CHeadSimulator::ToColumnOrder({{1, 0.5, 0.25}, {2, 1, 0.5}, {3, 1.5, 0.75}, {4, 2, 1}}));
}

TEST_F(TransferAndRampTest, UploadThatEndsShortFailsAndStopsThere) {
    struct Case {
        const char* name;
        bool missingAperture;
        const char* aperture;
        const char* spectral;
        const char* refused;  // a command the head answers with an error
        bool spectralSent;
    };
    for (const Case& c : {Case{"missing aperture file", true, kApertureFile, kSpectralFile, nullptr, false},
                          Case{"bad aperture file", false, "4,3\n1,2,3\nx\n", kSpectralFile, nullptr, false},
                          Case{"refused aperture value", false, kApertureFile, kSpectralFile, R"(3\.000E\+00)", false},
                          Case{"bad spectral file", false, kApertureFile, "400;1\n", nullptr, false},
                          Case{"refused spectral pair", false, kApertureFile, kSpectralFile, R"(410\.00,.*)", true}}) {
        SCOPED_TRACE(c.name);
        m_sims.head.ClearReceived();
        m_sims.head.ClearOverrides();
        if (c.refused) m_sims.head.OverrideReply(c.refused, "-12");
        const std::wstring aperture = c.missingAperture ? (m_sims.Xdg().Root() / "none.csv").wstring()
                                                        : WriteFile("a.csv", c.aperture);
        calibrationtransfer::UploadRequest request{true, aperture, true, WriteFile("s.csv", c.spectral)};
        CRecord<Report> reports;
        EXPECT_FALSE(calibrationtransfer::Upload(m_head, request, m_abort.Get(), Recorder(reports)));
        EXPECT_EQ(HeadGot("C0("), c.spectralSent);
        for (const Report& report : reports.Entries()) EXPECT_NE(report.first, L"Complete.");
    }
}

TEST_F(TransferAndRampTest, UploadAbortedDuringTheApertureTableSendsNoSpectralTable) {
    calibrationtransfer::UploadRequest request{true, WriteFile("a.csv", kApertureFile), true,
                                               WriteFile("s.csv", kSpectralFile)};
    EXPECT_FALSE(calibrationtransfer::Upload(m_head, request, m_abort.Get(), [&](const std::wstring&, int percent) {
        if (percent > 0) m_abort.Set();
    }));
    EXPECT_TRUE(HeadGot("C1("));
    EXPECT_FALSE(HeadGot("C0("));
    EXPECT_LT(HeadWire().size(), 13u);
}

}  // namespace
