// quorvexd run as a program against the simulated instruments on
// pseudo-terminals, with real TCP clients: what each command puts on the
// wire and answers, the error codes, many clients at once, the control
// lock, the allow list and the client cap, an instrument that vanishes and
// returns, and SIGTERM while the lamp is lit.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <regex>
#include <thread>

#include "ChildProcess.h"
#include "HeadSimulator.h"
#include "LampBus.h"
#include "PsuSimulator.h"
#include "ScpiClient.h"
#include "TallySimulator.h"
#include "TestSupport.h"

using testsupport::CScpiClient;
using testsupport::kLimit;
using Wire = std::vector<std::string>;
using namespace std::chrono_literals;

namespace {

Wire Received(const sim::CSimDevice& device) {
    Wire texts;
    for (const auto& command : device.Received()) texts.push_back(command.text);
    return texts;
}

bool Contains(const Wire& wire, const std::string& command) {
    return std::find(wire.begin(), wire.end(), command) != wire.end();
}

std::vector<double> Numbers(const std::string& text) {
    std::vector<double> numbers;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        numbers.push_back(std::stod(text.substr(start, comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return numbers;
}

class DaemonTest : public ::testing::Test {
protected:
    DaemonTest()
        : head(xdg.PortsFolder(), 1, &lamp), supply(xdg.PortsFolder(), 2, &lamp) {
        head.Start();
        supply.Start();
        StartCounter();
    }
    ~DaemonTest() override {
        if (!daemon) return;
        daemon->Signal(SIGKILL);
        daemon->Wait();
        // What the daemon said (a sanitizer's report among it) explains a failure.
        if (HasFailure()) std::fprintf(stderr, "quorvexd's standard error:\n%s\n", daemon->Err().c_str());
    }

    void StartCounter() {
        counter.emplace(xdg.PortsFolder(), 3, &lamp);
        counter->Start();
    }

    // Starts quorvexd on a port of the system's choosing and waits until it
    // has connected all three instruments and holds the head's calibration.
    void StartDaemon(std::vector<std::string> extra = {}, bool waitForInstruments = true) {
        std::vector<std::string> argv = {QUORVEXD_PATH, "--listen", "127.0.0.1:0", "--head", "COM1", "--supply",
                                         "COM2", "--counter", "COM3", "--log", (xdg.Root() / "quorvexd.log").string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        daemon.emplace(argv);
        const std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
        std::smatch match;
        std::string out;
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            out = daemon->Out();
            return std::regex_search(out, match, listening);
        })) << daemon->Err();
        port = std::stoi(match[1]);
        if (!waitForInstruments) return;
        // Generous: a loaded machine (or a sanitizer build) may need a retry
        // of a connect that timed out.
        CScpiClient probe(port);
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            return probe.Query("SYST:CONN?") == "1,1,1" && probe.Query("CAL:SER?") == "10427";
        }, 60s)) << daemon->Err();
    }

    std::string Log() const { return testsupport::ReadFile(xdg.Root() / "quorvexd.log"); }

    testsupport::CTempXdg xdg;
    sim::CLampBus lamp;
    sim::CHeadSimulator head;
    sim::CPsuSimulator supply;
    std::optional<sim::CTallySimulator> counter;
    std::optional<testsupport::CChildProcess> daemon;
    int port = 0;
};

TEST_F(DaemonTest, QueriesAnswerFromTheInstrumentsAndTheCalibration) {
    head.SetTemperatures(31.5, 32.25, 40.75, 29.0);
    ASSERT_NO_FATAL_FAILURE(StartDaemon());
    CScpiClient client(port);
    EXPECT_EQ(client.Query("*IDN?"), "Vandrel Scientific Ltd,Quorvex Light Source,10427,1.0.0.1");
    EXPECT_EQ(client.Query("SYST:VERS?"), "1999.0");
    // All four in the head's own order (motor, bulb, primary, secondary),
    // one by name in short or long form.
    EXPECT_EQ(client.Query("MEAS:TEMP?"), "29.00,40.75,31.50,32.25");
    EXPECT_EQ(client.Query("measure:temperature? bulb;MEAS:TEMP? MOT;MEAS:TEMP? PRIMARY;:MEAS:TEMP? sec"),
              "40.75;29.00;31.50;32.25");
    EXPECT_EQ(client.Query("MEAS:CURR?;MEAS:VOLT?"), "0.000000E+00;0.000000E+00");
    EXPECT_EQ(client.Query("MEAS:CYCL?"), "0");
    EXPECT_EQ(client.Query("MEAS:HOUR?"), "0.0000");
    EXPECT_EQ(client.Query("OUTP?;OUTP:RAMP:PROG?"), "0;0");

    // The calibration as downloaded at connect, and saved where the panel reads it.
    const std::vector<double> spectral = Numbers(client.Query("CAL:SPEC?"));
    const std::vector<double> aperture = Numbers(client.Query("CAL:APER?"));
    ASSERT_GE(spectral.size(), 4u);
    ASSERT_EQ(aperture.size(), 36u * 3u);
    EXPECT_TRUE(std::filesystem::exists(xdg.DataHome() / "Vandrel Scientific Ltd" / "Quorvex Control Panel" /
                                        "Calibration.ini"));

    // A move returns at once; *OPC? waits for it.
    head.ClearReceived();
    EXPECT_TRUE(client.Send("SOUR:APER 2,7"));
    EXPECT_EQ(client.Query("*OPC?"), "1");
    EXPECT_EQ(client.Query("SOUR:APER?"), "2,7");
    EXPECT_TRUE(Contains(Received(head), "P(2,7)"));
    double factor = -1;
    for (std::size_t i = 0; i + 2 < aperture.size(); i += 3)
        if (aperture[i] == 2 && aperture[i + 1] == 7) factor = aperture[i + 2];
    ASSERT_GT(factor, 0);
    EXPECT_NEAR(std::stod(client.Query("SOUR:APER:FACT?")), factor, factor * 1e-6);

    // At a table wavelength exactly the table's radiance, between two the
    // log-linear blend, both scaled by the position's factor.
    const double w0 = spectral[0], r0 = spectral[1], w1 = spectral[2], r1 = spectral[3];
    EXPECT_NEAR(std::stod(client.Query("SOUR:RAD? " + std::to_string(w0))), r0 * factor / 100, r0 * factor * 1e-8);
    const double between = std::exp((std::log(r0) + std::log(r1)) / 2) * factor / 100;
    EXPECT_NEAR(std::stod(client.Query("SOUR:RAD? " + std::to_string((w0 + w1) / 2))), between, between * 1e-5);
    EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");

    // Display text and clear go to the supply as they are.
    supply.ClearReceived();
    EXPECT_TRUE(client.Send("DISP:TEXT \"HELLO 1\";DISP:TEXT:CLE"));
    EXPECT_EQ(client.Query("*OPC?"), "1");
    ASSERT_TRUE(supply.WaitForCommand("DISP:TEXT:CLE", kLimit));
    EXPECT_TRUE(Contains(Received(supply), "DISP:TEXT \"HELLO 1\""));
    EXPECT_NE(Log().find("DISP:TEXT \"HELLO 1\""), std::string::npos);
}

TEST_F(DaemonTest, EveryErrorCodeAndGarbageThatHarmsNoOtherClient) {
    ASSERT_NO_FATAL_FAILURE(StartDaemon());
    CScpiClient client(port);
    CScpiClient other(port);
    const struct {
        const char* line;
        const char* error;
    } cases[] = {
        {"*IDN?\x01\x02", "-100,"},
        {"SOUR::APER?", "-102,"},
        {"*IDN? 5", "-108,"},
        {"SOUR:APER 1", "-109,"},
        {"SOUR:APERX?", "-113,"},
        {"SOUR:APER 3,0", "-222,"},
        {"SOUR:APER 1,12", "-222,"},
        {"SOUR:APER one,1", "-224,"},
        {"SOUR:APER 1.5,1", "-224,"},
        {"SOUR:RAD? 5000", "-222,"},
        {"SOUR:RAD? green", "-224,"},
        {"OUTP MAYBE", "-224,"},
        {"MEAS:TEMP? LAMP", "-224,"},
        {"DISP:TEXT \"say \"\"hi\"\"\"", "-224,"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_TRUE(client.Send(c.line));
        EXPECT_EQ(client.Query("SYST:ERR?").rfind(c.error, 0), 0u);
        EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
    }

    // Over 4 KiB: -363 and the line dropped; the connection goes on.
    EXPECT_TRUE(client.Send("SOUR:APER 1,1;" + std::string(5000, 'A')));
    EXPECT_EQ(client.Query("SYST:ERR?").rfind("-363,", 0), 0u);
    EXPECT_EQ(client.Query("SOUR:APER?"), "0,0");

    // Sixteen errors kept, the newest replaced by -350; *CLS empties the queue.
    for (int i = 0; i < 20; ++i) client.Send("BAD");
    for (int i = 0; i < 15; ++i) EXPECT_EQ(client.Query("SYST:ERR?").rfind("-113,", 0), 0u);
    EXPECT_EQ(client.Query("SYST:ERR?"), "-350,\"Queue overflow\"");
    client.Send("BAD;*CLS");
    EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");

    // The other client's queue is its own, and a client that sends binary,
    // half a line and goes silent or away changes nothing for it.
    EXPECT_EQ(other.Query("SYST:ERR?"), "0,\"No error\"");
    {
        CScpiClient rude(port);
        rude.SendRaw(std::string("\x00\xff\xfe\r\n", 5) + "*IDN");
        EXPECT_EQ(other.Query("*IDN?").rfind("Vandrel", 0), 0u);
        CScpiClient gone(port);
        gone.Send("SOUR:APER 1,3;*OPC?");
    }
    // The move of the client that left still ends.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return other.Query("SOUR:APER?") == "1,3"; }));
    EXPECT_EQ(other.Query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(DaemonTest, TheLockKeepsOthersFromChangingAndGoesWithItsHolder) {
    ASSERT_NO_FATAL_FAILURE(StartDaemon());
    auto holder = std::make_unique<CScpiClient>(port);
    CScpiClient other(port);
    EXPECT_EQ(holder->Query("SYST:LOCK:REQ?"), "1");
    EXPECT_EQ(holder->Query("SYST:LOCK:REQ?"), "1");
    EXPECT_EQ(other.Query("SYST:LOCK:REQ?"), "0");
    for (const char* change : {"SOUR:APER 1,1", "SOUR:APER:HOME", "OUTP ON", "DISP:TEXT \"X\"", "CAL:DOWN", "ABOR"}) {
        SCOPED_TRACE(change);
        other.Send(change);
        EXPECT_EQ(other.Query("SYST:ERR?").rfind("-203,", 0), 0u);
    }
    EXPECT_EQ(other.Query("SOUR:APER?;OUTP?"), "0,0;0");
    // Releasing by someone else does nothing.
    other.Send("SYST:LOCK:REL");
    EXPECT_EQ(other.Query("SYST:LOCK:REQ?"), "0");
    EXPECT_EQ(holder->Query("SOUR:APER 0,4;*OPC?;SOUR:APER?"), "1;0,4");
    holder.reset();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return other.Query("SYST:LOCK:REQ?") == "1"; }));
    EXPECT_EQ(other.Query("SYST:LOCK:REL;SOUR:APER 0,5;*OPC?"), "1");
    EXPECT_EQ(other.Query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(DaemonTest, ReadOnlyRefusesEveryChange) {
    ASSERT_NO_FATAL_FAILURE(StartDaemon({"--read-only"}));
    CScpiClient client(port);
    head.ClearReceived();
    for (const char* change : {"SOUR:APER 1,1", "SOUR:APER:HOME", "OUTP ON", "OUTP OFF", "DISP:TEXT:CLE", "CAL:DOWN"}) {
        SCOPED_TRACE(change);
        client.Send(change);
        EXPECT_EQ(client.Query("SYST:ERR?"), "-203,\"Command protected; the server is read-only\"");
    }
    EXPECT_EQ(client.Query("SOUR:APER?;*OPC?"), "0,0;1");
    EXPECT_EQ(Received(head), Wire{"P?"});
}

TEST_F(DaemonTest, AllowListAndClientCapRefuseAtOnceAndLogWhy) {
    ASSERT_NO_FATAL_FAILURE(StartDaemon({"--allow", "10.0.0.0/8"}, false));
    {
        CScpiClient outsider(port);
        outsider.Send("*IDN?");
        EXPECT_TRUE(outsider.WaitForClose());
    }
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        return Log().find("Warning]: Refused a connection from 127.0.0.1") != std::string::npos;
    })) << Log();
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->Wait(), 0);

    // Listening beyond loopback without an allow list is refused outright.
    const testsupport::ProcessResult open = testsupport::RunProcess({QUORVEXD_PATH, "--listen", "0.0.0.0:0"});
    EXPECT_EQ(open.code, 2);
    EXPECT_NE(open.err.find("--allow"), std::string::npos);

    ASSERT_NO_FATAL_FAILURE(StartDaemon({"--allow", "127.0.0.0/8"}));
    std::vector<std::unique_ptr<CScpiClient>> clients;
    for (int i = 0; i < 32; ++i) {
        clients.push_back(std::make_unique<CScpiClient>(port));
        ASSERT_EQ(clients.back()->Query("SYST:VERS?"), "1999.0") << i;
    }
    CScpiClient extra(port);
    EXPECT_TRUE(extra.WaitForClose());
    EXPECT_NE(Log().find("32 clients are connected already"), std::string::npos);
    clients.pop_back();
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        try {
            CScpiClient again(port);
            return again.Query("SYST:VERS?", 2s) == "1999.0";
        } catch (const std::exception&) {
            return false;
        }
    }));
}

TEST_F(DaemonTest, MissingInstrumentGivesHardwareMissing) {
    counter.reset();
    ASSERT_NO_FATAL_FAILURE(StartDaemon({}, false));
    CScpiClient client(port);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return client.Query("SYST:CONN?") == "1,1,0"; }));
    EXPECT_EQ(client.Query("MEAS:HOUR?;SYST:ERR?"), "-241,\"Hardware missing; the elapsed-time counter is not connected\"");
    EXPECT_EQ(client.Query("MEAS:TEMP? BULB").empty(), false);
}

// Slow: a ramp runs its fixed 15 s up and 5 s down.
TEST_F(DaemonTest, SlowFullSessionMovesRampsAndMeasures) {
    ASSERT_NO_FATAL_FAILURE(StartDaemon());
    CScpiClient client(port);
    supply.ClearReceived();
    head.ClearReceived();
    EXPECT_TRUE(client.Send("SOUR:APER 1,5;OUTP ON"));
    // Refused while ramping: no path steps a lit lamp's current to 0 A.
    EXPECT_EQ(client.Query("OUTP ON;SYST:ERR?").rfind("-200,", 0), 0u);
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        const int progress = std::stoi(client.Query("OUTP:RAMP:PROG?"));
        return progress > 0 && progress < 100;
    }));
    EXPECT_EQ(client.Query("*OPC?", 40s), "1");
    EXPECT_EQ(client.Query("OUTP?;OUTP:RAMP:PROG?;SOUR:APER?"), "1;100;1,5");
    EXPECT_GT(std::stod(client.Query("MEAS:CURR?")), 8.0);
    EXPECT_EQ(client.Query("OUTP ON;SYST:ERR?").rfind("-200,", 0), 0u);
    const Wire up = Received(supply);
    ASSERT_GE(up.size(), 5u);
    EXPECT_TRUE(Contains(up, "VOLT:PROT 15.000"));
    EXPECT_TRUE(Contains(up, "CURR:PROT 8.500"));
    EXPECT_TRUE(Contains(up, "CURR 8.333"));
    EXPECT_TRUE(Contains(Received(head), "P(1,5)"));
    EXPECT_GT(std::stod(client.Query("SOUR:RAD? 550")), 0.0);
    EXPECT_EQ(client.Query("MEAS:TEMP?").size(), std::string("00.00,00.00,00.00,00.00").size());

    supply.ClearReceived();
    EXPECT_EQ(client.Query("OUTP OFF;*OPC?", 40s), "1");
    EXPECT_EQ(client.Query("OUTP?;SYST:ERR?"), "0;0,\"No error\"");
    EXPECT_EQ(supply.State().CurrentSetPoint(), 0.0);
    EXPECT_TRUE(Contains(Received(supply), "CURR 0.000"));
}

// Slow: the lamp ramps while eight others poll, and an abort ramps it back down.
TEST_F(DaemonTest, SlowEightClientsPollWhileOneMovesAndRamps) {
    ASSERT_NO_FATAL_FAILURE(StartDaemon());
    std::atomic<bool> stop{false};
    std::atomic<int> badReplies{0}, polls{0};
    std::vector<std::thread> pollers;
    // However the test ends, the pollers are stopped and joined.
    struct Joiner {
        std::atomic<bool>& stop;
        std::vector<std::thread>& threads;
        ~Joiner() {
            stop = true;
            for (auto& thread : threads)
                if (thread.joinable()) thread.join();
        }
    } joiner{stop, pollers};
    for (int i = 0; i < 8; ++i)
        pollers.emplace_back([&, i] {
            CScpiClient poller(port);
            while (!stop) {
                const std::string line = poller.Query(i % 2 ? "MEAS:TEMP?;SOUR:APER?;MEAS:CURR?;OUTP:RAMP:PROG?"
                                                            : "MEAS:TEMP?;SOUR:APER?;MEAS:VOLT?;OUTP:RAMP:PROG?");
                // Four replies: four temperatures, a position, a reading, a percent.
                if (std::count(line.begin(), line.end(), ';') != 3 || std::count(line.begin(), line.end(), ',') != 4 ||
                    line.find('<') != std::string::npos)
                    ++badReplies;
                ++polls;
            }
        });
    CScpiClient driver(port);
    driver.Send("OUTP ON");
    const int before = polls.load();
    for (const char* move : {"SOUR:APER 2,11", "SOUR:APER 0,3", "SOUR:APER:HOME", "SOUR:APER 1,1"})
        EXPECT_EQ(driver.Query(std::string(move) + ";*OPC?", 30s), "1");
    EXPECT_EQ(driver.Query("*OPC?", 40s), "1");
    // The polls went on while the wheels moved and the supply ramped.
    EXPECT_GT(polls.load(), before + 80);
    EXPECT_EQ(driver.Query("OUTP?;SOUR:APER?;SYST:ERR?"), "1;1,1;0,\"No error\"");
    EXPECT_EQ(driver.Query("OUTP OFF;*OPC?", 40s), "1");
    EXPECT_EQ(driver.Query("OUTP?"), "0");

    // An abort seen early in a 15 s ramp-up cuts it short and ramps back down.
    driver.Send("OUTP ON");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return std::stoi(driver.Query("OUTP:RAMP:PROG?")) > 0; }));
    EXPECT_EQ(driver.Query("ABOR;*OPC?", 40s), "1");
    EXPECT_EQ(driver.Query("SYST:ERR?").rfind("-200,", 0), 0u);
    EXPECT_EQ(driver.Query("OUTP?"), "0");
    EXPECT_EQ(supply.State().CurrentSetPoint(), 0.0);
    stop = true;
    for (auto& poller : pollers) poller.join();
    EXPECT_EQ(badReplies.load(), 0);
}

// Slow: waits out the 5 s reconnect period.
TEST_F(DaemonTest, SlowVanishedInstrumentGivesHardwareMissingThenRecovers) {
    ASSERT_NO_FATAL_FAILURE(StartDaemon());
    CScpiClient client(port);
    EXPECT_EQ(client.Query("MEAS:CYCL?"), "0");
    counter->Vanish();
    counter.reset();
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        client.Send("MEAS:HOUR?");
        return client.Query("SYST:CONN?") == "1,1,0";
    })) << Log();
    client.Send("*CLS");
    EXPECT_EQ(client.Query("MEAS:CYCL?;SYST:ERR?").rfind("-241,", 0), 0u);
    // The others are served all the while.
    EXPECT_EQ(client.Query("SOUR:APER?"), "0,0");
    StartCounter();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return client.Query("SYST:CONN?") == "1,1,1"; }, 20s)) << Log();
    EXPECT_EQ(client.Query("MEAS:CYCL?"), "0");
}

// Slow: the lamp is ramped up first.
TEST_F(DaemonTest, SlowSigtermWhileLitRampsDownUnlocksAndExitsZero) {
    ASSERT_NO_FATAL_FAILURE(StartDaemon());
    {
        CScpiClient client(port);
        EXPECT_EQ(client.Query("OUTP ON;*OPC?", 40s), "1");
        EXPECT_EQ(client.Query("OUTP?"), "1");
    }
    supply.ClearReceived();
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->Wait(40s), 0) << daemon->Err();
    ASSERT_TRUE(supply.WaitForCommand("SYST:LOC", kLimit));
    const Wire wire = Received(supply);
    EXPECT_TRUE(Contains(wire, "CURR 0.000"));
    EXPECT_EQ(wire.back(), "SYST:LOC");
    EXPECT_EQ(supply.State().CurrentSetPoint(), 0.0);
    daemon.reset();
}

}  // namespace
