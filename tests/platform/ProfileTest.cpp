// Private profile (ini) files: layout, semantics and struct values.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "PlatformChecks.h"
#include "TestSupport.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

class ProfileTest : public testing::Test {
protected:
    std::wstring File(const char* name = "Calibration.ini") const {
        return platform::FromUtf8((m_xdg.DataHome() / name).string());
    }
    std::string Text(const char* name = "Calibration.ini") const {
        return testsupport::ReadFile(m_xdg.DataHome() / name);
    }
    void SetText(const std::string& text, const char* name = "Calibration.ini") const {
        std::ofstream(m_xdg.DataHome() / name, std::ios::binary) << text;
    }
    std::wstring Get(const wchar_t* section, const wchar_t* key, const wchar_t* fallback = L"<none>",
                     DWORD size = 256) const {
        std::vector<wchar_t> buffer(size + 1, L'#');
        const DWORD n = GetPrivateProfileStringW(section, key, fallback, buffer.data(), size,
                                                 File().c_str());
        EXPECT_EQ(buffer[n], L'\0');
        return std::wstring(buffer.data(), n);
    }
    // A list result: names separated by '|'.
    std::wstring List(const wchar_t* section) const {
        std::vector<wchar_t> buffer(256, L'#');
        const DWORD n = GetPrivateProfileStringW(section, nullptr, L"x", buffer.data(), 256,
                                                 File().c_str());
        std::wstring out;
        for (DWORD i = 0; i < n; ++i) out += buffer[i] ? buffer[i] : L'|';
        EXPECT_EQ(buffer[n], L'\0');  // the list's second NUL
        EXPECT_TRUE(n == 0 || buffer[n - 1] == L'\0') << n;  // each name ends
        return out;
    }
    BOOL Write(const wchar_t* section, const wchar_t* key, const wchar_t* value) const {
        return WritePrivateProfileStringW(section, key, value, File().c_str());
    }

    testsupport::CTempXdg m_xdg;
};

TEST_F(ProfileTest, LayoutAndListsAfterASequenceOfWrites) {
    EXPECT_TRUE(Write(L"Head", L"Serial", L"QX-0042"));
    EXPECT_EQ(Text(), "[Head]\nSerial=QX-0042\n");
    EXPECT_TRUE(Write(L"Head", L"Model", L"QUORVEX"));
    EXPECT_TRUE(Write(L"Spectral", L"Count", L"2"));
    EXPECT_TRUE(Write(L"Spectral", L"0", L"400 1.5e-3"));
    EXPECT_TRUE(Write(L"Head", L"Firmware", L"1.2"));       // appended to its section
    EXPECT_TRUE(Write(L"head", L"serial", L"QX-0043"));     // in place, names as in the file
    EXPECT_TRUE(Write(L"Aperture", L"Rows", L"3"));
    EXPECT_EQ(Text(),
              "[Head]\nSerial=QX-0043\nModel=QUORVEX\nFirmware=1.2\n"
              "[Spectral]\nCount=2\n0=400 1.5e-3\n"
              "[Aperture]\nRows=3\n");
    EXPECT_EQ(List(nullptr), L"Head|Spectral|Aperture|");
    EXPECT_EQ(List(L"head"), L"Serial|Model|Firmware|");
    EXPECT_EQ(List(L"Missing"), L"");
    // Cut like Windows: size - 2 characters, then two NULs.
    wchar_t cut[8];
    EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, L"", cut, 8, File().c_str()), 6u);
    EXPECT_EQ(std::wstring(cut, 8), std::wstring(L"Head\0S\0\0", 8));
    EXPECT_TRUE(Write(L"Head", L"Model", nullptr));          // delete a key
    EXPECT_TRUE(Write(L"Spectral", nullptr, nullptr));       // delete a section
    EXPECT_TRUE(Write(L"Nothing", L"Here", nullptr));        // deleting what is not there
    EXPECT_TRUE(Write(L"Nothing", nullptr, nullptr));
    EXPECT_EQ(Text(), "[Head]\nSerial=QX-0043\nFirmware=1.2\n[Aperture]\nRows=3\n");
    EXPECT_EQ(List(nullptr), L"Head|Aperture|");
    EXPECT_EQ(Get(L"HEAD", L"FIRMWARE"), L"1.2");
    EXPECT_EQ(Get(L"Head", L"Model"), L"<none>");
    EXPECT_EQ(Get(L"Spectral", L"Count"), L"<none>");
}

TEST_F(ProfileTest, ReadingMissingThingsGivesTheDefaultAndWritingIntoAMissingFolderFails) {
    EXPECT_FAILS_WITH(Get(L"Head", L"Serial", L"fallback"), L"fallback", ERROR_FILE_NOT_FOUND);  // no file
    EXPECT_FALSE(fs::exists(m_xdg.DataHome() / "Calibration.ini"));
    EXPECT_EQ(Get(L"Head", L"Serial", nullptr), L"");
    EXPECT_EQ(Get(L"Head", L"Serial", L"trailing   "), L"trailing");
    Write(L"Head", L"Serial", L"1");
    EXPECT_EQ(Get(L"Head", L"Other", L"d"), L"d");
    EXPECT_EQ(Get(L"Tail", L"Serial", L"d"), L"d");
    // Deleting from a file that does not exist does not create it.
    EXPECT_TRUE(WritePrivateProfileStringW(L"A", L"B", nullptr, File("other.ini").c_str()));
    EXPECT_FALSE(fs::exists(m_xdg.DataHome() / "other.ini"));
    const std::wstring file = platform::FromUtf8((m_xdg.DataHome() / "no" / "such.ini").string());
    EXPECT_FAILS_WITH(WritePrivateProfileStringW(L"A", L"B", L"C", file.c_str()), FALSE,
                      ERROR_PATH_NOT_FOUND);
}

TEST_F(ProfileTest, ReturnsCharactersCopiedAndTruncates) {
    Write(L"S", L"K", L"0123456789");
    // Get checks the count returned against the terminating NUL.
    EXPECT_EQ(Get(L"S", L"K", L"", 6), L"01234");
    EXPECT_EQ(Get(L"S", L"K", L"", 1), L"");
    EXPECT_EQ(Get(L"S", L"Missing", L"defaultvalue", 6), L"defau");
    EXPECT_EQ(Get(L"S", L"K", L"", 11), L"0123456789");
}

TEST_F(ProfileTest, ReadsHandWrittenFilesLikeWindows) {
    const auto file = [](const std::string& hours, const std::string& added) {
        return "; a comment\r\n"
               "[ Lamp ]\r\n" + hours + "\r\n"
               "Quoted=\"  spaced out  \"\r\n"
               "Single='x'\r\n"
               "Half=\"open\r\n"
               "Flag\r\n" + added + "\r\n"
               "[Wheels]\r\n"
               "Primary=3\r\n";
    };
    SetText(file("  Hours =  12.5  ", ""));
    EXPECT_EQ(Get(L"Lamp", L"Hours"), L"12.5");
    EXPECT_EQ(Get(L"lamp", L"quoted"), L"  spaced out  ");
    EXPECT_EQ(Get(L"Lamp", L"Single"), L"x");
    EXPECT_EQ(Get(L"Lamp", L"Half"), L"\"open");
    EXPECT_EQ(Get(L"Lamp", L"Flag"), L"");
    EXPECT_EQ(List(L"Lamp"), L"Hours|Quoted|Single|Half|Flag|");
    EXPECT_EQ(List(nullptr), L"Lamp|Wheels|");
    // A new key goes after the section's last entry, before its blank line;
    // CR LF line ends are kept; the rest of the file is untouched.
    Write(L"Lamp", L"Cycles", L"7");
    Write(L"Lamp", L"Hours", L"13");
    EXPECT_EQ(Text(), file("Hours=13", "Cycles=7\r\n"));
}

// Found by fuzzing: of two byte-order marks opening a file the second was
// read as text of the first line, and a write put it back in front of the
// file as the mark the next load drops, turning that line into a section.
TEST_F(ProfileTest, EveryByteOrderMarkOpeningTheFileIsDroppedSoAWriteKeepsTheOtherSections) {
    SetText("\xEF\xBB\xBF\xEF\xBB\xBF[First]\nKey=1\n[Second]\nKey=2\n");
    EXPECT_EQ(List(nullptr), L"First|Second|");
    EXPECT_TRUE(Write(L"Second", L"Key", L"3"));
    EXPECT_EQ(List(nullptr), L"First|Second|");
    EXPECT_EQ(Get(L"First", L"Key"), L"1");
    EXPECT_EQ(Get(L"Second", L"Key"), L"3");
}

TEST_F(ProfileTest, NonAsciiTextRoundTripsAsUtf8) {
    const wchar_t* value = L"\u00b5W/m\u00b2/sr/nm \u03bb \U0001F4A1";
    EXPECT_TRUE(Write(L"Einheiten \u00e4", L"Strahldichte", value));
    EXPECT_EQ(Get(L"EINHEITEN \u00c4", L"strahldichte"), value);
    EXPECT_EQ(Text(), "[Einheiten \xc3\xa4]\nStrahldichte=\xc2\xb5W/m\xc2\xb2/sr/nm \xce\xbb \xf0\x9f\x92\xa1\n");
}

TEST_F(ProfileTest, StructRoundTripAndChecks) {
    const unsigned char data[] = {0x00, 0x01, 0xAB, 0xFF, 0x10};
    ASSERT_TRUE(WritePrivateProfileStructW(L"Bin", L"Blob", data, sizeof data, File().c_str()));
    EXPECT_EQ(Text(), "[Bin]\nBlob=0001ABFF10BB\n");  // sum 0x1BB -> BB
    unsigned char back[5] = {};
    ASSERT_TRUE(GetPrivateProfileStructW(L"Bin", L"Blob", back, sizeof back, File().c_str()));
    EXPECT_EQ(0, memcmp(back, data, sizeof data));

    // A wrong size either way, a checksum off by one, a digit that is not
    // hexadecimal and a missing key all fail.
    const struct {
        const wchar_t *key, *text;
        UINT size;
    } bad[] = {{L"Blob", nullptr, 4}, {L"Blob", nullptr, 6}, {L"Blob", L"0001ABFF10BC", 5},
               {L"Blob", L"0001ABFG10BB", 5}, {L"Missing", nullptr, 5}};
    unsigned char buffer[6];
    for (const auto& c : bad) {
        if (c.text) Write(L"Bin", c.key, c.text);
        SetLastError(0);
        EXPECT_FALSE(GetPrivateProfileStructW(L"Bin", c.key, buffer, c.size, File().c_str()));
        EXPECT_NE(GetLastError(), 0u) << c.size;
    }
    EXPECT_TRUE(WritePrivateProfileStructW(L"Bin", L"Blob", nullptr, 0, File().c_str()));  // deletes
    EXPECT_EQ(Text(), "[Bin]\n");
}

TEST_F(ProfileTest, TextThatWouldAddLinesOfItsOwnIsRefusedAndTheFileKeptAsItWas) {
    SetText("[Head]\r\nSerial=QX-0042\r\n");
    const std::string before = Text();
    const unsigned char data[] = {1, 2};
    const struct {
        const wchar_t *section, *key, *value;
    } refused[] = {
        {L"Head", L"Serial", L"1\r\n[Injected]\r\nKey=2"},
        {L"Head", L"Serial", L"1\n[Injected]"},
        {L"Head", L"Serial", L"1\r"},
        {L"Head", L"New\nKey", L"1"},
        {L"Head", L"Serial\r", nullptr},
        {L"Head", L"Serial=x", L"1"},
        {L"Head", L"[Injected]", L"1"},  // the line would read as a header
        {L"Head", L"[Injected", L"]"},
        {L"Head", L";Hidden", L"1"},     // the line would read as a comment
        {L"Head\r\n[Injected", L"Key", L"1"},
        {L"Head]\r\nKey=1\r\n[Other", L"Key", L"1"},
        {L"A]B", L"Key", L"1"},
        {L"Head\n", nullptr, nullptr},
    };
    for (const auto& write : refused) {
        SCOPED_TRACE(testing::Message() << write.section << "/" << write.key);
        EXPECT_FAILS_WITH(Write(write.section, write.key, write.value), FALSE, ERROR_INVALID_PARAMETER);
    }
    EXPECT_FAILS_WITH(WritePrivateProfileStructW(L"Bin\n[Injected]", L"Blob", data, 2, File().c_str()),
                      FALSE, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(WritePrivateProfileStructW(L"Bin", L"Blob=", data, 2, File().c_str()), FALSE,
                      ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Text(), before);
    EXPECT_EQ(List(nullptr), L"Head|");
    // What is still allowed: brackets and '=' inside a value, '[' in a section name.
    EXPECT_TRUE(Write(L"Head", L"Note", L"a=b [c]"));
    EXPECT_TRUE(Write(L"Wheel [2", L"Pos", L"3"));
    EXPECT_EQ(Get(L"Head", L"Note"), L"a=b [c]");
    EXPECT_EQ(Get(L"Wheel [2", L"Pos"), L"3");
}

TEST_F(ProfileTest, ReplacesTheFileWholeAndKeepsItsMode) {
    Write(L"A", L"B", L"C");
    const fs::path path = m_xdg.DataHome() / "Calibration.ini";
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    Write(L"A", L"B", L"D");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // Nothing but the ini file is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_xdg.DataHome()), fs::directory_iterator()), 1);
}

TEST_F(ProfileTest, ConcurrentWritersLoseNothing) {
    const auto key = [](int t, int k) { return L"K" + std::to_wstring(t) + L"_" + std::to_wstring(k); };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < 25; ++k) EXPECT_TRUE(Write(L"S", key(t, k).c_str(), L"v"));
        });
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 25; ++k) EXPECT_EQ(Get(L"S", key(t, k).c_str()), L"v") << t << " " << k;
}

}  // namespace
