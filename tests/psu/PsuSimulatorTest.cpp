// The simulated E3633A: its lamp load, protection trips, number format and
// the lamp bus it drives, checked directly and through PsuDll.
#include "E3633AModel.h"
#include "PsuFixture.h"

#include <atomic>

namespace psutest {
namespace {

TEST(E3633AModelTest, LampDrawsConstantCurrentUpToTheVoltageSetPoint) {
    sim::CE3633AModel model;
    model.SetLoadResistance(1.5);
    model.SetVoltage(15.0);
    model.SetCurrent(8.0);
    EXPECT_FALSE(model.Output().on);
    EXPECT_EQ(model.Output().amps, 0.0);

    model.SetOutput(true);
    EXPECT_EQ(model.Output().amps, 8.0);  // 12 V across the lamp: constant current
    EXPECT_DOUBLE_EQ(model.Output().volts, 12.0);

    model.SetVoltage(6.0);  // the voltage set point limits the current now
    EXPECT_DOUBLE_EQ(model.Output().volts, 6.0);
    EXPECT_DOUBLE_EQ(model.Output().amps, 4.0);
}

class PsuSimulatorTest : public PsuTest {
protected:
    void SetUp() override {
        PsuTest::SetUp();
        Connect();
    }
};

TEST_F(PsuSimulatorTest, TripsThroughTheDriverAndClearsWithTheResetCommands) {
    ASSERT_EQ(Agilent_SetVoltage(handle, 15.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetCurrentLimit(handle, 2.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetCurrent(handle, 3.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetOutput(handle, AgilentOutput_On, 1, nullptr), AgilentSuccess);
    double amps = -1;
    ASSERT_EQ(Agilent_MeasureCurrent(handle, &amps), AgilentSuccess);
    EXPECT_EQ(amps, 0.0);
    EXPECT_TRUE(sim->State().CurrentTripped());

    ASSERT_EQ(Agilent_SetCurrent(handle, 1.5, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_ResetOCP(handle, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureCurrent(handle, &amps), AgilentSuccess);
    EXPECT_EQ(amps, 1.5);

    ASSERT_EQ(Agilent_SetVoltageLimit(handle, 2.0, 1, nullptr), AgilentSuccess);  // 2.25 V across the lamp
    ASSERT_EQ(Agilent_MeasureVoltage(handle, &amps), AgilentSuccess);
    EXPECT_EQ(amps, 0.0);
    ASSERT_EQ(Agilent_SetVoltageLimit(handle, 20.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_ResetOVP(handle, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureVoltage(handle, &amps), AgilentSuccess);
    EXPECT_DOUBLE_EQ(amps, 2.25);
}

TEST_F(PsuSimulatorTest, KeepsDisplayAndRangeState) {
    ASSERT_EQ(Agilent_SetDisplay(handle, AgilentDisplay_Off, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetVoltageRange(handle, AgilentVoltageRange_Low, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetDisplayMessage(handle, "LAMP \"A\"", 1, nullptr), AgilentSuccess);
    WireUpToMarker();
    auto state = sim->State();
    EXPECT_FALSE(state.DisplayOn());
    EXPECT_TRUE(state.LowRange());
    EXPECT_EQ(state.DisplayText(), "LAMP \"A\"");
    EXPECT_TRUE(state.DisplayTextShown());
    ASSERT_EQ(Agilent_ClearDisplayMessage(handle, 1, nullptr), AgilentSuccess);
    WireUpToMarker();
    EXPECT_FALSE(sim->State().DisplayTextShown());
}

TEST(PsuSimulatorLampTest, LampFollowsTheOutputAndItsCurrent) {
    testsupport::CTempXdg tmp;
    sim::CLampBus lamp;
    std::atomic<int> changes{0};
    lamp.Subscribe([&](bool, double) { ++changes; });
    sim::CPsuSimulator psu(tmp.PortsFolder(), 3, &lamp);
    psu.Start();
    void* handle = nullptr;
    ASSERT_EQ(Agilent_Connect(SerialPortSettingsStruct{3, 9600, 0, 8, 2, 0}, &handle, 1, nullptr),
              AgilentSuccess);
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
