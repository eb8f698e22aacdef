// Head driver tests that take long by nature: the 20 s limits on homing and
// moves (a head that acknowledges but never reports completion), and a
// spectral table as large as the head stores, uploaded and downloaded back.
#include "QuorvexFixture.h"

#include <cstdio>

namespace qvtest {
namespace {

using SlowTest = QuorvexTest;

TEST_F(SlowTest, HomeAndMoveWithoutCompletionTimeOut) {
    EnableLog(3);
    ConnectOrFail();
    m_head->SetNotifying(false);
    EXPECT_EQ(Quorvex_Home(m_handle, 1, nullptr), QuorvexErrorHomeTimeout);
    EXPECT_TRUE(LogHas(": No home complete response received."));
    EXPECT_EQ(Quorvex_SetPosition(m_handle, 2, 7, 1, nullptr), QuorvexErrorMoveTimeout);
    EXPECT_TRUE(LogHas(": No move complete response received."));
    // A completion that comes after the limit signals nothing.
    m_head->SendRaw("!P:1\r");
    int pair[2];
    EXPECT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexSuccess);
}

TEST_F(SlowTest, TenThousandPairSpectralTableDownloadsAsItWasUploaded) {
    ConnectOrFail();
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
    ASSERT_EQ(m_head->SpectralData().size(), expected.size());
    ASSERT_EQ(Quorvex_SetSpectralCalibrationData(m_handle, {}), QuorvexSuccess);
    ASSERT_EQ(Quorvex_DownloadSpectralCalibrationData(m_handle, 1, nullptr, nullptr), QuorvexSuccess);
    QuorvexSpectralTable downloaded;
    ASSERT_EQ(Quorvex_GetSpectralCalibrationData(m_handle, &downloaded), QuorvexSuccess);
    EXPECT_EQ(downloaded, expected);
}

}  // namespace
}  // namespace qvtest
