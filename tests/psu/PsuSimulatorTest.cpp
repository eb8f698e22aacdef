// The simulated E3633A through PsuDll: its protection trips, and a second
// supply beside the first that drives a lamp bus.
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

// A second supply of its own, driving a lamp bus: its handle, wire and log
// prefix are its own, and the lamp follows its output and current.
TEST_F(PsuTest, ASecondSupplyKeepsItsOwnHandleWireAndLogPrefixAndDrivesItsLamp) {
    sim::CLampBus lamp;
    std::atomic<int> changes{0};
    lamp.Subscribe([&](bool, double) { ++changes; });
    sim::CPsuSimulator other(m_xdg.PortsFolder(), kCom + 1, &lamp);
    other.Start();
    Connect();
    void* second = nullptr;
    ASSERT_EQ(Agilent_Connect(Settings(kCom + 1), &second, 1, nullptr), AgilentSuccess);
    ASSERT_NE(second, m_handle);
    ASSERT_EQ(Agilent_RampUp(second, 8.333, 15.0, 1, nullptr, 1, nullptr), AgilentSuccess);
    double amps = 0;
    ASSERT_EQ(Agilent_MeasureCurrent(second, &amps), AgilentSuccess);  // all commands handled
    EXPECT_TRUE(lamp.Lit());
    EXPECT_EQ(lamp.Amps(), 8.333);
    EXPECT_GE(changes, 50);  // every step

    ASSERT_EQ(Agilent_SetOutput(second, AgilentOutput_Off, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureCurrent(second, &amps), AgilentSuccess);
    EXPECT_FALSE(lamp.OutputOn());
    EXPECT_FALSE(lamp.Lit());
    EXPECT_TRUE(Wire().empty());
    char prefix[128];
    std::snprintf(prefix, sizeof prefix, "CAgilentE3633A (0x%016llX): Setting output to AgilentOutput_Off.",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(second)));
    EXPECT_TRUE(LogHas(prefix));
    EXPECT_EQ(Agilent_Disconnect(&second, 1, nullptr), AgilentSuccess);
}

}  // namespace
}  // namespace psutest
