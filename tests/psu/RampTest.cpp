// PsuDll lamp ramps against the simulated supply: the command sequences on
// the wire, progress, completion, the ramped-up state, argument checks, busy
// refusals and the ways a ramp ends early (a disconnect ending one is
// checked with the disconnects). Ramp times are short (1-2 s) so
// the tests stay quick; timing is only checked with generous bounds.
#include "PsuFixture.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <mutex>
#include <thread>

// The wall clock every library of this program reads, standing in for the
// platform's: the real time shifted by what a test sets, as a time server
// or a user stepping the clock would shift it. (Interposed by name; the
// ramp must not read it at all, so nothing here counts its calls.)
static std::atomic<int64_t> g_wallClockShiftTicks{0};  // 100 ns units

extern "C" __attribute__((visibility("default"))) void GetSystemTimeAsFileTime(LPFILETIME fileTime) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t ticks = static_cast<uint64_t>(now.tv_sec + 11644473600LL) * 10000000u +
                           static_cast<uint64_t>(now.tv_nsec) / 100u + g_wallClockShiftTicks.load();
    fileTime->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

namespace psutest {
namespace {

// Shifts the wall clock for its lifetime.
class CWallClockShift {
public:
    void Set(std::chrono::seconds shift) { g_wallClockShiftTicks = shift.count() * 10000000LL; }
    ~CWallClockShift() { g_wallClockShiftTicks = 0; }
};

// A ramp-up of a dark lamp: the query that finds it dark, the set-up and the
// 50 current steps: each closes 1/8 of the gap, the last is the target
// itself.
std::vector<std::string> RampUpWire(double current, double voltage,
                                    std::vector<std::string> wire = {"CURR?"}) {
    for (const std::string& command : {"VOLT " + Fixed3(voltage), std::string("CURR 0.000"), std::string("OUTP ON")})
        wire.push_back(command);
    double level = 0.0;
    for (int k = 1; k <= 50; ++k) {
        level = k == 50 ? current : level + (current - level) * 0.125;
        wire.push_back("CURR " + Fixed3(level));
    }
    return wire;
}

// A ramp-up of a lamp lit at (fromI, fromV): the three queries that find it
// so, then the same curve from there; the voltage steps along only when it
// has somewhere to go.
std::vector<std::string> LitRampUpWire(double fromI, double fromV, double current, double voltage) {
    std::vector<std::string> wire{"CURR?", "OUTP?", "VOLT?"};
    for (int k = 1; k <= 50; ++k) {
        if (fromV != voltage) {
            fromV = k == 50 ? voltage : fromV + (voltage - fromV) * 0.125;
            wire.push_back("VOLT " + Fixed3(fromV));
        }
        fromI = k == 50 ? current : fromI + (current - fromI) * 0.125;
        wire.push_back("CURR " + Fixed3(fromI));
    }
    return wire;
}

// The 20 steps of a ramp-down after its two set-point queries.
std::vector<std::string> RampDownWire(double current, double voltage) {
    std::vector<std::string> wire{"CURR?", "VOLT?"};
    const double dI = current / 20.0, dV = voltage / 20.0;
    for (int k = 1; k <= 20; ++k) {
        current -= dI;
        voltage -= dV;
        if (k == 20) current = voltage = 0.0;
        wire.push_back("CURR " + Fixed3(current));
        wire.push_back("VOLT " + Fixed3(voltage));
    }
    return wire;
}

// Collects progress reports from the ramping thread.
class CProgress {
public:
    AgilentProgressCallback Callable() {
        return [this](double percent) {
            std::unique_lock lock(m_mutex);
            m_values.push_back(percent);
            lock.unlock();
            m_latch.Signal();
        };
    }
    std::vector<double> Values() const {
        std::lock_guard lock(m_mutex);
        return m_values;
    }
    bool WaitFor(int count) { return m_latch.WaitFor(count); }

private:
    mutable std::mutex m_mutex;
    std::vector<double> m_values;
    testsupport::CLatch m_latch;
};

std::vector<double> Percentages(int step, int count) {
    std::vector<double> values;
    for (int i = 0; i <= count; ++i) values.push_back(step * i);
    return values;
}

class RampTest : public ConnectedPsuTest {
protected:
    int RampedUp() {
        int value = -1;
        EXPECT_EQ(Agilent_IsRampedUp(m_handle, &value), AgilentSuccess);
        return value;
    }
};

TEST_F(RampTest, RampsUpTo8333AndDownAgainStepByStepWithProgress) {
    CTestEvent done;
    CProgress progress;
    EXPECT_EQ(RampedUp(), 0);
    ASSERT_EQ(Agilent_RampUpReportProgress(m_handle, 8.333, 15.0, 1, nullptr, done.Get(), progress.Callable()),
              AgilentSuccess);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(RampedUp(), 1);

    // A few steps worked out by hand, in case the helper errs as the driver does.
    const auto wire = WireAfter(54);
    ASSERT_EQ(wire, RampUpWire(8.333, 15.0));
    EXPECT_EQ(wire[4] + wire[5] + wire[6] + wire[52], "CURR 1.042CURR 1.953CURR 2.751CURR 8.321");
    EXPECT_EQ(progress.Values(), Percentages(2, 50));

    // Down again from there, with progress of its own.
    m_sim->ClearReceived();
    CProgress downProgress;
    ASSERT_EQ(Agilent_RampDownReportProgress(m_handle, 1, nullptr, done.Get(), downProgress.Callable()),
              AgilentSuccess);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(RampedUp(), 0);
    // The output stays on: no "OUTP OFF" among the steps.
    const auto down = WireAfter(42);
    ASSERT_EQ(down, RampDownWire(8.333, 15.0));
    EXPECT_EQ(down[2] + down[3] + down[40] + down[41], "CURR 7.916VOLT 14.250CURR 0.000VOLT 0.000");
    EXPECT_EQ(downProgress.Values(), Percentages(5, 20));
    for (const char* message : {": Ramping the Agilent to (15.000V,8.333A) in 1 seconds.", ": Ramp-up @ 2.0% done.",
                                ": Ramp-up @ 100.0% done.", ": Setting output to AgilentOutput_On.",
                                ": Ramping down the Agilent in 1 seconds.", ": Ramp-down @ 5.0% done.",
                                ": Ramp-down @ 100.0% done."}) {
        EXPECT_TRUE(LogHas(message)) << message;
    }

    // A plain ramp never calls a progress callable of an earlier one. The
    // lamp ramped down is dark again although the output stayed on.
    m_sim->ClearReceived();
    ASSERT_EQ(Agilent_RampUp(m_handle, 2.0, 5.0, 1, nullptr, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(WireAfter(54), RampUpWire(2.0, 5.0));
    EXPECT_EQ(progress.Values().size() + downProgress.Values().size(), 51u + 21u);
}

TEST_F(RampTest, InvalidArgumentsAreRefusedWithTheFirstFailingCheck) {
    const double nan = std::nan("");
    EXPECT_EQ(Agilent_RampUp(m_handle, 0.0, 0.0, 0, nullptr, 1, nullptr), AgilentErrorInvalidParameter);
    EXPECT_TRUE(LogHas(": Ramping the Agilent to (0.000V,0.000A) in 0 seconds."));
    EXPECT_TRUE(LogHas(": Invalid ramp-up current value (0.000)."));
    EXPECT_FALSE(LogHas("Invalid ramp-up voltage"));
    EXPECT_FALSE(LogHas("Invalid ramp-up time"));

    // Beyond the supply's ratings, or not finite: "CURR inf" or a 300-digit
    // number must never reach it.
    for (const double bad : {20.601, 1e300, double(INFINITY), double(-INFINITY), -nan}) {
        EXPECT_EQ(Agilent_RampUp(m_handle, bad, 12.0, 1, nullptr, 1, nullptr), AgilentErrorInvalidParameter);
        EXPECT_EQ(Agilent_RampUpReportProgress(m_handle, 8.0, bad, 1, nullptr, nullptr, nullptr),
                  AgilentErrorInvalidParameter);
    }
    // 2147484 s: its milliseconds would not fit 32 bits.
    for (const auto& [result, message] :
         {std::pair{Agilent_RampUp(m_handle, 8.0, nan, 1, nullptr, 1, nullptr),
                    ": Invalid ramp-up voltage value (nan)."},
          std::pair{Agilent_RampUp(m_handle, 8.0, 12.0, -3, nullptr, 0, nullptr), ": Invalid ramp-up time (-3)."},
          std::pair{Agilent_RampUpReportProgress(m_handle, 8.0, 12.0, 2147484, nullptr, nullptr, nullptr),
                    ": Invalid ramp-up time (2147484)."},
          std::pair{Agilent_RampDown(m_handle, 0, nullptr, 1, nullptr), ": Invalid ramp-down time (0)."},
          std::pair{Agilent_RampDownReportProgress(m_handle, 2147484, nullptr, nullptr, nullptr),
                    ": Invalid ramp-down time (2147484)."}}) {
        EXPECT_EQ(result, AgilentErrorInvalidParameter) << message;
        EXPECT_TRUE(LogHas(message)) << message;
    }

    EXPECT_EQ(WireUpToMarker(), std::vector<std::string>{"VOLT?"});
    EXPECT_EQ(RampedUp(), 0);
}

// A blocking ramp ended by its abort event returns "aborted", and a closed
// abort event ends a ramp as a set one does; neither signals the ramp's
// event, and the device is free again afterwards.
TEST_F(RampTest, StartsWhileARampRunsAreRefusedAsBusyAndAbortedRampsFreeTheDevice) {
    CTestEvent upAbort(true), downAbort(true), done;
    std::atomic<int> result{-1};
    std::thread up([&] { result = Agilent_RampUp(m_handle, 8.0, 12.0, 20, upAbort.Get(), 1, nullptr); });
    ASSERT_TRUE(m_sim->WaitForCommand("CURR 1.000", kLimit));
    EXPECT_EQ(Agilent_RampUp(m_handle, 5.0, 10.0, 1, nullptr, 0, nullptr), AgilentErrorBusy);
    EXPECT_EQ(Agilent_RampDown(m_handle, 1, nullptr, 0, nullptr), AgilentErrorBusy);
    upAbort.Set();
    up.join();
    EXPECT_EQ(result, AgilentErrorAborted);
    EXPECT_EQ(RampedUp(), 0);
    EXPECT_TRUE(WaitForLog(": Aborting ramp up!"));

    ASSERT_EQ(Agilent_RampDownReportProgress(m_handle, 20, downAbort.Get(), done.Get(), nullptr), AgilentSuccess);
    ASSERT_TRUE(m_sim->WaitForCommand(R"(CURR\?)", kLimit));
    EXPECT_EQ(Agilent_RampDownReportProgress(m_handle, 1, nullptr, nullptr, nullptr), AgilentErrorBusy);
    EXPECT_EQ(Agilent_RampDown(m_handle, 1, nullptr, 1, nullptr), AgilentErrorBusy);
    EXPECT_EQ(Agilent_RampUp(m_handle, 8.0, 12.0, 1, nullptr, 1, nullptr), AgilentErrorBusy);
    EXPECT_TRUE(LogHas(": Ramping thread already running."));
    downAbort.Close();
    EXPECT_TRUE(WaitForLog(": Aborting ramp down!"));
    EXPECT_FALSE(done.IsSet());
    // Nothing of the refused ramps reached the supply.
    const auto wire = Wire();
    EXPECT_EQ(std::count(wire.begin(), wire.end(), "VOLT 10.000"), 0);
    EXPECT_EQ(std::count(wire.begin(), wire.end(), "CURR?"), 2);  // the ramp-up's and the ramp-down's
    EXPECT_EQ(Agilent_RampDown(m_handle, 1, nullptr, 1, nullptr), AgilentSuccess);
}

// The control panel ramps down right after a cancelled ramp-up (with a
// manual-reset abort event); that start must wait for the aborted thread
// instead of being refused, and the two ramps must never interleave on the
// wire. The aborted ramp-up stops after its step, its event unsignalled.
TEST_F(RampTest, AbortedRampUpStopsAfterItsStepAndARampDownRightAfterGoesAhead) {
    CTestEvent abort(true), upDone, downDone, downAbort(true);
    CProgress progress;
    ASSERT_EQ(Agilent_RampUpReportProgress(m_handle, 8.0, 12.0, 2, abort.Get(), upDone.Get(),
                                           progress.Callable()),
              AgilentSuccess);
    ASSERT_TRUE(progress.WaitFor(6));  // 0 .. 10 %
    abort.Set();
    ASSERT_EQ(Agilent_RampDown(m_handle, 1, downAbort.Get(), 0, downDone.Get()), AgilentSuccess);
    ASSERT_TRUE(downDone.Wait());
    EXPECT_EQ(RampedUp(), 0);
    EXPECT_TRUE(WaitForLog(": Aborting ramp up!"));
    EXPECT_FALSE(upDone.IsSet());
    EXPECT_LT(progress.Values().back(), 100.0);

    const auto wire = WireUpToMarker();
    // The ramp-up's own "CURR?" opens the record; the ramp-down's is the next.
    ASSERT_FALSE(wire.empty());
    const size_t down = std::find(wire.begin() + 1, wire.end(), "CURR?") - wire.begin();
    ASSERT_LT(down, wire.size());
    // Everything before the ramp-down is the ramp-up's beginning.
    const auto up = RampUpWire(8.0, 12.0);
    ASSERT_GE(down, 5u);
    ASSERT_LT(down, up.size());
    EXPECT_TRUE(std::equal(wire.begin(), wire.begin() + down, up.begin()));
    // The ramp-down starts from the step the ramp-up had reached.
    const double reached = std::stod(wire[down - 1].substr(5));
    const std::vector<std::string> tail(wire.begin() + down, wire.end() - 1);
    EXPECT_EQ(tail, RampDownWire(reached, 12.0));
}

// Steps keep their pauses without an abort event, and on the monotonic
// clock: stepping the wall clock back an hour must not stall the ramp, nor
// stepping it forward rush the remaining steps.
TEST_F(RampTest, PausesAreKeptWithoutAbortEventWhateverTheWallClockDoes) {
    CWallClockShift wallClock;
    CTestEvent done;
    ASSERT_EQ(Agilent_RampUp(m_handle, 8.0, 12.0, 1, nullptr, 0, done.Get()), AgilentSuccess);
    ASSERT_TRUE(m_sim->WaitForCommand("CURR 1.000", kLimit));
    wallClock.Set(-1h);
    ASSERT_TRUE(m_sim->WaitForCommand("CURR 3.897", kLimit));
    wallClock.Set(1h);
    ASSERT_TRUE(done.Wait());

    const auto received = m_sim->Received();
    ASSERT_EQ(received.size(), 54u);
    ASSERT_EQ(received[3].text, "OUTP ON");
    // The last step is due 49 intervals of 20 ms after the start; without
    // pauses it would follow within a few milliseconds.
    EXPECT_GE(received.back().at - received[2].at, 800ms);
}

// Before any ramp (a set current is not one) a set point that cannot be
// read counts as zero; after one, as that ramp's target.
TEST_F(RampTest, RampDownStartsFromZeroOrTheLastRampWhenSetPointsCannotBeRead) {
    ASSERT_EQ(Agilent_SetCurrent(m_handle, 3.0, 1, nullptr), AgilentSuccess);
    ASSERT_TRUE(m_sim->WaitForCount(1, kLimit));
    m_sim->ClearReceived();
    m_sim->InjectFault(R"(CURR\?|VOLT\?)", sim::Fault{sim::FaultKind::Garbage, 0, 5, 2});
    CTestEvent done;
    ASSERT_EQ(Agilent_RampDownReportProgress(m_handle, 1, nullptr, done.Get(), nullptr), AgilentSuccess);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(WireAfter(42), RampDownWire(0.0, 0.0));
    EXPECT_TRUE(LogHas(": Could not read the voltage setpoint, ramping down from 0.000V."));

    m_sim->ClearReceived();
    ASSERT_EQ(Agilent_RampUp(m_handle, 8.0, 12.0, 1, nullptr, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(RampedUp(), 1);
    EXPECT_EQ(WireAfter(54), RampUpWire(8.0, 12.0));
    m_sim->ClearReceived();
    m_sim->InjectFault(R"(CURR\?)", sim::Fault{sim::FaultKind::NoReply});
    ASSERT_EQ(Agilent_RampDown(m_handle, 1, nullptr, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(WireAfter(42), RampDownWire(8.0, 12.0));
    EXPECT_TRUE(LogHas("; Error]: "));
    EXPECT_TRUE(LogHas(": Command timed out! Partial response received: \"\"."));
    EXPECT_TRUE(LogHas(": Could not read the current setpoint, ramping down from 8.000A."));
    EXPECT_EQ(RampedUp(), 0);
}

// A second ramp-up must never step a lit lamp's current to 0 A: it takes
// its steps from the set points it finds, and leaves a supply alone that
// cannot tell it what they are.
TEST_F(RampTest, RampUpOfALitLampGoesOnFromItsSetPoints) {
    ASSERT_EQ(Agilent_RampUp(m_handle, 4.0, 12.0, 1, nullptr, 1, nullptr), AgilentSuccess);
    m_sim->ClearReceived();
    ASSERT_EQ(Agilent_RampUp(m_handle, 8.0, 12.0, 1, nullptr, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(RampedUp(), 1);
    const auto same = WireAfter(53);
    EXPECT_EQ(same, LitRampUpWire(4.0, 12.0, 8.0, 12.0));
    EXPECT_EQ(same[3], "CURR 4.500");
    EXPECT_TRUE(LogHas(": The lamp is lit at (12.000V,4.000A), ramping from there."));

    // To another voltage, which follows the current's curve.
    m_sim->ClearReceived();
    CProgress progress;
    CTestEvent done;
    ASSERT_EQ(Agilent_RampUpReportProgress(m_handle, 8.333, 15.0, 1, nullptr, done.Get(), progress.Callable()),
              AgilentSuccess);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(WireAfter(103), LitRampUpWire(8.0, 12.0, 8.333, 15.0));
    EXPECT_EQ(progress.Values(), Percentages(2, 50));
    EXPECT_EQ(m_sim->State().CurrentSetPoint(), 8.333);

    // A current set behind an output switched off is a dark lamp.
    ASSERT_EQ(Agilent_SetOutput(m_handle, AgilentOutput_Off, 1, nullptr), AgilentSuccess);
    ASSERT_TRUE(m_sim->WaitForCommand("OUTP OFF", kLimit));
    m_sim->ClearReceived();
    ASSERT_EQ(Agilent_RampUp(m_handle, 2.0, 5.0, 1, nullptr, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(WireAfter(55), RampUpWire(2.0, 5.0, {"CURR?", "OUTP?"}));

    // Unanswered, the ramp ends at once, as aborted, and sends nothing.
    m_sim->ClearReceived();
    m_sim->InjectFault(R"(OUTP\?)", sim::Fault{sim::FaultKind::NoReply});
    EXPECT_EQ(Agilent_RampUp(m_handle, 8.0, 12.0, 1, nullptr, 1, nullptr), AgilentErrorAborted);
    EXPECT_EQ(WireUpToMarker(), (std::vector<std::string>{"CURR?", "OUTP?", "VOLT?"}));
    EXPECT_TRUE(LogHas(": Could not read the current setpoint or the output state, not ramping up."));
    EXPECT_EQ(RampedUp(), 0);
    EXPECT_EQ(m_sim->State().CurrentSetPoint(), 2.0);
}

}  // namespace
}  // namespace psutest
