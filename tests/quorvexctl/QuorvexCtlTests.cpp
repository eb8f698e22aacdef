// quorvexctl run as a program against the simulated instruments over
// pseudo-terminals: the bytes each subcommand puts on the wire, its JSON,
// its exit codes, Ctrl-C during a ramp, and a calibration round trip.
#include <gtest/gtest.h>

#include <QuorvexDll/QuorvexDll.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <fstream>

#include "CtlTest.h"
#include "PtyPort.h"

using ctltest::QuorvexCtlTest;
using ctltest::Wire;
using testsupport::CChildProcess;
using testsupport::ProcessResult;

namespace {

bool EndsWith(const Wire& wire, const Wire& tail) {
    return wire.size() >= tail.size() && std::equal(tail.begin(), tail.end(), wire.end() - static_cast<long>(tail.size()));
}
bool StartsWith(const Wire& wire, const Wire& head) {
    return wire.size() >= head.size() && std::equal(head.begin(), head.end(), wire.begin());
}

const Wire kSupplyOpen = {"*IDN?", "SYST:RWL"};

TEST_F(QuorvexCtlTest, EachSubcommandSendsExactlyItsCommandsAndDisconnects) {
    struct Case {
        std::vector<std::string> args;
        Wire head, supply, counter;
    };
    const Case cases[] = {
        {{"identify"}, {"I?", "S?"}, {"*IDN?", "SYST:RWL", "SYST:LOC"}, {"I?"}},
        {{"status"}, {"I?", "S?", "T?", "P?"}, {"*IDN?", "SYST:RWL", "MEAS:CURR?", "MEAS:VOLT?", "SYST:LOC"}, {"I?", "T?", "P?"}},
        {{"move", "2", "7"}, {"I?", "S?", "P(2,7)", "P?"}, {}, {}},
        {{"home"}, {"I?", "S?", "H!", "P?"}, {}, {}},
        {{"display", "AB 12"}, {}, {"*IDN?", "SYST:RWL", "DISP:TEXT \"AB 12\"", "SYST:LOC"}, {}},
        {{"display", "--clear"}, {}, {"*IDN?", "SYST:RWL", "DISP:TEXT:CLE", "SYST:LOC"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        ClearWire();
        const ProcessResult result = Ctl(c.args);
        EXPECT_EQ(result.code, 0) << result.err;
        // The last commands may still be on their way from the pty when the program has ended.
        sims.head.WaitForCount(c.head.size(), testsupport::kLimit);
        sims.supply.WaitForCount(c.supply.size(), testsupport::kLimit);
        sims.counter.WaitForCount(c.counter.size(), testsupport::kLimit);
        EXPECT_EQ(testsupport::CSimulatedInstruments::Wire(sims.head), c.head);
        EXPECT_EQ(testsupport::CSimulatedInstruments::Wire(sims.supply), c.supply);
        EXPECT_EQ(testsupport::CSimulatedInstruments::Wire(sims.counter), c.counter);
    }

    // A ramp-up with its target overridden: the refusal's look at the lamp,
    // limits first, then the ramp (whose own look finds the lamp dark) to
    // the given current and voltage; the front panel is unlocked at the end.
    ClearWire();
    ProcessResult result = Ctl({"ramp", "up", "--seconds", "1", "--current", "5", "--voltage", "12"});
    EXPECT_EQ(result.code, 0) << result.err;
    // The unlock may still be on its way from the pty when the program has ended.
    ASSERT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    Wire supply = testsupport::CSimulatedInstruments::Wire(sims.supply);
    EXPECT_TRUE(StartsWith(supply, {"*IDN?", "SYST:RWL", "CURR?", "VOLT:PROT 15.000", "CURR:PROT 8.500", "CURR?",
                                    "VOLT 12.000", "CURR 0.000", "OUTP ON"}));
    EXPECT_TRUE(EndsWith(supply, {"CURR 5.000", "SYST:LOC"}));
    EXPECT_EQ(supply.size(), 2u + 1u + 6u + 50u + 1u);
    // Progress goes to standard error as plain lines when it is not a terminal.
    EXPECT_NE(result.err.find("Ramping the lamp up: 50 %\n"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Ramping the lamp up: 100 %\n"), std::string::npos);

    ClearWire();
    result = Ctl({"ramp", "down", "--seconds", "1"});
    EXPECT_EQ(result.code, 0) << result.err;
    ASSERT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    supply = testsupport::CSimulatedInstruments::Wire(sims.supply);
    EXPECT_TRUE(StartsWith(supply, {"*IDN?", "SYST:RWL", "CURR?", "VOLT?", "CURR 4.750", "VOLT 11.400"}));
    EXPECT_TRUE(EndsWith(supply, {"CURR 0.000", "VOLT 0.000", "SYST:LOC"}));
    EXPECT_EQ(sims.supply.State().CurrentSetPoint(), 0.0);
}

TEST_F(QuorvexCtlTest, JsonOutputParsesBackToTheInstrumentsValues) {
    sims.head.SetTemperatures(31.5, 32.25, 40.75, 29.0);
    QJsonObject status = Json(Ctl({"status", "--json"})).object();
    const QJsonObject t = status["temperatures"].toObject();
    EXPECT_EQ(t["primaryMotor"].toDouble(), 31.5);
    EXPECT_EQ(t["secondaryMotor"].toDouble(), 32.25);
    EXPECT_EQ(t["bulbEnclosure"].toDouble(), 40.75);
    EXPECT_EQ(t["motorEnclosure"].toDouble(), 29.0);
    EXPECT_EQ(status["current"].toDouble(-1), 0.0);
    EXPECT_EQ(status["powerCycles"].toInt(-1), 0);
    EXPECT_TRUE(status["position"].isObject());

    const QJsonObject moved = Json(Ctl({"move", "1", "11", "--json"})).object();
    EXPECT_EQ(moved["primary"].toInt(), 1);
    EXPECT_EQ(moved["secondary"].toInt(), 11);

    const QJsonObject ids = Json(Ctl({"identify", "--json"})).object();
    EXPECT_EQ(ids["head"].toObject()["serialNumber"].toString(), "10427");
    EXPECT_EQ(ids["head"].toObject()["model"].toString(), "QUORVEX");
    EXPECT_EQ(ids["supply"].toObject()["model"].toString(), "E3633A");
    EXPECT_FALSE(ids["counter"].toObject()["response"].toString().isEmpty());

    const QJsonArray ports = Json(testsupport::RunProcess({QUORVEXCTL_PATH, "ports", "--json"})).object()["ports"].toArray();
    int simulated = 0;
    for (const QJsonValue& port : ports) {
        const QJsonObject p = port.toObject();
        if (p["number"].toInt() < 1 || p["number"].toInt() > 3) continue;
        ++simulated;
        EXPECT_EQ(p["state"].toString(), "free");
        EXPECT_TRUE(p["text"].toString().startsWith(p["port"].toString() + QString::fromUtf8(" \u2014 ")));
    }
    EXPECT_EQ(simulated, 3);
}

TEST_F(QuorvexCtlTest, EachFailureHasItsExitCodeAndOneLineOnStandardError) {
    sim::CPtyPort silent(sims.Xdg().PortsFolder(), 9);
    // The test holds the head's port the way the control panel would.
    void* held = nullptr;
    struct Case {
        std::vector<std::string> args;
        int code;
        std::function<void()> arrange;
    };
    const Case cases[] = {
        {{"move", "3", "0"}, 2, {}},
        {{"ramp", "up", "--current", "9"}, 2, {}},
        {{"ramp", "up", "--seconds", "0"}, 2, {}},
        {{"display", "say \"hi\""}, 2, {}},
        {{"frobnicate"}, 2, {}},
        {{"calibration", "upload", "--aperture", "/nonexistent/aperture.txt"}, 2, {}},
        {{"status", "--head", "COM99"}, 3, {}},
        // A port with nothing behind it.
        {{"home", "--head", "COM9"}, 3, {}},
        {{"home"}, 5, [&] { ASSERT_EQ(Quorvex_Connect(1, 9600, 0, 8, 0, 0, &held, 1, nullptr), QuorvexSuccess); }},
        {{"status"}, 6, [&] {
             Quorvex_Disconnect(&held, 1, nullptr);
             sims.head.InjectFault("T\\?", {sim::FaultKind::NoReply, 0, 0, -1});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " -> " + std::to_string(c.code));
        if (c.arrange) c.arrange();
        std::vector<std::string> argv = Argv(c.args);
        // Options given twice: the last wins, as with --head COM99 here.
        std::rotate(argv.begin() + 1, argv.begin() + 1 + static_cast<long>(c.args.size()), argv.end());
        const ProcessResult result = testsupport::RunProcess(argv);
        EXPECT_EQ(result.code, c.code) << result.err;
        EXPECT_EQ(result.err.rfind("quorvexctl: ", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    // The status that timed out still printed what it could read.
    const ProcessResult partial = Ctl({"status"});
    EXPECT_NE(partial.out.find("Lamp current:       0.000 A"), std::string::npos) << partial.out;
    EXPECT_NE(partial.out.find("Bulb enclosure:     -"), std::string::npos) << partial.out;
}

TEST_F(QuorvexCtlTest, LogGoesToTheFileAtTheChosenCeiling) {
    // "Normal" holds the failures only; -vv adds the debug entries, which
    // name every instrument's commands.
    sims.head.InjectFault("T\\?", {sim::FaultKind::NoReply, 0, 0, -1});
    ProcessResult result = Ctl({"status", "--log", File("normal.log")});
    EXPECT_EQ(result.code, 6);
    const std::string normal = testsupport::ReadFile(File("normal.log"));
    EXPECT_NE(normal.find("; Error]: CQuorvex (0x"), std::string::npos) << normal;
    EXPECT_EQ(normal.find("; Debug]"), std::string::npos);
    EXPECT_EQ(result.err.find("; Error]"), std::string::npos) << "the log is copied to standard error only with -v";

    result = Ctl({"identify", "-vv", "--log", File("debug.log")});
    EXPECT_EQ(result.code, 0);
    const std::string debug = testsupport::ReadFile(File("debug.log"));
    for (const char* device : {"CQuorvex (0x", "CAgilentE3633A (0x", "CElapsedTimeCounter (0x"})
        EXPECT_NE(debug.find(device), std::string::npos) << device;
    EXPECT_NE(result.err.find("; Debug]"), std::string::npos);
}

TEST_F(QuorvexCtlTest, NoPermissionOnThePortIsReportedAsSuch) {
    if (geteuid() == 0) GTEST_SKIP() << "root opens any port, so a port closed to this user cannot be made";
    const std::filesystem::path device = std::filesystem::canonical(sims.Xdg().PortsFolder() / "COM1");
    std::filesystem::permissions(device, std::filesystem::perms::none);
    const ProcessResult result = Ctl({"home"});
    std::filesystem::permissions(device, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(result.code, 4) << result.err;
    EXPECT_NE(result.err.find("dialout"), std::string::npos);
}

TEST_F(QuorvexCtlTest, CalibrationRoundTripThroughFilesAndTheControlPanelsCopy) {
    // Written as the download writes them, so the files must come back byte for byte.
    const std::string spectral = "400.00,1.250E-03\n500.00,2.500E-03\n600.00,3.125E-03";
    std::string aperture = "12,3";
    for (int row = 0; row < 12; ++row) {
        char line[64];
        std::snprintf(line, sizeof line, "\n%.3E,%.3E,%.3E", 100.0 - row, 10.0 + row / 8.0, 1.0 + row / 64.0);
        aperture += line;
    }
    std::ofstream(File("a1.txt")) << aperture;
    std::ofstream(File("s1.txt")) << spectral;

    ProcessResult result = Ctl({"calibration", "upload", "--aperture", File("a1.txt"), "--spectral", File("s1.txt")});
    ASSERT_EQ(result.code, 0) << result.err;
    ASSERT_EQ(sims.head.SpectralData().size(), 3u);
    EXPECT_EQ(sims.head.SpectralData()[2].second, 3.125e-3);

    result = Ctl({"calibration", "download", "--aperture", File("a2.txt"), "--spectral", File("s2.txt"), "--csv",
                  File("c2.csv")});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(testsupport::ReadFile(File("a2.txt")), aperture);
    EXPECT_EQ(testsupport::ReadFile(File("s2.txt")), spectral);
    EXPECT_NE(testsupport::ReadFile(File("c2.csv")).find("10427"), std::string::npos);

    ASSERT_EQ(Ctl({"calibration", "save"}).code, 0);
    const std::string ini = testsupport::ReadFile(sims.Xdg().DataHome() / "Vandrel Scientific Ltd" /
                                                  "Quorvex Control Panel" / "Calibration.ini");
    EXPECT_NE(ini.find("10427"), std::string::npos) << ini;
}

// Waits out part of a 20 s ramp-up and the 5 s ramp-down that follows. A
// second Ctrl-C does not cut the ramp-down short; the program dies of the
// signal only once the lamp is down.
TEST_F(QuorvexCtlTest, SlowCtrlCDuringRampUpRampsTheLampDownAndUnlocksTheSupply) {
    CChildProcess child(Argv({"ramp", "up", "--seconds", "20"}));
    ASSERT_TRUE(sims.supply.WaitForCommand("CURR 2\\..*", testsupport::kLimit));
    child.Signal(SIGINT);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return child.Err().find("ramping the lamp back down") != std::string::npos; }));
    child.Signal(SIGINT);
    ASSERT_TRUE(child.Wait(std::chrono::seconds(30))) << child.Err();
    EXPECT_EQ(child.KilledBy(), SIGINT) << child.Err();
    EXPECT_NE(child.Err().find("ramped back down"), std::string::npos) << child.Err();

    ASSERT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    const Wire supply = testsupport::CSimulatedInstruments::Wire(sims.supply);
    // The ramp-down's set-point query is the last "CURR?" on the wire.
    const auto down = std::find(supply.rbegin(), supply.rend(), "CURR?").base();
    ASSERT_NE(down, supply.begin());
    EXPECT_EQ(std::count_if(down, supply.end(), [](const std::string& c) { return c.rfind("CURR ", 0) == 0; }), 20);
    EXPECT_TRUE(EndsWith(supply, {"CURR 0.000", "VOLT 0.000", "SYST:LOC"}));
    EXPECT_EQ(sims.supply.State().CurrentSetPoint(), 0.0);
}

TEST_F(QuorvexCtlTest, CtrlCDuringAnUploadAbortsItAndDisconnects) {
    std::ofstream(File("big.txt")) << [] {
        std::string text;
        for (int nm = 300; nm < 1300; ++nm) text += std::to_string(nm) + ",1.0E-03\n";
        return text;
    }();
    CChildProcess child(Argv({"calibration", "upload", "--spectral", File("big.txt")}));
    ASSERT_TRUE(sims.head.WaitForCount(20, testsupport::kLimit));
    child.Signal(SIGINT);
    ASSERT_TRUE(child.Wait()) << child.Err();
    EXPECT_EQ(child.KilledBy(), SIGINT) << child.Err();
    // The port was let go: the next command connects at once.
    EXPECT_EQ(Ctl({"home"}).code, 0);
}

// Run twice, as a script re-run after a failure would: the second ramp-up
// would step the lit lamp down to 0 A. It is refused, and only looked at.
TEST_F(QuorvexCtlTest, RampUpIsRefusedWhileTheLampIsRampedUp) {
    ASSERT_EQ(Ctl({"ramp", "up", "--seconds", "1"}).code, 0);
    ASSERT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    ClearWire();
    const ProcessResult again = Ctl({"ramp", "up", "--seconds", "1"});
    EXPECT_EQ(again.code, 1) << again.err;
    EXPECT_NE(again.err.find("already ramped up"), std::string::npos) << again.err;
    EXPECT_EQ(std::count(again.err.begin(), again.err.end(), '\n'), 1) << again.err;
    ASSERT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    EXPECT_EQ(testsupport::CSimulatedInstruments::Wire(sims.supply),
              (Wire{"*IDN?", "SYST:RWL", "CURR?", "OUTP?", "SYST:LOC"}));
    EXPECT_EQ(sims.supply.State().CurrentSetPoint(), 8.333);

    // Ramped down (the output stays on at 0 A), it may go up again.
    ASSERT_EQ(Ctl({"ramp", "down", "--seconds", "1"}).code, 0);
    EXPECT_EQ(Ctl({"ramp", "up", "--seconds", "1"}).code, 0);
    EXPECT_EQ(sims.supply.State().CurrentSetPoint(), 8.333);
}

// A script that retries on a time-out must not retry a mechanical fault.
TEST_F(QuorvexCtlTest, AHeadThatRefusesIsToldFromOneThatIsSilent) {
    sims.head.OverrideReply(R"(P\(.*\))", "-13");
    const ProcessResult refused = Ctl({"move", "1", "1"});
    EXPECT_EQ(refused.code, 1) << refused.err;
    EXPECT_NE(refused.err.find("Primary Moving Error"), std::string::npos) << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    sims.head.OverrideReply("H!", "-9");
    const ProcessResult home = Ctl({"home"});
    EXPECT_EQ(home.code, 1) << home.err;
    EXPECT_NE(home.err.find("Primary Homing Error"), std::string::npos) << home.err;

    sims.head.ClearOverrides();
    sims.head.InjectFault(R"(P\(.*\))", {sim::FaultKind::NoReply, 0, 0, 1});
    const ProcessResult silent = Ctl({"move", "1", "1"});
    EXPECT_EQ(silent.code, 6) << silent.err;
    EXPECT_NE(silent.err.find("did not answer"), std::string::npos) << silent.err;
}

// A signal ends any wait at once; the program disconnects (unlocking the
// supply) and then dies of that signal, so that a calling shell loop stops.
TEST_F(QuorvexCtlTest, ASignalEndsEveryWaitAndTheProgramDiesOfIt) {
    // A move whose completion never comes would wait 20 s for it.
    sims.head.SetNotifying(false);
    {
        CChildProcess move(Argv({"move", "1", "1"}));
        ASSERT_TRUE(sims.head.WaitForCommand(R"(P\(1,1\))", testsupport::kLimit));
        move.Signal(SIGINT);
        ASSERT_TRUE(move.Wait()) << "the move's wait went on";
        EXPECT_EQ(move.KilledBy(), SIGINT) << move.Err();
        EXPECT_NE(move.Err().find("interrupted"), std::string::npos) << move.Err();
    }
    // A reading the head never answers.
    sims.head.InjectFault("T\\?", {sim::FaultKind::NoReply, 0, 0, -1});
    ClearWire();
    {
        CChildProcess status(Argv({"status"}));
        ASSERT_TRUE(sims.head.WaitForCommand("T\\?", testsupport::kLimit));
        status.Signal(SIGTERM);
        ASSERT_TRUE(status.Wait());
        EXPECT_EQ(status.KilledBy(), SIGTERM) << status.Err();
        ASSERT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    }
    // A supply slow to say who it is: identify once exited 0 when it did.
    sims.head.ClearFaults();
    sims.supply.InjectFault("\\*IDN\\?", {sim::FaultKind::Late, 800, 0, 1});
    ClearWire();
    {
        CChildProcess identify(Argv({"identify"}));
        ASSERT_TRUE(sims.supply.WaitForCommand("\\*IDN\\?", testsupport::kLimit));
        identify.Signal(SIGINT);
        ASSERT_TRUE(identify.Wait());
        EXPECT_EQ(identify.KilledBy(), SIGINT) << identify.Err();
        EXPECT_TRUE(identify.Out().empty()) << identify.Out();
    }
}

// SIGTERM and SIGHUP (an ssh session that drops) during a ramp-down: the
// lamp still goes all the way down, then the program dies of the signal.
TEST_F(QuorvexCtlTest, SignalsWaitForTheRampDownToEnd) {
    ASSERT_EQ(Ctl({"ramp", "up", "--seconds", "1"}).code, 0);
    ASSERT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    ClearWire();
    CChildProcess child(Argv({"ramp", "down", "--seconds", "2"}));
    ASSERT_TRUE(sims.supply.WaitForCommand("CURR 7\\.500", testsupport::kLimit));
    child.Signal(SIGTERM);
    ASSERT_TRUE(sims.supply.WaitForCommand("CURR 5\\.000", testsupport::kLimit));
    child.Signal(SIGHUP);
    ASSERT_TRUE(child.Wait()) << child.Err();
    EXPECT_TRUE(child.KilledBy() == SIGTERM || child.KilledBy() == SIGHUP) << child.KilledBy() << child.Err();

    ASSERT_TRUE(sims.supply.WaitForCommand("SYST:LOC", testsupport::kLimit));
    const Wire supply = testsupport::CSimulatedInstruments::Wire(sims.supply);
    EXPECT_EQ(std::count_if(supply.begin(), supply.end(), [](const std::string& c) { return c.rfind("CURR ", 0) == 0; }),
              20);
    EXPECT_TRUE(EndsWith(supply, {"CURR 0.000", "VOLT 0.000", "SYST:LOC"}));
    EXPECT_EQ(sims.supply.State().CurrentSetPoint(), 0.0);
}

// Every file is read and checked before anything goes to the head, and a
// bad one is named with its bad line.
TEST_F(QuorvexCtlTest, UploadFilesAreCheckedBeforeAnythingIsSent) {
    std::string aperture = "12,3";
    for (int row = 0; row < 12; ++row) aperture += "\n1.000E+00,2.000E+00,3.000E+00";
    std::ofstream(File("good.txt")) << aperture;
    std::ofstream(File("bad.txt")) << "400.00,1.250E-03\nfour hundred and ten\n";
    std::ofstream(File("empty.txt")) << "";
    const std::vector<double> factory =
        sim::CHeadSimulator::ToColumnOrder(sim::CHeadSimulator::FactoryApertureRows());
    ClearWire();
    for (const char* spectral : {"bad.txt", "empty.txt"}) {
        SCOPED_TRACE(spectral);
        const ProcessResult result =
            Ctl({"calibration", "upload", "--aperture", File("good.txt"), "--spectral", File(spectral)});
        EXPECT_EQ(result.code, 2) << result.err;
        EXPECT_NE(result.err.find(File(spectral).string()), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    const ProcessResult bad = Ctl({"calibration", "upload", "--spectral", File("bad.txt")});
    EXPECT_NE(bad.err.find("four hundred and ten"), std::string::npos) << bad.err;
    EXPECT_TRUE(testsupport::CSimulatedInstruments::Wire(sims.head).empty());
    EXPECT_EQ(sims.head.ApertureFactors(), factory);
}

// One rule for every output of a download, checked before the download:
// an existing file is refused unless --force.
TEST_F(QuorvexCtlTest, DownloadOutputsAreCheckedFirstAndOverwrittenOnlyWithForce) {
    for (const char* existing : {"s.txt", "a.txt", "c.csv"}) {
        SCOPED_TRACE(existing);
        std::filesystem::remove_all(sims.Xdg().Root() / "out");
        std::filesystem::create_directory(sims.Xdg().Root() / "out");
        auto out = [&](const char* name) { return (sims.Xdg().Root() / "out" / name).string(); };
        std::ofstream(out(existing)) << "keep";
        ClearWire();
        const ProcessResult refused = Ctl({"calibration", "download", "--csv", out("c.csv"), "--aperture",
                                           out("a.txt"), "--spectral", out("s.txt")});
        EXPECT_EQ(refused.code, 2) << refused.err;
        EXPECT_NE(refused.err.find(out(existing)), std::string::npos) << refused.err;
        EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
        EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
        EXPECT_TRUE(testsupport::CSimulatedInstruments::Wire(sims.head).empty());
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sims.Xdg().Root() / "out"),
                                std::filesystem::directory_iterator()),
                  1);
        EXPECT_EQ(testsupport::ReadFile(out(existing)), "keep");

        const ProcessResult forced = Ctl({"calibration", "download", "--csv", out("c.csv"), "--aperture",
                                          out("a.txt"), "--spectral", out("s.txt"), "--force"});
        EXPECT_EQ(forced.code, 0) << forced.err;
        EXPECT_EQ(testsupport::ReadFile(out("s.txt")).rfind("350.00,", 0), 0u);
        EXPECT_EQ(testsupport::ReadFile(out("a.txt")).rfind("12,3\n", 0), 0u);
        EXPECT_NE(testsupport::ReadFile(out("c.csv")).find("10427"), std::string::npos);
    }
    const ProcessResult nowhere =
        Ctl({"calibration", "download", "--csv", (sims.Xdg().Root() / "missing" / "c.csv").string()});
    EXPECT_EQ(nowhere.code, 2) << nowhere.err;
}

// Results that never reached their reader are a failure, and a log that
// cannot be written is refused before anything connects.
TEST_F(QuorvexCtlTest, OutputThatCannotBeWrittenIsAFailure) {
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    CChildProcess toFull(Argv({"status", "--json"}), {}, full);
    close(full);
    ASSERT_EQ(toFull.Wait(), std::optional<int>(1)) << toFull.Err();
    EXPECT_NE(toFull.Err().find("standard output"), std::string::npos) << toFull.Err();

    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    close(pipeFds[0]);  // nobody reads
    CChildProcess toClosedPipe(Argv({"identify", "--json"}), {}, pipeFds[1]);
    close(pipeFds[1]);
    ASSERT_EQ(toClosedPipe.Wait(), std::optional<int>(1)) << toClosedPipe.Err();
    EXPECT_EQ(toClosedPipe.KilledBy(), 0);
    EXPECT_NE(toClosedPipe.Err().find("standard output"), std::string::npos) << toClosedPipe.Err();

    ClearWire();
    for (const std::filesystem::path& log : {sims.Xdg().Root(), sims.Xdg().Root() / "missing" / "x.log"}) {
        SCOPED_TRACE(log);
        const ProcessResult result = Ctl({"status", "--log", log});
        EXPECT_EQ(result.code, 2) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    EXPECT_TRUE(testsupport::CSimulatedInstruments::Wire(sims.head).empty());
}

}  // namespace
