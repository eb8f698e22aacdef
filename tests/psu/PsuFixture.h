// Shared set-up of the PsuDll tests: the driver fixture bound to the supply's
// exports, its serial settings, a connect that forgets the identification
// traffic, and a blocking query that marks a point on the wire.
//
// Everything here runs on the test's own thread; the simulator answers on
// its own, and the library calls callbacks and writes the log on its threads.
#pragma once

#include "DriverFixture.h"
#include "PsuDll/PsuDll.h"
#include "PsuSimulator.h"
#include "TestEvent.h"

#include <cstdio>
#include <string>
#include <vector>

namespace psutest {

using namespace std::chrono_literals;
using testsupport::CTestEvent;
using testsupport::kLimit;

inline std::string Fixed3(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

class PsuTest : public testsupport::CDriverFixture<sim::CPsuSimulator, Agilent_SetLogfilePath,
                                                   Agilent_SetLogCeiling, Agilent_Disconnect> {
protected:
    static SerialPortSettingsStruct Settings(unsigned com = kCom) {
        return SerialPortSettingsStruct{static_cast<int32_t>(com), 9600, 0, 8, 2, 0};
    }

    // Connects blocking and forgets the identification traffic, so a test's
    // wire record starts with its own commands.
    void Connect() {
        ASSERT_EQ(Agilent_Connect(Settings(), &m_handle, 1, nullptr), AgilentSuccess);
        ASSERT_NE(m_handle, nullptr);
        ASSERT_TRUE(m_sim->WaitForCommand("SYST:RWL", kLimit));
        m_sim->ClearReceived();
    }

    // A blocking query whose command marks a point on the wire: whatever a
    // call before it sent must come before it.
    std::vector<std::string> WireUpToMarker() {
        double value = 0.0;
        EXPECT_EQ(Agilent_GetVoltage(m_handle, &value), AgilentSuccess);
        return Wire();
    }
};

// The tests that start from a connected supply.
class ConnectedPsuTest : public PsuTest {
protected:
    void SetUp() override {
        PsuTest::SetUp();
        Connect();
    }
};

}  // namespace psutest
