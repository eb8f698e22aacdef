// Test bench for the elapsed-time counter driver: the shared driver fixture
// bound to the counter library's exports, the serial settings of the
// simulated counter and a blocking connect.
//
// The fixture owns the simulator and the handle (disconnected, waiting, in
// TearDown). Tests call the exports from their own thread; callbacks come on
// the library's threads and hand their results over through latches.
#pragma once

#include "DriverFixture.h"
#include "TallyDll/TallyDll.h"
#include "TallySimulator.h"
#include "TestEvent.h"

namespace tallytest {

using testsupport::CTestEvent;
using testsupport::kLimit;

class TallyTest : public testsupport::CDriverFixture<sim::CTallySimulator, Etc_SetLogfilePath,
                                                     Etc_SetLogCeiling, Etc_Disconnect> {
protected:
    static SerialPortSettingsStruct Settings(unsigned port = kCom) {
        return SerialPortSettingsStruct{static_cast<int32_t>(port), 9600, 0, 8, 0, 0};
    }
    // The record of commands starts empty after the identification.
    void Connect() {
        ASSERT_EQ(Etc_Connect(Settings(), &m_handle, 1, nullptr), EtcSuccess);
        ASSERT_NE(m_handle, nullptr);
        m_sim->ClearReceived();
    }
};

}  // namespace tallytest
