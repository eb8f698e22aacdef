// quorvexctl as a shell user meets it: usage errors and their exit codes,
// --version and help, the ports from the environment, one JSON object per
// run (failures included), --quiet, scan, the batch mode on one set of
// connections, and plain ASCII outside a UTF-8 locale.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <fstream>

#include "CtlTest.h"
#include "PtyPort.h"
#include "Version.h"

using ctltest::QuorvexCtlTest;
using ctltest::Wire;
using testsupport::CChildProcess;
using testsupport::ProcessResult;
using namespace std::chrono_literals;

namespace {

// Sets (or with null removes) an environment variable for the children a
// test starts, and restores it after.
class CScopedVariable {
public:
    CScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~CScopedVariable() {
        if (m_old) setenv(m_name.c_str(), m_old->c_str(), 1);
        else unsetenv(m_name.c_str());
    }
    CScopedVariable(const CScopedVariable&) = delete;
    CScopedVariable& operator=(const CScopedVariable&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

long Count(const Wire& wire, const std::string& command) { return std::count(wire.begin(), wire.end(), command); }
long Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

TEST_F(QuorvexCtlTest, UsageErrorsExitTwoAndHelpAndVersionExitZero) {
    sim::CPtyPort high(sims.Xdg().PortsFolder(), 128);
    struct Case {
        std::vector<std::string> args;
        std::string said;  // in the one line on standard error
    };
    const Case refused[] = {
        {{}, "usage: quorvexctl"},
        {{"help", "frobnicate"}, "unknown subcommand \"frobnicate\""},
        {{"--json=no", "status"}, "--json takes no value"},
        {{"--quiet=1", "status"}, "--quiet takes no value"},
        {{"--keep-going", "status"}, "--keep-going applies to batch only"},
        // The transport opens COM1..COM127, so no option names COM128.
        {{"--head", "COM128", "home"}, "COM1 to COM127"},
        // The E3633A shows 11 characters; a longer text is refused, not sent.
        {{"--supply", "COM2", "display", "ABCDEFGHIJKL"}, "at most 11 characters"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.said);
        const ProcessResult result = Bare(c.args);
        EXPECT_EQ(result.code, 2) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(Lines(result.err), 1) << result.err;
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
    }
    EXPECT_EQ(testsupport::CSimulatedInstruments::Wire(sims.supply), Wire{});
    ProcessResult result = Bare({"--supply", "COM2", "display", "ABCDEFGHIJK"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_TRUE(sims.supply.WaitForCommand("DISP:TEXT \"ABCDEFGHIJK\"", testsupport::kLimit));

    // ports agrees with the options: COM128 is present but not listed.
    result = Bare({"ports"});
    EXPECT_EQ(result.code, 0);
    EXPECT_NE(result.out.find("COM3 "), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("COM128"), std::string::npos) << result.out;

    result = Bare({"--version"});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, "quorvexctl " + QString::fromStdWString(GetVersionString()).toStdString() + "\n");

    for (const std::vector<std::string>& args : {std::vector<std::string>{"help", "ramp"}, {"ramp", "--help"}}) {
        result = Bare(args);
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_NE(result.out.find("ramp down"), std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("calibration download"), std::string::npos) << "only the help of ramp";
    }
    result = Bare({"help"});
    EXPECT_EQ(result.code, 0);
    for (const char* name : {"scan", "batch", "QUORVEX_HEAD", "--quiet", "--version"})
        EXPECT_NE(result.out.find(name), std::string::npos) << name;
}

TEST_F(QuorvexCtlTest, PortsComeFromTheEnvironmentAndTheOptionsOverrideThem) {
    {
        const CScopedVariable head("QUORVEX_HEAD", "COM1");
        const ProcessResult result = Bare({"move", "1", "4"});
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(Settled(sims.head, {"I?", "S?", "P(1,4)", "P?"}), (Wire{"I?", "S?", "P(1,4)", "P?"}));
    }
    {
        // COM9 has nothing behind it; the option wins.
        const CScopedVariable head("QUORVEX_HEAD", "9");
        EXPECT_EQ(Bare({"home"}).code, 3);
        EXPECT_EQ(Bare({"home", "--head", "COM1"}).code, 0);
    }
    const CScopedVariable supply("QUORVEX_SUPPLY", "COM2");
    const CScopedVariable counter("QUORVEX_COUNTER", "com3");
    {
        const CScopedVariable head("QUORVEX_HEAD", "COM1");
        EXPECT_EQ(Bare({"identify"}).code, 0);
    }
    const CScopedVariable head("QUORVEX_HEAD", "COMX");
    const ProcessResult result = Bare({"identify"});
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("QUORVEX_HEAD"), std::string::npos) << result.err;
}

TEST_F(QuorvexCtlTest, UnderJsonEverySubcommandPrintsOneObjectFailuresIncluded) {
    std::ofstream(File("s.txt")) << "400.00,1.250E-03\n500.00,2.500E-03\n";
    const std::vector<std::vector<std::string>> succeeding = {
        {"ports"},
        {"display", "HELLO"},
        {"display", "--clear"},
        {"ramp", "up", "--seconds", "1", "--current", "2"},
        {"ramp", "down", "--seconds", "1"},
        {"calibration", "upload", "--spectral", File("s.txt")},
        {"calibration", "download", "--spectral", File("s2.txt")},
        {"calibration", "save"},
        {"help", "move"},
        {"--version"},
    };
    for (const auto& args : succeeding) {
        SCOPED_TRACE(args[0]);
        std::vector<std::string> json = args;
        json.push_back("--json");
        const ProcessResult result = Ctl(json);
        EXPECT_EQ(result.code, 0) << result.err;
        const QJsonDocument document = Json(result);
        EXPECT_TRUE(document.isObject());
        EXPECT_FALSE(document.object().contains("error"));
    }
    EXPECT_EQ(Json(Ctl({"ramp", "down", "--seconds", "1", "--json"})).object()["current"].toDouble(-1), 0.0);

    // A failure is its code and message, and nothing else, on standard
    // output, and its line on standard error.
    sims.head.InjectFault("T\\?", {sim::FaultKind::NoReply, 0, 0, -1});
    const struct {
        std::vector<std::string> args;
        int code;
    } failing[] = {{{"status", "--json", "--head", "COM1", "--supply", "COM2", "--counter", "COM3"}, 6},
                   {{"--json", "move", "3", "0"}, 2},
                   {{"--json", "--head", "COM99", "home"}, 3}};
    for (const auto& f : failing) {
        SCOPED_TRACE(f.code);
        const ProcessResult result = Bare(f.args);
        EXPECT_EQ(result.code, f.code);
        const QJsonObject document = Json(result).object();
        EXPECT_EQ(document.keys(), QStringList{"error"});
        const QJsonObject error = document["error"].toObject();
        EXPECT_EQ(error["code"].toInt(), f.code);
        EXPECT_FALSE(error["message"].toString().isEmpty());
        EXPECT_EQ(Lines(result.err), 1) << result.err;
    }
    {
        // With no port at all, scan fails, as one object too.
        const testsupport::CTempXdg empty;
        const ProcessResult result = Bare({"--json", "scan"});
        EXPECT_EQ(result.code, 3) << result.err;
        EXPECT_EQ(Json(result).object().keys(), QStringList{"error"}) << result.out;
    }
}

TEST_F(QuorvexCtlTest, QuietLeavesOutProgressAndInformationButNotFailures) {
    ProcessResult result = Ctl({"calibration", "download", "--csv", File("c.csv")});
    ASSERT_EQ(result.code, 0) << result.err;
    // The transfer's last step is labelled "Complete.", shown without its full stop.
    EXPECT_NE(result.err.find("Complete: 100 %\n"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(".:"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Wrote "), std::string::npos) << result.err;

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"calibration", "download", "--csv", File("c2.csv"), "--quiet"},
          {"-q", "ramp", "down", "--seconds", "1"}}) {
        result = Ctl(args);
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(result.err, "");
    }
    result = Ctl({"--quiet", "move", "3", "0"});
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(Lines(result.err), 1);
}

TEST_F(QuorvexCtlTest, ScanFindsEachSimulatedInstrumentOnItsPort) {
    const ProcessResult result = Bare({"scan", "--json"});
    ASSERT_EQ(result.code, 0) << result.err;
    const QJsonObject found = Json(result).object();
    EXPECT_EQ(found["head"].toString(), "COM1");
    EXPECT_EQ(found["supply"].toString(), "COM2");
    EXPECT_EQ(found["counter"].toString(), "COM3");
    // Every try let go of its port again.
    EXPECT_EQ(Bare({"--head", "COM1", "home"}).code, 0);
}

TEST_F(QuorvexCtlTest, BatchRunsEveryLineOnOneConnectionAndStopsAtTheFirstFailure) {
    // The README's loop: 36 moves, each followed by a status.
    std::string lines = "# the 36 apertures\n\n";
    for (int p = 0; p < 3; ++p)
        for (int s = 0; s < 12; ++s) lines += "move " + std::to_string(p) + " " + std::to_string(s) + "\nstatus\n";
    lines += "display 'DONE 36'";  // the last line may lack its end
    // The simulated wheels take their time: some 30 s for the 36 moves.
    ProcessResult result = testsupport::RunProcess(Argv({"--json", "batch"}), 240s, lines);
    ASSERT_EQ(result.code, 0) << result.err;
    const Wire head = testsupport::CSimulatedInstruments::Wire(sims.head);
    EXPECT_EQ(Count(head, "I?"), 1) << "one identification for the whole batch";
    EXPECT_EQ(Count(head, "P(2,11)"), 1);
    EXPECT_EQ(Count(head, "T?"), 36);
    EXPECT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    const Wire supply = testsupport::CSimulatedInstruments::Wire(sims.supply);
    EXPECT_EQ(Count(supply, "*IDN?"), 1);
    EXPECT_EQ(Count(supply, "DISP:TEXT \"DONE 36\""), 1);
    EXPECT_EQ(supply.back(), "SYST:LOC") << "disconnected at the end";
    // One object a line's result: 36 positions, 36 statuses and the display's.
    int objects = 0;
    for (std::size_t at = 0; (at = result.out.find("\n}", at)) != std::string::npos; ++at) ++objects;
    EXPECT_EQ(objects, 73) << result.out;

    // A failing line ends the batch with its code; the lines after it do not run.
    ClearWire();
    result = Ctl({"-"}, "move 1 1\nmove 3 0\nmove 2 2\n");
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("line 2: "), std::string::npos) << result.err;
    EXPECT_EQ(Count(testsupport::CSimulatedInstruments::Wire(sims.head), "P(2,2)"), 0);
    // --keep-going runs them and still exits with the first failure's code.
    result = Ctl({"--keep-going", "batch"}, "move 3 0\nmove 2 2\n--head COM1 home\n");
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(Count(testsupport::CSimulatedInstruments::Wire(sims.head), "P(2,2)"), 1);
    EXPECT_NE(result.err.find("line 3: --head is a global option"), std::string::npos) << result.err;
}

// A signal ends a batch as it ends a single command: at once while the
// batch waits for its next line, after a ramp-down that runs, and never by
// starting the line after it; the instruments are disconnected and the
// program dies of the signal.
TEST_F(QuorvexCtlTest, ASignalEndsABatchBetweenLinesAndAfterItsRampDown) {
    // Waiting for input on a pipe that stays open, with the supply connected.
    const std::filesystem::path fifo = File("lines");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // never blocks, keeps the pipe open
    ASSERT_GE(writer, 0);
    {
        CChildProcess child({"/bin/sh", "-c", "exec \"$0\" --supply COM2 batch < \"$1\"", QUORVEXCTL_PATH, fifo.string()});
        const std::string line = "display WAITING\n";
        ASSERT_EQ(write(writer, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        ASSERT_TRUE(sims.supply.WaitForCommand("DISP:TEXT \"WAITING\"", testsupport::kLimit));
        child.Signal(SIGINT);
        ASSERT_TRUE(child.Wait()) << child.Err();
        EXPECT_EQ(child.KilledBy(), SIGINT) << child.Err();
        EXPECT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit)) << "the front panel is unlocked";
    }
    close(writer);

    // A ramp-down runs to its end; the line after it is not started.
    ASSERT_EQ(Ctl({"ramp", "up", "--seconds", "1"}).code, 0);
    ASSERT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    ClearWire();
    CChildProcess child(Argv({"batch"}), std::string("ramp down --seconds 2\nmove 1 1\n"));
    ASSERT_TRUE(sims.supply.WaitForCommand("CURR 7\\.500", testsupport::kLimit));
    child.Signal(SIGTERM);
    ASSERT_TRUE(child.Wait()) << child.Err();
    EXPECT_EQ(child.KilledBy(), SIGTERM) << child.Err();
    ASSERT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    const Wire supply = testsupport::CSimulatedInstruments::Wire(sims.supply);
    ASSERT_GE(supply.size(), 3u);
    EXPECT_EQ(Wire(supply.end() - 3, supply.end()), (Wire{"CURR 0.000", "VOLT 0.000", "SYST:LOC"}));
    EXPECT_EQ(sims.supply.State().CurrentSetPoint(), 0.0);
    EXPECT_NE(child.Err().find("the batch stopped after line 1"), std::string::npos) << child.Err();
    EXPECT_EQ(child.Err().find("line 2"), std::string::npos) << "the move was not started: " << child.Err();
    EXPECT_EQ(testsupport::CSimulatedInstruments::Wire(sims.head), Wire{});
}

TEST_F(QuorvexCtlTest, OutsideAUtf8LocaleTheTextIsPlainAscii) {
    auto ascii = [](const std::string& text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    {
        const CScopedVariable all("LC_ALL", "C");
        const ProcessResult ports = Bare({"ports"});
        EXPECT_TRUE(ascii(ports.out)) << ports.out;
        EXPECT_NE(ports.out.find("COM1 - "), std::string::npos) << ports.out;
        const ProcessResult status = Ctl({"status"});
        EXPECT_TRUE(ascii(status.out)) << status.out;
        EXPECT_NE(status.out.find(" degC\n"), std::string::npos) << status.out;
    }
    const CScopedVariable all("LC_ALL", "C.UTF-8");
    EXPECT_NE(Ctl({"status"}).out.find(" \u00B0C\n"), std::string::npos);
    EXPECT_NE(Bare({"ports"}).out.find("COM1 \u2014 "), std::string::npos);
}

}  // namespace
