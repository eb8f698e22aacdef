// What ships around quorvexctl for a shell user, checked against the program
// itself: the bash completion run in bash, the manual page and the completion
// naming every option the help names, and the README's worked example run
// as written against the simulated instruments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "CtlTest.h"

using ctltest::QuorvexCtlTest;
using testsupport::ProcessResult;
using namespace std::chrono_literals;

namespace {

std::string ReadText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_TRUE(in.good() || in.eof()) << path;
    return text.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// PATH with the built quorvexctl first, as an installed one would be found.
std::string PathWithProgram() {
    const char* path = std::getenv("PATH");
    return std::filesystem::path(QUORVEXCTL_PATH).parent_path().string() + ":" + (path ? path : "/usr/bin:/bin");
}

// The candidates the completion offers for the command line `words`, the
// last being the word under the cursor.
std::vector<std::string> Complete(const std::vector<std::string>& words) {
    std::vector<std::string> argv = {"/usr/bin/env", "PATH=" + PathWithProgram(), "bash", "--norc", "-c",
                                     "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                                     "_quorvexctl; printf '%s\\n' \"${COMPREPLY[@]}\"",
                                     "complete", QUORVEXCTL_COMPLETION};
    argv.insert(argv.end(), words.begin(), words.end());
    const ProcessResult result = testsupport::RunProcess(argv);
    EXPECT_EQ(result.code, 0) << result.err;
    std::vector<std::string> offered = SplitLines(result.out);
    std::erase(offered, "");
    std::sort(offered.begin(), offered.end());
    return offered;
}

TEST_F(QuorvexCtlTest, CompletionOffersSubcommandsTheirWordsAndThePresentPorts) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(Complete({"quorvexctl", "ca"}), Words{"calibration"});
    EXPECT_EQ(Complete({"quorvexctl", "--json", "ramp", ""}), (Words{"down", "up"}));
    EXPECT_EQ(Complete({"quorvexctl", "calibration", "download", "--f"}), Words{"--force"});
    EXPECT_EQ(Complete({"quorvexctl", "--head", "COM1", "calibration", "up"}), Words{"upload"});
    EXPECT_EQ(Complete({"quorvexctl", "batch", "--k"}), Words{"--keep-going"});
    const Words subcommands = Complete({"quorvexctl", ""});
    for (const char* name : {"scan", "batch", "help", "display", "status"})
        EXPECT_NE(std::find(subcommands.begin(), subcommands.end(), name), subcommands.end()) << name;
    // The ports are the ones quorvexctl lists: the simulators' links.
    const Words ports = Complete({"quorvexctl", "--supply", "COM"});
    for (const char* port : {"COM1", "COM2", "COM3"})
        EXPECT_NE(std::find(ports.begin(), ports.end(), port), ports.end()) << port;
}

// The help is the program's own word; the manual page and the completion
// are written beside it and must not fall behind it.
TEST(QuorvexCtlDocuments, TheManualPageAndTheCompletionKnowEveryOptionOfTheHelp) {
    const ProcessResult help = testsupport::RunProcess({QUORVEXCTL_PATH, "--help"});
    ASSERT_EQ(help.code, 0) << help.err;
    std::set<std::string> options;
    const std::regex option("--[a-z][a-z-]*[a-z]");
    for (auto it = std::sregex_iterator(help.out.begin(), help.out.end(), option); it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    ASSERT_GE(options.size(), 15u) << help.out;

    const std::string manual = std::regex_replace(ReadText(QUORVEXCTL_MAN_PAGE), std::regex(R"(\\-)"), "-");
    const std::string completion = ReadText(QUORVEXCTL_COMPLETION);
    for (const std::string& name : options) {
        EXPECT_NE(manual.find(name), std::string::npos) << name << " is not in the manual page";
        EXPECT_NE(completion.find(name), std::string::npos) << name << " is not in the completion";
    }
    for (const char* name : {"ports", "scan", "identify", "status", "ramp", "move", "home", "calibration", "display",
                             "batch", "QUORVEX_HEAD", "QUORVEX_SUPPLY", "QUORVEX_COUNTER"})
        EXPECT_NE(manual.find(name), std::string::npos) << name << " is not in the manual page";

    // The page formats without a warning.
    const ProcessResult groff =
        testsupport::RunProcess({"/usr/bin/groff", "-man", "-Tutf8", "-ww", "-z", QUORVEXCTL_MAN_PAGE});
    EXPECT_EQ(groff.code, 0);
    EXPECT_EQ(groff.err, "");
}

// The README's example, from its `export` to its download, as a user would
// paste it; it waits out a full ramp-up and ramp-down of the simulated supply.
TEST_F(QuorvexCtlTest, SlowTheReadmesWorkedExampleRunsAsWritten) {
    const std::string readme = ReadText(QUORVEX_README);
    const std::size_t intro = readme.find("A worked example");
    ASSERT_NE(intro, std::string::npos);
    const std::size_t begin = readme.find("```sh\n", intro);
    ASSERT_NE(begin, std::string::npos);
    const std::size_t end = readme.find("```\n", begin + 6);
    ASSERT_NE(end, std::string::npos);
    const std::string example = readme.substr(begin + 6, end - begin - 6);
    ASSERT_NE(example.find("export QUORVEX_HEAD=COM1 QUORVEX_SUPPLY=COM2 QUORVEX_COUNTER=COM3"), std::string::npos)
        << "the example's ports are the simulators'";

    const std::filesystem::path folder = sims.Xdg().Root() / "run";
    std::filesystem::create_directories(folder);
    const std::string script = "set -eo pipefail\ncd \"$1\"\n" + example;
    auto run = [&](const std::string& text) {
        return testsupport::RunProcess(
            {"/usr/bin/env", "PATH=" + PathWithProgram(), "bash", "--norc", "-c", text, "example", folder.string()},
            300s);
    };
    ProcessResult result = run(script);
    ASSERT_EQ(result.code, 0) << result.err;

    const std::vector<std::string> lines = SplitLines(result.out);
    ASSERT_EQ(lines.size(), 36u) << result.out;
    const std::regex line(R"(aperture ([0-2]),([0-9]+): bulb [0-9.]+ °C)");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, line)) << lines[i];
        EXPECT_EQ(std::stoul(match[1]) * 12 + std::stoul(match[2]), i) << lines[i];
    }
    for (const char* file : {"calibration.csv", "aperture.txt", "spectral.txt"})
        EXPECT_GT(std::filesystem::file_size(folder / file), 0u) << file;
    EXPECT_EQ(sims.supply.State().CurrentSetPoint(), 0.0) << "the example leaves the lamp dark";

    // Run again, its download refuses the files the first run wrote.
    const std::string download = example.substr(example.find("quorvexctl calibration download"));
    const auto before = std::filesystem::last_write_time(folder / "spectral.txt");
    result = run("cd \"$1\"\nexport QUORVEX_HEAD=COM1\n" + download);
    EXPECT_EQ(result.code, 2) << result.err;
    EXPECT_NE(result.err.find("--force"), std::string::npos) << result.err;
    EXPECT_EQ(std::filesystem::last_write_time(folder / "spectral.txt"), before);
}

}  // namespace
