// The paths the program works with and its version text: the start-up
// pieces that need no QApplication, so they also run in the sanitizer builds.
#include <fstream>

#include <gtest/gtest.h>

#include "AppPaths.h"
#include "TestSupport.h"
#include "Version.h"
#include "platform/text.h"

namespace fs = std::filesystem;

TEST(AppPathsTest, JoinsWithOneSlashFoldersEndWithOneAndTheLogIsNamedByTheGivenUtcTime) {
    EXPECT_EQ(apppaths::JoinFile(L"/a", L"b.ini"), L"/a/b.ini");
    EXPECT_EQ(apppaths::JoinFile(L"/a/", L"b.ini"), L"/a/b.ini");
    EXPECT_EQ(apppaths::JoinFolder(L"/a", L"logs"), L"/a/logs/");
    EXPECT_EQ(apppaths::JoinFolder(L"/a/", L"logs/"), L"/a/logs/");
    EXPECT_EQ(apppaths::DataFolder(L"/home/u/.local/share"),
              L"/home/u/.local/share/Vandrel Scientific Ltd/Quorvex Control Panel/");
    const SYSTEMTIME utc{2021, 3, 4 /* day of week, unused */, 4, 5, 6, 7, 999};
    EXPECT_EQ(apppaths::LogFileName(utc), L"2021-03-04_05-06-07_SystemLog.log");
}

TEST(AppPathsTest, FolderCreationReportsTheWindowsCodes) {
    testsupport::CTempXdg folders;
    const fs::path deep = folders.Root() / "a" / "b" / "c";
    const std::wstring wide = platform::FromUtf8(deep.string());
    EXPECT_EQ(apppaths::CreateFolderTree(wide), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_EQ(apppaths::CreateFolderTree(wide), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(apppaths::CreateFolderTree(L"relative/logs"), static_cast<DWORD>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(apppaths::CreateFolderTree(
                  platform::FromUtf8((folders.Root() / std::string(300, 'y')).string())),
              static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    std::ofstream(folders.Root() / "file") << "x";
    EXPECT_NE(apppaths::CreateFolderTree(platform::FromUtf8((folders.Root() / "file" / "sub").string())),
              static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(VersionTest, VersionTextDropsTheLastPart) {
    EXPECT_EQ(GetVersionString(), VersionTextFromFileVersion(GetFileVersion()));
    EXPECT_EQ(VersionTextFromFileVersion(L"2.3.4.5 \t\r\n"), L"2.3.4");
    EXPECT_EQ(VersionTextFromFileVersion(L"7"), L"");
    EXPECT_EQ(VersionTextFromFileVersion(L""), L"");
}
