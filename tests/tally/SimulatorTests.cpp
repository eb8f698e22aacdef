// The simulated counter coupled to the lamp as quorvex-sim couples it: the
// count runs only while the lamp is lit, and switching the supply's output
// on is a power cycle. Read through the driver, as the program reads it.
#include "TallyFixture.h"

namespace tallytest {
namespace {

TEST(TallySimulator, CountsWhileTheLampIsLitAndCyclesWithTheOutput) {
    testsupport::CTempXdg xdg;
    sim::CLampBus lamp;
    lamp.SetState(true, 0.0);  // already on when the counter starts: no cycle
    sim::CTallySimulator counter(xdg.PortsFolder(), kCom, &lamp);
    counter.Start();
    void* handle = nullptr;
    ASSERT_EQ(Etc_Connect(Settings(), &handle, 1, nullptr), EtcSuccess);

    uint32_t cycles = 99;
    ASSERT_EQ(Etc_GetPowerCycleCount(handle, &cycles), EtcSuccess);
    EXPECT_EQ(cycles, 0u);
    double seconds = -1;
    ASSERT_EQ(Etc_GetElapsedTime(handle, &seconds), EtcSuccess);
    EXPECT_EQ(seconds, 0.0) << "output on without current does not light the lamp";

    lamp.SetState(false, 0.0);
    lamp.SetState(true, 1.5);  // a power cycle, and lit
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        return Etc_GetElapsedTime(handle, &seconds) == EtcSuccess && seconds >= 0.5;
    }));
    lamp.SetState(false, 1.5);
    double dark = -1, later = -1;
    ASSERT_EQ(Etc_GetElapsedTime(handle, &dark), EtcSuccess);
    ASSERT_EQ(Etc_GetPowerCycleCount(handle, &cycles), EtcSuccess);
    ASSERT_EQ(Etc_GetElapsedTime(handle, &later), EtcSuccess);
    EXPECT_EQ(later, dark) << "the count stands still while the lamp is dark";
    EXPECT_GE(dark, seconds);
    EXPECT_EQ(cycles, 1u);

    EtcDiagnosticsStruct d;
    ASSERT_EQ(Etc_GetDiagnostics(handle, &d), EtcSuccess);
    EXPECT_EQ(d.t * 0.25, dark);
    EXPECT_EQ(d.p, 1u);
    EXPECT_EQ(d.s & 1u, 0u) << "status bit 0 is the running count";
    EXPECT_EQ(Etc_Disconnect(&handle, 1, nullptr), EtcSuccess);
}

}  // namespace
}  // namespace tallytest
