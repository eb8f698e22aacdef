// Calibration.ini: the layout a save creates, round trips to four
// significant digits, partial, corrupt and missing files, the ini storage's
// items, failed saves, and the registry storage's failed sync.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include <unistd.h>

#include "AppSettings.h"
#include "CalibrationData.h"
#include "CalibrationTestTables.h"
#include "PanelTestEnv.h"
#include "SettingsStorageIniFile.h"
#include "SettingsStorageRegistry.h"
#include "TestSupport.h"
#include "platform/text.h"
#include "serial/DriverLog.h"

namespace {

class CalibrationIniTest : public ::testing::Test {
protected:
    std::wstring File() const { return platform::FromUtf8(Path().string()); }
    std::filesystem::path Path() const { return m_folders.Root() / m_name; }
    std::filesystem::path Folder() const { return m_folders.Root(); }

    bool Save(CCalibrationData& data) {
        CSettingsStorageIniFile storage(File(), L"CalibrationData");
        storage.SetLog([this](int severity, const std::wstring& text) {
            m_log.push_back(std::to_string(severity) + " " + platform::ToUtf8(text));
        });
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

    std::vector<std::string> m_log;  // "<severity> <text>" of each entry a save logged
    std::string m_name = "Calibration.ini";

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

    // A shorter table over the old file leaves no stale entry sections.
    data.m_nSerialNumber = 2;
    data.m_apertureData.pop_back();
    data.m_apertureData[0].m_dAttenuationFactor = 3.0;
    ASSERT_TRUE(Save(data));
    EXPECT_EQ(FileLines(), (std::vector<std::string>{
                               "[CalibrationData]", "SerialNumber=2",
                               "[CalibrationData.ApertureData]", "Count=1",
                               "[CalibrationData.ApertureData.0]", "AttenuationFactor=3.000E+000",
                               "PrimaryPosition=2", "SecondaryPosition=11",
                               "[CalibrationData.SpectralData]", "Count=1",
                               "[CalibrationData.SpectralData.0]", "Wavelength=3.805E+002",
                               "Radiance=1.235E-006"}));
    ASSERT_TRUE(Load(loaded));
    EXPECT_EQ(loaded.m_nSerialNumber, 2);
    ASSERT_EQ(loaded.m_apertureData.size(), 1u);
    EXPECT_EQ(loaded.m_apertureData[0].m_dAttenuationFactor, 3.0);
    EXPECT_TRUE(m_log.empty());
}

TEST_F(CalibrationIniTest, ASaveIntoAnotherIniKeepsItsOtherSectionsAndItsOwnerReplacesItsOwnWhole) {
    WriteFile("; kept\n[Other]\nK=V\n[CalibrationData]\nSerialNumber=1\nStale=1\n"
              "[CalibrationData.SpectralData.4]\nWavelength=1\n[Other.2]\nK=W\n");
    CCalibrationData data;
    data.m_nSerialNumber = 3;
    ASSERT_TRUE(Save(data));
    EXPECT_EQ(FileLines(), (std::vector<std::string>{
                               "; kept", "[Other]", "K=V", "[CalibrationData]", "SerialNumber=3",
                               "[CalibrationData.ApertureData]", "Count=0",
                               "[CalibrationData.SpectralData]", "Count=0", "[Other.2]", "K=W"}));
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

// A save that fails keeps the old file byte for byte, logs why at Error and
// fails; the old calibration still loads.
class CalibrationIniFailureTest : public CalibrationIniTest {
protected:
    // The old calibration is saved, the file renamed to `name`, then
    // `breakOrMend(true)` breaks the next save and `breakOrMend(false)`
    // mends things after it.
    void ExpectFailedSaveKeepsTheOldFile(const std::string& name,
                                         const std::function<void(bool)>& breakOrMend,
                                         const std::string& reason) {
        CCalibrationData old = calibrationtables::TableA(), fresh = calibrationtables::TableB();
        ASSERT_TRUE(Save(old));
        std::filesystem::rename(Path(), Folder() / name);
        m_name = name;
        const std::string before = testsupport::ReadFile(Path());
        breakOrMend(true);
        const bool saved = Save(fresh);
        breakOrMend(false);
        EXPECT_FALSE(saved);
        EXPECT_EQ(testsupport::ReadFile(Path()), before);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder()), {}), 3);  // + config, data
        ASSERT_EQ(m_log.size(), 1u);
        EXPECT_EQ(m_log[0].rfind("3 Saving \"" + Path().string() + "\" failed: ", 0), 0u) << m_log[0];
        EXPECT_NE(m_log[0].find(reason), std::string::npos) << m_log[0];
        CCalibrationData loaded;
        ASSERT_TRUE(Load(loaded));
        EXPECT_EQ(loaded.m_nSerialNumber, old.m_nSerialNumber);
        EXPECT_EQ(loaded.m_apertureData.size(), old.m_apertureData.size());
    }
};

TEST_F(CalibrationIniFailureTest, ReadOnlyFolder) {
    if (geteuid() == 0) GTEST_SKIP() << "running as root, whom a read-only folder does not stop";
    ExpectFailedSaveKeepsTheOldFile(
        "Calibration.ini",
        [this](bool broken) {
            std::filesystem::permissions(Folder(), std::filesystem::perms(broken ? 0555 : 0755));
        },
        "the temporary file could not be created (Permission denied).");
}

TEST_F(CalibrationIniFailureTest, TooLongAPath) {
    // The file's name fits, its temporary's does not.
    ExpectFailedSaveKeepsTheOldFile(std::string(250, 'c') + ".ini", [](bool) {},
                                    "the temporary file could not be created (File name too long).");
}

// The registry's save ends with one sync, whose failure is logged at Error,
// as is a save refused because the settings file cannot be written.
TEST_F(PanelTest, RegistrySaveThatCannotBeWrittenIsLoggedAndFails) {
    std::vector<std::string> log;
    auto storage = CSettingsStorageRegistry::ForApplicationSettings(
        [&log](int severity, const std::wstring& text) {
            log.push_back(std::to_string(severity) + " " + platform::ToUtf8(text));
        });
    ASSERT_TRUE(storage->StartWrite());
    std::int32_t value = 5;
    ASSERT_TRUE(storage->IntItem(L"LogCeiling", value, true));
    // The folder the settings file goes in becomes a file before the sync.
    const std::filesystem::path folder = Xdg().ConfigHome() / "Vandrel Scientific Ltd";
    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "not a folder";
    EXPECT_FALSE(storage->EndWrite());
    CAppSettings settings;
    EXPECT_FALSE(settings.Save(*storage));

    const std::string start = "3 Saving the settings to \"" +
                              (folder / "Quorvex Control Panel.conf").string() + "\" failed: ";
    EXPECT_EQ(log, (std::vector<std::string>{start + "the file could not be written (access error).",
                                             start + "the file cannot be written."}));
}
