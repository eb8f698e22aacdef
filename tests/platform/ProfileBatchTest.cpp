// The ini batch writer: the layout it gives a new file, which old sections
// a commit replaces or keeps, refused text, and failed commits that leave
// the old file as it was.
#include "platform/ProfileBatch.h"
#include "platform/ProfileSnapshot.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PlatformChecks.h"
#include "TestSupport.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

struct Key {
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
};

class ProfileBatchTest : public testing::Test {
protected:
    fs::path Path(const std::string& name = "Settings.ini") const { return m_xdg.DataHome() / name; }
    static std::wstring Wide(const fs::path& path) { return platform::FromUtf8(path.string()); }
    static void SetText(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static bool Commit(const fs::path& path, const std::vector<Key>& keys) {
        platform::ProfileBatch batch(Wide(path));
        for (const Key& k : keys) EXPECT_TRUE(batch.WriteString(k.section, k.key, k.value));
        return batch.Commit();
    }
    // Names in the folder other than the expected files: temporaries left.
    std::vector<std::string> Leftovers(const std::vector<std::string>& expected) const {
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(m_xdg.DataHome())) {
            const std::string name = entry.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) left.push_back(name);
        }
        return left;
    }

    testsupport::CTempXdg m_xdg;
};

}  // namespace

TEST_F(ProfileBatchTest, ANewFileIsLaidOutAsWritingEachKeyInTurnWouldLayIt) {
    const std::vector<Key> keys = {
        {L"Root", L"Serial", L"7"},        {L"Root.Table", L"Count", L"2"},
        {L"Root.Table.0", L"A", L"1"},     {L"root.table.0", L"b", L"x y"},
        {L"Root", L"Name", L"Quorvex \u00b5"}, {L"ROOT", L"serial", L"8"},
        {L"Root.Table.1", L"A", L"2"},
    };
    for (const Key& k : keys)
        ASSERT_TRUE(WritePrivateProfileStringW(k.section, k.key, k.value, Wide(Path("one.ini")).c_str()));
    const unsigned char bytes[] = {1, 0xAB};
    ASSERT_TRUE(WritePrivateProfileStructW(L"Root", L"Raw", bytes, 2, Wide(Path("one.ini")).c_str()));

    platform::ProfileBatch batch(Wide(Path("batch.ini")));
    for (const Key& k : keys) ASSERT_TRUE(batch.WriteString(k.section, k.key, k.value));
    ASSERT_TRUE(batch.WriteStruct(L"Root", L"Raw", bytes, 2));
    ASSERT_TRUE(batch.Commit());
    EXPECT_EQ(testsupport::ReadFile(Path("batch.ini")), testsupport::ReadFile(Path("one.ini")));
    EXPECT_EQ(testsupport::ReadFile(Path("batch.ini")).substr(0, 27), "[Root]\nSerial=8\nName=Quorve");
}

TEST_F(ProfileBatchTest, ACommitReplacesTheSectionsItOwnsAndKeepsTheRest) {
    struct Case {
        const char* what;
        std::string before;
        std::vector<Key> keys;
        std::string after;
    };
    const Case cases[] = {
        {"written sections are replaced whole; stale numbered entries and their sub-sections go; "
         "other sections stay where they were",
         "[T]\nCount=3\nOld=1\n[T.0]\nA=1\n[T.1]\nA=2\n[T.2]\nA=3\n[T.2.Sub]\nX=1\n[T.Notes]\nN=1\n"
         "[T.1x]\nY=1\n[T5]\nZ=1\n[Other]\nK=V\n",
         {{L"T", L"Count", L"1"}, {L"T.0", L"A", L"9"}},
         "[T]\nCount=1\n[T.0]\nA=9\n[T.Notes]\nN=1\n[T.1x]\nY=1\n[T5]\nZ=1\n[Other]\nK=V\n"},
        {"lines before the first section, sections before the owned ones and CR LF are kept",
         "; made by hand\r\n[Other]\r\nK=V\r\n\r\n[Root]\r\nOld=1\r\nKeep=2\r\n",
         {{L"Root", L"Keep", L"3"}},
         "; made by hand\r\n[Other]\r\nK=V\r\n\r\n[Root]\r\nKeep=3\r\n"},
        {"names match without regard to case; the batch's own spelling is written",
         "[ROOT.5]\nA=1\n[Other]\nK=V\n[root]\nB=1\n",
         {{L"Root", L"B", L"2"}},
         "[Root]\nB=2\n[Other]\nK=V\n"},
        {"with no owned section the batch's sections go at the end",
         "[Other]\nK=V\n", {{L"New", L"A", L"1"}}, "[Other]\nK=V\n[New]\nA=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetText(Path(), c.before);
        ASSERT_TRUE(Commit(Path(), c.keys));
        EXPECT_EQ(testsupport::ReadFile(Path()), c.after);
    }
}

TEST_F(ProfileBatchTest, TextThatWouldNotReadBackIsRefusedAndTheRestIsWritten) {
    platform::ProfileBatch batch(Wide(Path()));
    EXPECT_FAILS_WITH(batch.WriteString(L"A", L"K", L"two\nlines"), false, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(batch.WriteString(L"A]", L"K", L"1"), false, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(batch.WriteString(L"A", L"K=", L"1"), false, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(batch.WriteStruct(L"A", L"K", nullptr, 1), false, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(batch.WriteString(L"A", L"K", L"1"));
    EXPECT_EQ(batch.Refused(), 4u);
    ASSERT_TRUE(batch.Commit());
    EXPECT_EQ(testsupport::ReadFile(Path()), "[A]\nK=1\n");

    platform::ProfileBatch noFile(L"");
    EXPECT_FAILS_WITH(noFile.Commit(), false, ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(noFile.FailureText().empty());
}

TEST_F(ProfileBatchTest, ThroughALinkTheTargetIsReplacedAndKeepsItsMode) {
    SetText(Path("target.ini"), "[A]\nK=0\n");
    chmod(Path("target.ini").c_str(), 0640);
    fs::create_symlink(Path("target.ini"), Path("link.ini"));
    ASSERT_TRUE(Commit(Path("link.ini"), {{L"A", L"K", L"1"}}));
    EXPECT_TRUE(fs::is_symlink(Path("link.ini")));
    EXPECT_EQ(testsupport::ReadFile(Path("target.ini")), "[A]\nK=1\n");
    EXPECT_EQ(fs::status(Path("target.ini")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// Each way a commit can fail leaves the old file byte for byte, no
// temporary file behind, the last error set and a reason given.
class ProfileBatchFailureTest : public ProfileBatchTest {
protected:
    enum class Cause { ReadOnlyFolder, CannotGrow, None };

    void ExpectFailureKeepsTheOldFile(const std::string& name, Cause cause, DWORD expectedError,
                                      const char* reason) {
        const std::string old = "[Root]\r\nKey=old\r\n[Other]\r\nK=V\r\n";
        SetText(Path(name), old);
        platform::ProfileBatch batch(Wide(Path(name)));
        ASSERT_TRUE(batch.WriteString(L"Root", L"Key", std::wstring(4096, L'n')));
        rlimit oldLimit{};
        getrlimit(RLIMIT_FSIZE, &oldLimit);
        if (cause == Cause::ReadOnlyFolder) chmod(m_xdg.DataHome().c_str(), 0555);
        if (cause == Cause::CannotGrow) {
            signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
            const rlimit small{1024, oldLimit.rlim_max};
            setrlimit(RLIMIT_FSIZE, &small);
        }
        SetLastError(0);
        const bool committed = batch.Commit();
        const DWORD error = GetLastError();
        setrlimit(RLIMIT_FSIZE, &oldLimit);
        signal(SIGXFSZ, SIG_DFL);
        chmod(m_xdg.DataHome().c_str(), 0755);

        EXPECT_FALSE(committed);
        EXPECT_EQ(error, expectedError);
        EXPECT_EQ(testsupport::ReadFile(Path(name)), old);
        EXPECT_EQ(Leftovers({name}), std::vector<std::string>{});
        const std::string text = platform::ToUtf8(batch.FailureText());
        EXPECT_EQ(text.rfind("Saving \"" + Path(name).string() + "\" failed: ", 0), 0u) << text;
        EXPECT_NE(text.find(reason), std::string::npos) << text;
    }
};

TEST_F(ProfileBatchFailureTest, ReadOnlyFolder) {
    if (geteuid() == 0) GTEST_SKIP() << "running as root, whom a read-only folder does not stop";
    ExpectFailureKeepsTheOldFile("Settings.ini", Cause::ReadOnlyFolder, ERROR_ACCESS_DENIED,
                                 "the temporary file could not be created (Permission denied)");
}

TEST_F(ProfileBatchFailureTest, TooLongAPath) {
    // The file's own name fits; its temporary's is too long.
    ExpectFailureKeepsTheOldFile(std::string(250, 'n') + ".ini", Cause::None,
                                 ERROR_FILENAME_EXCED_RANGE, "(File name too long)");
}

TEST_F(ProfileBatchFailureTest, FileCannotGrowAsOnAFullDisk) {
    ExpectFailureKeepsTheOldFile("Settings.ini", Cause::CannotGrow, ERROR_GEN_FAILURE,
                                 "the temporary file could not be written (File too large)");
}

namespace {

// The read side: every lookup from one read of the file answers as
// GetPrivateProfileStringW answers from the file, and later changes to the
// file are not seen.
TEST_F(ProfileBatchTest, SnapshotAnswersAsTheProfileFunctionsDo) {
    SetText(Path(), "\xEF\xBB\xBFtop=1\r\n[Entry.1]\r\nA = 'quoted' \r\nb=\"x\r\n[entry.1]\r\nA=second\r\n"
                    "; note\r\n[Other]\r\nempty=\r\nlong=" + std::string(400, 'z') + "\r\n");
    const std::wstring file = Wide(Path());
    const platform::ProfileSnapshot snapshot(file);
    for (const auto& [section, key] : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
             {L"Entry.1", L"A"}, {L"ENTRY.1", L"a"}, {L"Entry.1", L"b"}, {L"Other", L"empty"},
             {L"Other", L"long"}, {L"Other", L"missing"}, {L"Missing", L"A"}}) {
        SCOPED_TRACE(platform::ToUtf8(std::wstring(section) + L"/" + key));
        std::wstring expected(1000, L'\0');
        expected.resize(GetPrivateProfileStringW(section, key, L"", expected.data(), 1000, file.c_str()));
        const auto value = snapshot.Value(section, key);
        EXPECT_EQ(value.value_or(L""), expected);
        EXPECT_EQ(value.has_value(), std::wstring(key) != L"missing" && std::wstring(section) != L"Missing");
    }
    SetText(Path(), "[Entry.1]\nA=changed\n");
    EXPECT_EQ(snapshot.Value(L"Entry.1", L"A"), std::optional<std::wstring>(L"quoted"));
    EXPECT_FALSE(platform::ProfileSnapshot(Wide(Path("absent.ini"))).Value(L"Entry.1", L"A"));
}

}  // namespace
