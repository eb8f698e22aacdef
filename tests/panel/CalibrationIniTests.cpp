// Calibration.ini: the layout a save creates, round trips to four
// significant digits, partial, corrupt and missing files, and the ini
// storage's items.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "CalibrationData.h"
#include "SettingsStorageIniFile.h"
#include "TestSupport.h"
#include "platform/text.h"

namespace {

class CalibrationIniTest : public ::testing::Test {
protected:
    std::wstring File() const { return platform::FromUtf8(Path().string()); }
    std::filesystem::path Path() const { return m_folders.Root() / "Calibration.ini"; }

    bool Save(CCalibrationData& data) {
        CSettingsStorageIniFile storage(File(), L"CalibrationData");
        return data.Save(storage);
    }
    bool Load(CCalibrationData& data) {
        CSettingsStorageIniFile storage(File(), L"CalibrationData");
        return data.Load(storage);
    }
    void WriteFile(const std::string& text) { std::ofstream(Path(), std::ios::binary) << text; }

    // Non-empty lines with line ends and surrounding blanks removed.
    std::vector<std::string> FileLines() const {
        std::vector<std::string> lines;
        std::istringstream in(testsupport::ReadFile(Path()));
        for (std::string line; std::getline(in, line);) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            if (!line.empty()) lines.push_back(line);
        }
        return lines;
    }

private:
    testsupport::CTempXdg m_folders;
};

}  // namespace

TEST_F(CalibrationIniTest, SaveLaysOutANewFileLoadsBackToFourDigitsAndSavesAgainInPlace) {
    CCalibrationData data;
    data.m_nSerialNumber = 1234;
    data.m_apertureData.emplace_back(123.4, 2, 11);
    data.m_apertureData.emplace_back(0.50004, 1, 10);
    data.m_spectralData.emplace_back(380.456, 1.23456e-6);
    ASSERT_TRUE(Save(data));

    const std::vector<std::string> expected = {
        "[CalibrationData]", "SerialNumber=1234",
        "[CalibrationData.ApertureData]", "Count=2",
        "[CalibrationData.ApertureData.0]",
        "AttenuationFactor=1.234E+002", "PrimaryPosition=2", "SecondaryPosition=11",
        "[CalibrationData.ApertureData.1]",
        "AttenuationFactor=5.000E-001", "PrimaryPosition=1", "SecondaryPosition=10",
        "[CalibrationData.SpectralData]", "Count=1",
        "[CalibrationData.SpectralData.0]", "Wavelength=3.805E+002", "Radiance=1.235E-006",
    };
    EXPECT_EQ(FileLines(), expected);

    CCalibrationData loaded;
    loaded.m_apertureData.emplace_back(1.0, 0, 0);  // replaced, not appended to
    ASSERT_TRUE(Load(loaded));
    EXPECT_EQ(loaded.m_nSerialNumber, 1234);
    ASSERT_EQ(loaded.m_apertureData.size(), 2u);
    EXPECT_DOUBLE_EQ(loaded.m_apertureData[0].m_dAttenuationFactor, 123.4);
    EXPECT_DOUBLE_EQ(loaded.m_apertureData[1].m_dAttenuationFactor, 0.5);
    EXPECT_EQ(loaded.m_apertureData[1].m_nPrimaryPosition, 1);
    EXPECT_EQ(loaded.m_apertureData[1].m_nSecondaryPosition, 10);
    ASSERT_EQ(loaded.m_spectralData.size(), 1u);
    EXPECT_DOUBLE_EQ(loaded.m_spectralData[0].m_dWavelength, 380.5);
    EXPECT_DOUBLE_EQ(loaded.m_spectralData[0].m_dRadiance, 1.235e-6);

    // A second save rewrites in place and drops nothing the load needs.
    data.m_nSerialNumber = 2;
    data.m_apertureData.pop_back();
    data.m_apertureData[0].m_dAttenuationFactor = 3.0;
    ASSERT_TRUE(Save(data));
    ASSERT_TRUE(Load(loaded));
    EXPECT_EQ(loaded.m_nSerialNumber, 2);
    ASSERT_EQ(loaded.m_apertureData.size(), 1u);  // "Count" bounds what is read
    EXPECT_EQ(loaded.m_apertureData[0].m_dAttenuationFactor, 3.0);
    EXPECT_EQ(FileLines()[1], "SerialNumber=2");
}

TEST_F(CalibrationIniTest, AnEntryMissingAKeyIsSkippedAndTheOthersKeepTheirOrder) {
    WriteFile(
        "[CalibrationData]\r\nSerialNumber=555\r\n"
        "[CalibrationData.ApertureData]\r\nCount=3\r\n"
        "[CalibrationData.ApertureData.0]\r\nAttenuationFactor=1.0\r\n"
        "PrimaryPosition=2\r\nSecondaryPosition=11\r\n"
        "[CalibrationData.ApertureData.1]\r\nAttenuationFactor=2.0\r\nSecondaryPosition=11\r\n"
        "[CalibrationData.ApertureData.2]\r\nAttenuationFactor=3e0\r\n"
        "PrimaryPosition=0\r\nSecondaryPosition=11\r\n"
        "[CalibrationData.SpectralData]\r\nCount=1\r\n"
        "[CalibrationData.SpectralData.0]\r\nWavelength= 400\r\nRadiance=0x1p-2\r\n");
    CCalibrationData loaded;
    EXPECT_FALSE(Load(loaded));  // the skipped entry is reported, nobody acts on it
    EXPECT_EQ(loaded.m_nSerialNumber, 555);
    ASSERT_EQ(loaded.m_apertureData.size(), 2u);
    EXPECT_EQ(loaded.m_apertureData[0].m_dAttenuationFactor, 1.0);
    EXPECT_EQ(loaded.m_apertureData[1].m_dAttenuationFactor, 3.0);
    ASSERT_EQ(loaded.m_spectralData.size(), 1u);
    EXPECT_EQ(loaded.m_spectralData[0].m_dWavelength, 400.0);
    EXPECT_EQ(loaded.m_spectralData[0].m_dRadiance, 0.25);
}

TEST_F(CalibrationIniTest, AMissingFileOrPathLeavesEmptyTablesAndNoSerialNumber) {
    CCalibrationData loaded;
    loaded.m_nSerialNumber = 9;
    loaded.m_spectralData.emplace_back(1.0, 2.0);
    EXPECT_FALSE(Load(loaded));
    EXPECT_EQ(loaded.m_nSerialNumber, -1);
    EXPECT_TRUE(loaded.m_apertureData.empty());
    EXPECT_TRUE(loaded.m_spectralData.empty());
    EXPECT_FALSE(std::filesystem::exists(Path()));

    CSettingsStorageIniFile noFile(L"", L"CalibrationData");
    loaded.m_nSerialNumber = 9;
    EXPECT_FALSE(loaded.Load(noFile));
    EXPECT_EQ(loaded.m_nSerialNumber, -1);
    EXPECT_FALSE(loaded.Save(noFile));
}

// Counts the entries a load looks for without reading the file for each.
struct CProbeCountingIniFile : CSettingsStorageIniFile {
    using CSettingsStorageIniFile::CSettingsStorageIniFile;
    bool CollectionItem(std::uint32_t, CSettings&, bool) override { ++m_nProbes; return false; }
    std::uint64_t m_nProbes = 0;
};

TEST_F(CalibrationIniTest, ACorruptCountDoesNotHangTheLoad) {
    WriteFile("[CalibrationData]\r\nSerialNumber=5\r\n"
              "[CalibrationData.ApertureData]\r\nCount=-1\r\n");
    CProbeCountingIniFile storage(File(), L"CalibrationData");
    CCalibrationData loaded;
    EXPECT_FALSE(loaded.Load(storage));
    // -1 reads as 4294967295: without a bound the load would look for
    // billions of sections that cannot exist.
    EXPECT_GT(storage.m_nProbes, 0u);
    EXPECT_LE(storage.m_nProbes, 65536u);
    EXPECT_TRUE(loaded.m_apertureData.empty());
    EXPECT_EQ(loaded.m_nSerialNumber, 5);
}

TEST_F(CalibrationIniTest, StorageItemsUseTheIniTextForms) {
    {
        CSettingsStorageIniFile storage(File(), L"Root");
        auto sub = storage.CreateSubStorage(L"Sub");
        bool yes = true, no = false;
        float f = 2.5f;
        std::uint32_t u = 4000000000u;
        std::int64_t big = 0x0102030405060708LL;
        EXPECT_TRUE(sub->Item(L"Yes", yes, true) && sub->Item(L"No", no, true) &&
                    sub->Item(L"Float", f, true) && sub->Item(L"UInt", u, true) &&
                    sub->Item(L"Big", big, true));
    }
    std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), 6u);
    lines.pop_back();  // the 64-bit value's struct form is checked by reading it back
    EXPECT_EQ(lines, (std::vector<std::string>{"[Root.Sub]", "Yes=TRUE", "No=FALSE",
                                               "Float=2.500000", "UInt=4000000000"}));

    CSettingsStorageIniFile reader(File(), L"Root.Sub");
    std::int64_t big = 0;
    std::uint32_t u = 0;
    EXPECT_TRUE(reader.Item(L"Big", big, false));
    EXPECT_EQ(big, 0x0102030405060708LL);
    EXPECT_FALSE(reader.Item(L"Missing", u, false));
    EXPECT_FALSE(reader.Item(L"Yes", u, false));

    WriteFile("[S]\r\nLower=true\r\n");
    CSettingsStorageIniFile bools(File(), L"S");
    bool b = true;
    EXPECT_TRUE(bools.Item(L"Lower", b, false));
    EXPECT_FALSE(b);
}
