// The simulated counter coupled to the lamp as quorvex-sim couples it: the
// count runs only while the lamp is lit, and switching the supply's output
// on is a power cycle. Read through the driver, as the program reads it.
#include "TallyFixture.h"

namespace tallytest {
namespace {

using TallySimulator = TallyTest;

TEST_F(TallySimulator, CountsWhileTheLampIsLitAndCyclesWithTheOutput) {
    // The simulator reads the bus only while it is made; the bus keeps the
    // listener, so it may go first.
    sim::CLampBus lamp;
    lamp.SetState(true, 0.0);  // already on when the counter starts: no cycle
    m_sim.reset();             // gives COM7 to the coupled counter
    m_sim = std::make_unique<sim::CTallySimulator>(m_xdg.PortsFolder(), kCom, &lamp);
    m_sim->Start();
    Connect();

    uint32_t cycles = 99;
    ASSERT_EQ(Etc_GetPowerCycleCount(m_handle, &cycles), EtcSuccess);
    EXPECT_EQ(cycles, 0u);
    double seconds = -1;
    ASSERT_EQ(Etc_GetElapsedTime(m_handle, &seconds), EtcSuccess);
    EXPECT_EQ(seconds, 0.0) << "output on without current does not light the lamp";

    lamp.SetState(false, 0.0);
    lamp.SetState(true, 1.5);  // a power cycle, and lit
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        return Etc_GetElapsedTime(m_handle, &seconds) == EtcSuccess && seconds >= 0.5;
    }));
    lamp.SetState(false, 1.5);
    double dark = -1, later = -1;
    ASSERT_EQ(Etc_GetElapsedTime(m_handle, &dark), EtcSuccess);
    ASSERT_EQ(Etc_GetPowerCycleCount(m_handle, &cycles), EtcSuccess);
    ASSERT_EQ(Etc_GetElapsedTime(m_handle, &later), EtcSuccess);
    EXPECT_EQ(later, dark) << "the count stands still while the lamp is dark";
    EXPECT_GE(dark, seconds);
    EXPECT_EQ(cycles, 1u);

    EtcDiagnosticsStruct d;
    ASSERT_EQ(Etc_GetDiagnostics(m_handle, &d), EtcSuccess);
    EXPECT_EQ(d.t * 0.25, dark);
    EXPECT_EQ(d.p, 1u);
    EXPECT_EQ(d.s & 1u, 0u) << "status bit 0 is the running count";
}

}  // namespace
}  // namespace tallytest
