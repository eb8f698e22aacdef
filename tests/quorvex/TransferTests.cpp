// Calibration table uploads, downloads and saves of the head driver,
// through its exports against the simulated head.
#include "QuorvexFixture.h"

#include <cstdio>

namespace qvtest {
namespace {

using TransferTest = QuorvexTest;

TEST_F(TransferTest, SpectralUploadSendsCountThenPairsAndReportsProgress) {
    ConnectOrFail();
    const auto file = WriteFile("lamp.txt", "400.0,1.234E-05 ; lamp A\n410,1.5e-5\r\n  420.126,  2E-05");
    std::vector<double> progress;  // filled by the worker before it signals `done`
    CTestEvent done;
    ASSERT_EQ(Quorvex_UploadSpectralCalibrationData_ProgressCallback(
                  m_handle, file.wstring().c_str(), nullptr, done.Get(), [&](double p) { progress.push_back(p); }),
              QuorvexSuccess);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(Sent(), (std::vector<std::string>{"C0(3)", "400.00,1.234E-05", "410.00,1.500E-05",
                                                "420.13,2.000E-05"}));
    const std::vector<double> expected{0.0, 100.0 / 3, 200.0 / 3, 100.0, 100.0};
    ASSERT_EQ(progress.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(progress[i], expected[i], 1e-9) << i;
    EXPECT_EQ(m_sim->SpectralData().size(), 3u);
    EXPECT_EQ(Held(Quorvex_GetSpectralCalibrationData),
              (QuorvexSpectralTable{{400.0, 1.234E-05}, {410.0, 1.5e-5}, {420.126, 2E-05}}));
}

TEST_F(TransferTest, HeldApertureTableGoesOutColumnByColumn) {
    ConnectOrFail();
    QuorvexApertureTable table;
    for (double r = 0; r < 12; ++r) table.push_back({1.0 + r, 0.125 * (r + 1), 2.5E-3});
    ASSERT_EQ(Quorvex_SetApertureCalibrationData(m_handle, table), QuorvexSuccess);
    ASSERT_EQ(Quorvex_UploadApertureCalibrationData(m_handle, L"", 1, nullptr, nullptr), QuorvexSuccess);
    const auto wire = Sent();
    ASSERT_EQ(wire.size(), 37u);
    EXPECT_EQ(wire[0], "C1(36)");
    EXPECT_EQ(wire[1], "1.000E+00");
    EXPECT_EQ(wire[12], "1.200E+01");
    EXPECT_EQ(wire[13], "1.250E-01");
    EXPECT_EQ(wire[36], "2.500E-03");
    EXPECT_EQ(m_sim->ApertureFactors(), sim::CHeadSimulator::ToColumnOrder(table));
    // Downloaded back, every row is what it was.
    ASSERT_EQ(Quorvex_SetApertureCalibrationData(m_handle, {}), QuorvexSuccess);
    ASSERT_EQ(Quorvex_DownloadApertureCalibrationData(m_handle, 1, nullptr, nullptr), QuorvexSuccess);
    EXPECT_EQ(Held(Quorvex_GetApertureCalibrationData), table);
}

TEST_F(TransferTest, OneTransferPerTableAtATime) {
    ConnectOrFail();
    const auto file = WriteFile("lamp.txt", "400,1E-5\n410,1E-5\n");
    // The upload holds in its first progress report until the checks are done.
    testsupport::CLatch release;
    CTestEvent done, other;
    ASSERT_EQ(Quorvex_UploadSpectralCalibrationData_ProgressCallback(
                  m_handle, file.wstring().c_str(), nullptr, done.Get(),
                  [&](double percent) {
                      if (percent == 0.0) release.WaitFor(1, kLimit);
                  }),
              QuorvexSuccess);
    EXPECT_EQ(Quorvex_UploadSpectralCalibrationData(m_handle, file.wstring().c_str(), 0, nullptr, nullptr),
              QuorvexErrorBusy);
    EXPECT_EQ(Quorvex_DownloadSpectralCalibrationData(m_handle, 0, nullptr, nullptr), QuorvexErrorBusy);
    // The other table is free meanwhile.
    EXPECT_EQ(Quorvex_DownloadApertureCalibrationData(m_handle, 0, nullptr, other.Get()), QuorvexSuccess);
    ASSERT_TRUE(other.Wait());
    release.Signal();
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(Quorvex_DownloadSpectralCalibrationData(m_handle, 1, nullptr, nullptr), QuorvexSuccess);
}

TEST_F(TransferTest, BadAcknowledgementOrAbortEndsTheUploadAndTheUnansweredCommandChangesNothing) {
    ConnectOrFail();
    const auto file = WriteFile("lamp.txt", "400,1E-5\n410,1E-5\n420,1E-5\n");
    m_sim->OverrideReply(R"(410\.00,.*)", "-12");
    ASSERT_EQ(Quorvex_UploadSpectralCalibrationData(m_handle, file.wstring().c_str(), 1, nullptr, nullptr),
              QuorvexSuccess);
    EXPECT_TRUE(WaitForLog(": Error Code = -12, Message = ASCII to float conversion error"));
    EXPECT_TRUE(WaitForLog(": Bad command acknowledgment, aborting SetSpectralDataThread."));
    m_sim->ClearOverrides();

    m_sim->InjectFault(R"(410.*)", sim::Fault{sim::FaultKind::NoReply});
    CTestEvent abort, done;
    // Aborted as soon as the first pair is through: the second one is then
    // waiting for an acknowledgement that never comes.
    ASSERT_EQ(Quorvex_UploadSpectralCalibrationData_ProgressCallback(
                  m_handle, file.wstring().c_str(), abort.Get(), done.Get(),
                  [&](double percent) {
                      if (percent > 0.0) SetEvent(abort.Get());
                  }),
              QuorvexSuccess);
    ASSERT_TRUE(done.Wait());
    EXPECT_TRUE(WaitForLog(": Aborting UploadSpectralDataThread."));
    // The unanswered command times out with nobody waiting, and the next
    // transfer starts and completes normally.
    EXPECT_EQ(Quorvex_DownloadSpectralCalibrationData(m_handle, 1, nullptr, nullptr), QuorvexSuccess);
    EXPECT_TRUE(WaitForLog(": Finished download of spectral calibration data."));
    EXPECT_EQ(Sent(), (std::vector<std::string>{"C0(3)", "400.00,1.000E-05", "410.00,1.000E-05", "C0(3)",
                                                "400.00,1.000E-05", "410.00,1.000E-05", "C0?"}));
}

// A calibration file that does not read cleanly, as the upload and the file
// check both see it. "%p" in an expected entry stands for the file's path.
struct BadFile {
    const char* name;
    bool spectral;
    const char* content;  // null: no such file
    std::vector<std::string> errors;
};

class BadFileTest : public QuorvexTest, public ::testing::WithParamInterface<BadFile> {
protected:
    std::filesystem::path Path() const { return m_xdg.Root() / (std::string(GetParam().name) + ".txt"); }
    std::vector<std::string> ExpectedErrors() const {
        std::vector<std::string> errors = GetParam().errors;
        for (std::string& entry : errors)
            if (const size_t at = entry.find("%p"); at != std::string::npos) entry.replace(at, 2, Path().string());
        return errors;
    }
};

// An empty table would wipe the head unit's, and a partial one is not what
// the file says: either way nothing may be sent.
TEST_P(BadFileTest, IsRefusedByTheUploadWithNothingSentAndByTheCheckWithEveryProblem) {
    Ceiling(3);
    ConnectOrFail();
    if (GetParam().content) WriteFile(Path().filename().string(), GetParam().content);
    const std::wstring path = Path().wstring();
    const QuorvexSpectralTable spectral{{500, 1}};
    const QuorvexApertureTable aperture{{1, 2, 3}};
    ASSERT_EQ(Quorvex_SetSpectralCalibrationData(m_handle, spectral), QuorvexSuccess);
    ASSERT_EQ(Quorvex_SetApertureCalibrationData(m_handle, aperture), QuorvexSuccess);
    const auto headSpectral = m_sim->SpectralData();
    const auto headAperture = m_sim->ApertureFactors();

    std::vector<std::string> errors{"stale"};
    const auto check = GetParam().spectral ? Quorvex_CheckSpectralCalibrationFile : Quorvex_CheckApertureCalibrationFile;
    EXPECT_EQ(check(path.c_str(), &errors), QuorvexErrorBadFile);
    EXPECT_EQ(errors, ExpectedErrors());
    EXPECT_EQ(check(path.c_str(), nullptr), QuorvexErrorBadFile);

    const auto upload = GetParam().spectral ? Quorvex_UploadSpectralCalibrationData
                                            : Quorvex_UploadApertureCalibrationData;
    const auto uploadWithProgress = GetParam().spectral ? Quorvex_UploadSpectralCalibrationData_ProgressCallback
                                                        : Quorvex_UploadApertureCalibrationData_ProgressCallback;
    EXPECT_EQ(upload(m_handle, path.c_str(), 1, nullptr, nullptr), QuorvexErrorBadFile);
    EXPECT_EQ(upload(m_handle, path.c_str(), 0, nullptr, nullptr), QuorvexErrorBadFile);
    bool reported = false;  // no transfer starts, so no worker can report
    EXPECT_EQ(uploadWithProgress(m_handle, path.c_str(), nullptr, nullptr, [&](double) { reported = true; }),
              QuorvexErrorBadFile);
    EXPECT_FALSE(reported);
    const std::string table = GetParam().spectral ? "spectral" : "aperture";
    EXPECT_TRUE(WaitForLog(" Error encountered parsing " + table + " data file: \"" +
                           ExpectedErrors().back() + "\""));

    // The next transfer of the table starts at once: the refusal held nothing.
    ASSERT_EQ(GetParam().spectral ? Quorvex_DownloadSpectralCalibrationData(m_handle, 1, nullptr, nullptr)
                                  : Quorvex_DownloadApertureCalibrationData(m_handle, 1, nullptr, nullptr),
              QuorvexSuccess);
    EXPECT_EQ(Sent(), std::vector<std::string>{GetParam().spectral ? "C0?" : "C1?"});
    EXPECT_EQ(m_sim->SpectralData(), headSpectral);
    EXPECT_EQ(m_sim->ApertureFactors(), headAperture);
    if (GetParam().spectral)
        EXPECT_EQ(Held(Quorvex_GetApertureCalibrationData), aperture);
    else
        EXPECT_EQ(Held(Quorvex_GetSpectralCalibrationData), spectral);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFileTest,
    ::testing::Values(
        BadFile{"EmptySpectral", true, "", {"No entries in file \"%p\""}},
        BadFile{"BlankSpectral", true, "\n", {"Error 2 values from line \"\"", "No entries in file \"%p\""}},
        BadFile{"CommentOnlySpectral", true, "; lamp A\n",
                {"Error 2 values from line \"\"", "No entries in file \"%p\""}},
        BadFile{"SpectralWithABadLine", true, "400,1E-5\n410 ,1E-5\n420,1E-5\n",
                {"Error 2 values from line \"410 ,1E-5\""}},
        BadFile{"MissingSpectral", true, nullptr, {"File not found \"%p\""}},
        BadFile{"EmptyAperture", false, "", {"Error converting line 1 into 2 doubles \"\""}},
        BadFile{"HeaderOnlyAperture", false, "12,3 ; rows, columns\n", {"No entries in file \"%p\""}},
        BadFile{"CommentOnlyAperture", false, "; no header\n", {"Error converting line 1 into 2 doubles \"\""}},
        BadFile{"ApertureWithABadLine", false, "2,3\n1,2,3\n1,x,3\n",
                {"Error converting line into 3 doubles \"1,x,3\""}},
        BadFile{"MissingAperture", false, nullptr, {"File not found \"%p\""}}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

TEST_F(TransferTest, FileChecksPassTheFilesTheUploadSends) {
    const auto spectral = WriteFile("s.txt", "400,1E-5 ; lamp A\n410,2E-5");
    const auto aperture = WriteFile("a.txt", "1,3\n1,0.5,0.25\n");
    std::vector<std::string> errors{"stale"};
    EXPECT_EQ(Quorvex_CheckSpectralCalibrationFile(spectral.wstring().c_str(), &errors), QuorvexSuccess);
    EXPECT_TRUE(errors.empty());
    errors = {"stale"};
    EXPECT_EQ(Quorvex_CheckApertureCalibrationFile(aperture.wstring().c_str(), &errors), QuorvexSuccess);
    EXPECT_TRUE(errors.empty());
    errors = {"stale"};
    EXPECT_EQ(Quorvex_CheckSpectralCalibrationFile(nullptr, &errors), QuorvexErrorInvalidParameter);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Quorvex_CheckApertureCalibrationFile(nullptr, nullptr), QuorvexErrorInvalidParameter);

    ConnectOrFail();
    ASSERT_EQ(Quorvex_UploadSpectralCalibrationData(m_handle, spectral.wstring().c_str(), 1, nullptr, nullptr),
              QuorvexSuccess);
    ASSERT_EQ(Quorvex_UploadApertureCalibrationData(m_handle, aperture.wstring().c_str(), 1, nullptr, nullptr),
              QuorvexSuccess);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"C0(2)", "400.00,1.000E-05", "410.00,2.000E-05", "C1(3)",
                                                "1.000E+00", "5.000E-01", "2.500E-01"}));
}

TEST_F(TransferTest, HeldApertureTablesThatAreNoGridSendNothing) {
    Ceiling(3);
    ConnectOrFail();
    // Empty, or rows of differing length.
    for (const QuorvexApertureTable& table : {QuorvexApertureTable{}, QuorvexApertureTable{{1, 2, 3}, {4, 5}}}) {
        ASSERT_EQ(Quorvex_SetApertureCalibrationData(m_handle, table), QuorvexSuccess);
        CTestEvent done;
        ASSERT_EQ(Quorvex_UploadApertureCalibrationData(m_handle, L"", 0, nullptr, done.Get()), QuorvexSuccess);
        ASSERT_TRUE(done.Wait());
    }
    EXPECT_TRUE(WaitForLog(": Aperture data is empty or its rows differ in length, nothing uploaded."));
    EXPECT_TRUE(Sent().empty());
}

TEST_F(TransferTest, DownloadGivesTheHeadsTablesAndATenThousandPairTableAsItWasUploaded) {
    ConnectOrFail();
    ASSERT_EQ(Quorvex_DownloadSpectralCalibrationData(m_handle, 1, nullptr, nullptr), QuorvexSuccess);
    ASSERT_EQ(Quorvex_DownloadApertureCalibrationData(m_handle, 1, nullptr, nullptr), QuorvexSuccess);
    EXPECT_EQ(Held(Quorvex_GetSpectralCalibrationData), sim::CHeadSimulator::FactorySpectrum());
    EXPECT_EQ(Held(Quorvex_GetApertureCalibrationData), sim::CHeadSimulator::FactoryApertureRows());
    EXPECT_EQ(Sent(), (std::vector<std::string>{"C0?", "C1?"}));

    // Written at the wire's precision, so every pair travels unchanged.
    std::string text;
    QuorvexSpectralTable expected;
    for (int i = 0; i < 10000; ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "%.2f,%.3E\n", 300.0 + 0.1 * i, 1e-7 * (1 + i % 997));
        double wavelength, radiance;
        ASSERT_EQ(std::sscanf(line, "%lf,%lf", &wavelength, &radiance), 2);
        expected.emplace_back(wavelength, radiance);
        text += line;
    }
    const auto file = WriteFile("large.txt", text);
    ASSERT_EQ(Quorvex_UploadSpectralCalibrationData(m_handle, file.wstring().c_str(), 1, nullptr, nullptr),
              QuorvexSuccess);
    ASSERT_EQ(m_sim->SpectralData().size(), expected.size());
    ASSERT_EQ(Quorvex_SetSpectralCalibrationData(m_handle, {}), QuorvexSuccess);
    ASSERT_EQ(Quorvex_DownloadSpectralCalibrationData(m_handle, 1, nullptr, nullptr), QuorvexSuccess);
    EXPECT_EQ(Held(Quorvex_GetSpectralCalibrationData), expected);
}

struct BadDownload {
    const char* command;
    const char* reply;
    const char* logged;
};

class BadDownloadTest : public QuorvexTest, public ::testing::WithParamInterface<BadDownload> {};

TEST_P(BadDownloadTest, IsLoggedAndLeavesTheHeldTableAlone) {
    Ceiling(4);
    ConnectOrFail();
    const QuorvexSpectralTable spectral{{500, 1}};
    const QuorvexApertureTable aperture{{1, 2, 3}};
    ASSERT_EQ(Quorvex_SetSpectralCalibrationData(m_handle, spectral), QuorvexSuccess);
    ASSERT_EQ(Quorvex_SetApertureCalibrationData(m_handle, aperture), QuorvexSuccess);
    m_sim->OverrideReply(GetParam().command, GetParam().reply);
    const bool isSpectral = std::string(GetParam().command) == R"(C0\?)";
    ASSERT_EQ(isSpectral ? Quorvex_DownloadSpectralCalibrationData(m_handle, 1, nullptr, nullptr)
                         : Quorvex_DownloadApertureCalibrationData(m_handle, 1, nullptr, nullptr),
              QuorvexSuccess);
    EXPECT_TRUE(WaitForLog(GetParam().logged));
    EXPECT_EQ(Held(Quorvex_GetSpectralCalibrationData), spectral);
    EXPECT_EQ(Held(Quorvex_GetApertureCalibrationData), aperture);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BadDownloadTest,
    ::testing::Values(
        BadDownload{R"(C0\?)", "5\r400,1\r410,1\r420,1\r430,1",
                    ": Incorrect number of spectral data pairs received. 4 received, 5 expected."},
        BadDownload{R"(C0\?)", "0", ": Download spectral data results not enough data. Returned vector length = 1."},
        BadDownload{R"(C0\?)", "two\r400,1\r410,1", ": Error parsing number of spectral pairs \"two\""},
        BadDownload{R"(C0\?)", "2\r400,1\r410;1", ": Error parsing downloaded spectral data pair \"410;1\""},
        BadDownload{R"(C1\?)", "7\r1\r2\r3\r4\r5\r6\r7",
                    ": Error calculating the number of rows and columns. nValues = 7, nCols = 3, nRows = 2"},
        BadDownload{R"(C1\?)", "3\r1\r2", ": Incorrect number of aperture data values received. 2 received, 3 expected."},
        BadDownload{R"(C1\?)", "3\r1\rx\r3", ": Error parsing downloaded aperture data factor \"x\""}));

TEST_F(TransferTest, SavesWriteTheTablesAndNeverOverwrite) {
    Ceiling(3);
    ConnectOrFail();
    ASSERT_EQ(Quorvex_SetSpectralCalibrationData(m_handle, {{400, 1.234E-05}, {410.255, 2E-5}}), QuorvexSuccess);
    ASSERT_EQ(Quorvex_SetApertureCalibrationData(m_handle, {{100, 50, 25}, {1, 0.5, 0.25}}), QuorvexSuccess);
    const auto spectral = m_xdg.Root() / "s.txt", aperture = m_xdg.Root() / "a.txt";
    ASSERT_EQ(Quorvex_SaveSpectralCalibrationData(m_handle, spectral.wstring().c_str()), QuorvexSuccess);
    ASSERT_EQ(Quorvex_SaveApertureCalibrationData(m_handle, aperture.wstring().c_str()), QuorvexSuccess);
    EXPECT_EQ(testsupport::ReadFile(spectral), "400.00,1.234E-05\n410.25,2.000E-05");
    EXPECT_EQ(testsupport::ReadFile(aperture), "1.000E+02,5.000E+01,2.500E+01\n1.000E+00,5.000E-01,2.500E-01");
    EXPECT_EQ(Quorvex_SaveApertureCalibrationData(m_handle, spectral.wstring().c_str()), QuorvexErrorSaveFailed);
    EXPECT_TRUE(WaitForLog(" Error encountered saving aperture data file: \"File already exists\""));
    // The spectral file is as it was saved, and uploads as it was held at the wire's precision.
    ASSERT_EQ(Quorvex_UploadSpectralCalibrationData(m_handle, spectral.wstring().c_str(), 1, nullptr, nullptr),
              QuorvexSuccess);
    EXPECT_EQ(m_sim->SpectralData(), (sim::CHeadSimulator::SpectralTable{{400, 1.234E-05}, {410.25, 2E-5}}));

    EXPECT_EQ(Quorvex_SaveSpectralCalibrationData(m_handle, aperture.wstring().c_str()), QuorvexErrorSaveFailed);
    EXPECT_TRUE(WaitForLog(" Error encountered saving spectral data file: \"File already exists\""));
    EXPECT_EQ(testsupport::ReadFile(aperture), "1.000E+02,5.000E+01,2.500E+01\n1.000E+00,5.000E-01,2.500E-01");
    const auto missing = m_xdg.Root() / "no" / "a.txt";
    EXPECT_EQ(Quorvex_SaveApertureCalibrationData(m_handle, missing.wstring().c_str()), QuorvexErrorSaveFailed);
    EXPECT_TRUE(WaitForLog(" Error encountered saving aperture data file: \"Error opening file with filename \"" +
                           missing.string() + "\"\""));
}

}  // namespace
}  // namespace qvtest
