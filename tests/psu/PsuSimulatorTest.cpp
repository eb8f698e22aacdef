// The simulated E3633A: its protection trips and the lamp bus it drives,
// checked through PsuDll.
#include "PsuFixture.h"

#include <atomic>

namespace psutest {
namespace {

using PsuSimulatorTest = ConnectedPsuTest;

TEST_F(PsuSimulatorTest, TripsThroughTheDriverAndClearsWithTheResetCommands) {
    ASSERT_EQ(Agilent_SetVoltage(m_handle, 15.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetCurrentLimit(m_handle, 2.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetCurrent(m_handle, 3.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetOutput(m_handle, AgilentOutput_On, 1, nullptr), AgilentSuccess);
    double value = -1;
    ASSERT_EQ(Agilent_MeasureCurrent(m_handle, &value), AgilentSuccess);
    EXPECT_EQ(value, 0.0);
    EXPECT_TRUE(m_sim->State().CurrentTripped());

    ASSERT_EQ(Agilent_SetCurrent(m_handle, 1.5, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_ResetOCP(m_handle, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureCurrent(m_handle, &value), AgilentSuccess);
    EXPECT_EQ(value, 1.5);

    ASSERT_EQ(Agilent_SetVoltageLimit(m_handle, 2.0, 1, nullptr), AgilentSuccess);  // 2.25 V across the lamp
    ASSERT_EQ(Agilent_MeasureVoltage(m_handle, &value), AgilentSuccess);
    EXPECT_EQ(value, 0.0);
    ASSERT_EQ(Agilent_SetVoltageLimit(m_handle, 20.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_ResetOVP(m_handle, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureVoltage(m_handle, &value), AgilentSuccess);
    EXPECT_DOUBLE_EQ(value, 2.25);
}

// A second supply of its own on COM3, driving a lamp bus.
using PsuSimulatorLampTest = PsuTest;

TEST_F(PsuSimulatorLampTest, LampFollowsTheOutputAndItsCurrent) {
    sim::CLampBus lamp;
    std::atomic<int> changes{0};
    lamp.Subscribe([&](bool, double) { ++changes; });
    sim::CPsuSimulator psu(m_xdg.PortsFolder(), 3, &lamp);
    psu.Start();
    void* handle = nullptr;
    ASSERT_EQ(Agilent_Connect(Settings(3), &handle, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_RampUp(handle, 8.333, 15.0, 1, nullptr, 1, nullptr), AgilentSuccess);
    double amps = 0;
    ASSERT_EQ(Agilent_MeasureCurrent(handle, &amps), AgilentSuccess);  // all commands handled
    EXPECT_TRUE(lamp.Lit());
    EXPECT_EQ(lamp.Amps(), 8.333);
    EXPECT_GE(changes, 50);  // every step

    ASSERT_EQ(Agilent_SetOutput(handle, AgilentOutput_Off, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureCurrent(handle, &amps), AgilentSuccess);
    EXPECT_FALSE(lamp.OutputOn());
    EXPECT_FALSE(lamp.Lit());
    EXPECT_EQ(Agilent_Disconnect(&handle, 1, nullptr), AgilentSuccess);
}

}  // namespace
}  // namespace psutest
