// The driver log: the ceiling filter, the per-object prefix, the entry
// layout, reference-counted set-up, and several loggers appending to one
// shared file without tearing each other's entries.
#include "serial/DriverLog.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class DriverLogTest : public ::testing::Test {
protected:
    testsupport::CTempXdg xdg;
    std::filesystem::path file = xdg.Root() / "log.txt";
};

TEST_F(DriverLogTest, CeilingFiltersBySeverityAndEntriesHaveTheStockLayout) {
    driverlog::CLibraryLog library("CQuorvex");
    library.SetFilePath(file.wstring());
    int object = 0;
    {
        driverlog::CDeviceLog log(library, L"CQuorvex", &object);
        for (int ceiling : {0, 3, 4, 7}) {
            library.SetCeiling(ceiling);
            log.Log(driverlog::Error, L": error at ", ceiling);
            log.Log(driverlog::Warning, L": warning at ", ceiling);
            log.Log(driverlog::Debug, L": debug at ", ceiling);
        }
    }
    char address[24];
    std::snprintf(address, sizeof address, "%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&object)));
    const std::string prefix = "CQuorvex (0x" + std::string(address) + ")";
    std::vector<std::string> messages;
    const std::regex layout(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}; (\w+)\]: (.*)$)");
    for (const auto& line : Lines(testsupport::ReadFile(file))) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, layout)) << line;
        messages.push_back(m[1].str() + "|" + m[2].str());
    }
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "Error|" + prefix + ": error at 3",
                            "Error|" + prefix + ": error at 4",
                            "Warning|" + prefix + ": warning at 4",
                            "Error|" + prefix + ": error at 7",
                            "Warning|" + prefix + ": warning at 7",
                            "Debug|" + prefix + ": debug at 7",
                            "Debug|" + prefix + ": Uninitializing Pantheios library.",
                        }));
}

TEST_F(DriverLogTest, ObjectsShareTheCeilingAndHaveTheirOwnPrefixes) {
    driverlog::CLibraryLog library("CAgilentE3633A");
    library.SetCeiling(7);
    library.SetFilePath(file.wstring());
    int a = 0, b = 0;
    {
        driverlog::CDeviceLog first(library, L"CAgilentE3633A", &a);
        driverlog::CDeviceLog second(library, L"CAgilentE3633A", &b);
        EXPECT_NE(first.Prefix(), second.Prefix());
        EXPECT_TRUE(library.IsInitialised());
    }
    EXPECT_FALSE(library.IsInitialised());
    const std::string text = testsupport::ReadFile(file);
    // The first object writes the initialisation entry, both write their
    // own uninitialisation entry.
    size_t inits = 0, uninits = 0;
    for (const auto& line : Lines(text)) {
        inits += line.find(": Pantheios library initialized.") != std::string::npos;
        uninits += line.find(": Uninitializing Pantheios library.") != std::string::npos;
    }
    EXPECT_EQ(inits, 2u);
    EXPECT_EQ(uninits, 2u);
}

TEST_F(DriverLogTest, SeveralLibrariesWritingOneFileNeverTearEntries) {
    constexpr int kThreads = 4, kEntries = 300;
    std::vector<std::unique_ptr<driverlog::CLibraryLog>> libraries;
    for (int i = 0; i < kThreads; ++i) {
        libraries.push_back(std::make_unique<driverlog::CLibraryLog>("L" + std::to_string(i)));
        libraries.back()->SetCeiling(7);
        libraries.back()->SetFilePath(file.wstring());
        libraries.back()->Init();
    }
    std::vector<std::thread> writers;
    const std::wstring payload(700, L'x');
    for (int i = 0; i < kThreads; ++i)
        writers.emplace_back([&, i] {
            for (int n = 0; n < kEntries; ++n)
                libraries[i]->Write(driverlog::Debug, L"<" + std::to_wstring(i) + L":" +
                                                          std::to_wstring(n) + L">" + payload +
                                                          L"<end>");
        });
    for (auto& t : writers) t.join();
    for (auto& l : libraries) l->Uninit();

    const auto lines = Lines(testsupport::ReadFile(file));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEntries));
    const std::regex whole(R"(^\[[^\]]+; Debug\]: <\d:\d+>x{700}<end>$)");
    for (const auto& line : lines) ASSERT_TRUE(std::regex_match(line, whole)) << line.substr(0, 80);
}

TEST_F(DriverLogTest, EntriesWrittenBeforeThePathIsKnownAreAppendedToTheFileInOrder) {
    { std::ofstream(file) << "earlier run\n"; }
    driverlog::CLibraryLog library("CQuorvex");
    library.SetCeiling(7);
    int object = 0;
    driverlog::CDeviceLog log(library, L"CQuorvex", &object);
    log.Log(driverlog::Debug, L": Logging ceiling set to ", 7);
    library.SetFilePath(file.wstring());
    log.Log(driverlog::Debug, L": Logfile path set to \"", file.wstring(), L"\"");
    const auto lines = Lines(testsupport::ReadFile(file));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "earlier run");  // appended to, not truncated
    EXPECT_NE(lines[1].find(": Pantheios library initialized."), std::string::npos);
    EXPECT_NE(lines[2].find(": Logging ceiling set to 7"), std::string::npos);
    EXPECT_NE(lines[3].find(": Logfile path set to \""), std::string::npos);
}

}  // namespace
