// Filling the calibration copy from the head's tables, the CSV export and
// the number forms both files use.
#include <fstream>

#include <gtest/gtest.h>

#include "CalibrationData.h"
#include "NumberText.h"
#include "TestSupport.h"
#include "platform/text.h"

namespace {

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last line break";
    return lines;
}

CCalibrationData::HeadApertureTable HeadTable(int rows, int columns) {
    CCalibrationData::HeadApertureTable table(rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) table[r].push_back(r * 10 + c + 1);
    return table;
}

}  // namespace

// Both files also show the ordinary forms (three-digit exponents, two
// decimals); these are the edges.
TEST(NumberTextTest, EdgeFormsAndScanAcceptsWhatPercentLfAccepts) {
    EXPECT_EQ(numbertext::Scientific3(0.0), "0.000E+000");
    EXPECT_EQ(numbertext::Scientific3(-1.5e-10), "-1.500E-010");
    EXPECT_EQ(numbertext::Scientific3(2.5e300), "2.500E+300");
    EXPECT_EQ(numbertext::Fixed(-0.004, 2), "-0.00");

    double value = 0;
    for (const char* text : {"3.805E+002", "3.805E+02", "380.5", " 380.5", "+3.805e2", "380.5abc"}) {
        value = 0;
        EXPECT_TRUE(numbertext::ScanDouble(text, value)) << text;
        EXPECT_DOUBLE_EQ(value, 380.5) << text;
    }
    EXPECT_TRUE(numbertext::ScanDouble("0x1p-1", value));
    EXPECT_DOUBLE_EQ(value, 0.5);
    value = 7;
    EXPECT_FALSE(numbertext::ScanDouble("", value));
    EXPECT_FALSE(numbertext::ScanDouble("abc", value));
    EXPECT_EQ(value, 7);
}

TEST(FillFromHeadTest, RowsGiveSecondaryElevenDownAndColumnsPrimaryTwoDownInAnyShape) {
    CCalibrationData data;
    data.m_nSerialNumber = 42;
    data.m_apertureData.emplace_back(9.0, 0, 0);
    data.FillFromHead(HeadTable(12, 3), {{380.0, 1e-3}, {390.0, 2e-3}});

    ASSERT_EQ(data.m_apertureData.size(), 36u);
    for (int r = 0; r < 12; ++r) {
        for (int c = 0; c < 3; ++c) {
            const CApertureData& entry = data.m_apertureData[r * 3 + c];
            EXPECT_EQ(entry.m_dAttenuationFactor, r * 10 + c + 1);
            EXPECT_EQ(entry.m_nSecondaryPosition, 11 - r);
            EXPECT_EQ(entry.m_nPrimaryPosition, 2 - c);
        }
    }
    ASSERT_EQ(data.m_spectralData.size(), 2u);
    EXPECT_EQ(data.m_spectralData[1].m_dWavelength, 390.0);
    EXPECT_EQ(data.m_spectralData[1].m_dRadiance, 2e-3);
    EXPECT_EQ(data.m_nSerialNumber, 42);

    // Other shapes follow the same rule into negative positions.
    data.FillFromHead(HeadTable(13, 4), {});
    ASSERT_EQ(data.m_apertureData.size(), 52u);
    EXPECT_EQ(data.m_apertureData[3].m_nPrimaryPosition, -1);
    EXPECT_EQ(data.m_apertureData.back().m_nSecondaryPosition, -1);
    EXPECT_TRUE(data.m_spectralData.empty());

    data.FillFromHead({}, {});
    EXPECT_TRUE(data.m_apertureData.empty());
}

TEST(CsvExportTest, HeadTableIsAGridLabelledTwelveDownWithoutAnIncompleteLastGroup) {
    CCalibrationData data;
    data.m_nSerialNumber = 123;
    data.FillFromHead(HeadTable(12, 3), {{380.456, 1.23456e-5}, {1000.0, 0.5}});
    data.m_apertureData.emplace_back(99.0, 0, 0);
    const std::vector<std::string> lines = SplitCrLf(data.ExportText());

    ASSERT_EQ(lines.size(), 5u + 12u + 3u + 2u);
    EXPECT_EQ(lines[0], "[Serial Number]");
    EXPECT_EQ(lines[1], "00123");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "[Aperture Data]");
    EXPECT_EQ(lines[4], ",3,2,1");
    EXPECT_EQ(lines[5], "12,1.000E+000,2.000E+000,3.000E+000");
    EXPECT_EQ(lines[6], "11,1.100E+001,1.200E+001,1.300E+001");
    EXPECT_EQ(lines[16], "1,1.110E+002,1.120E+002,1.130E+002");
    EXPECT_EQ(lines[17], "");
    EXPECT_EQ(lines[18], "[Spectral Data]");
    EXPECT_EQ(lines[19], "Wavelength (nm),Spectral Radiance (W/m^2/sr/nm)");
    EXPECT_EQ(lines[20], "380.46,1.235E-005");
    EXPECT_EQ(lines[21], "1000.00,5.000E-001");
}

TEST(CsvExportTest, EmptyCalibrationWritesOnlyTheHeadingsWithCrLfAndAMissingFolderFails) {
    testsupport::CTempXdg folders;
    const std::filesystem::path path = folders.Root() / "Quorvex Calibration Data.csv";
    {
        std::ofstream old(path);
        old << "much longer previous content that must not survive the export\n";
    }
    const CCalibrationData data;  // serial number -1, no entries
    ASSERT_TRUE(data.ExportCalibrationData(platform::FromUtf8(path.string())));
    EXPECT_EQ(testsupport::ReadFile(path),
              "[Serial Number]\r\n-0001\r\n\r\n[Aperture Data]\r\n,3,2,1\r\n\r\n"
              "[Spectral Data]\r\nWavelength (nm),Spectral Radiance (W/m^2/sr/nm)\r\n");
    EXPECT_FALSE(data.ExportCalibrationData(
        platform::FromUtf8((folders.Root() / "no such folder" / "x.csv").string())));
}
