// Shared set-up of the head driver tests: the common driver fixture (a
// simulated head on COM7 in private folders, the log in a file of the test's
// own) with motions quick enough to wait for, a connect helper, the commands
// a test sent itself, and files written into the test's folder.
//
// The fixture and its helpers run on the test's thread only; the simulator
// and the driver's workers fill the wire record and the log they read.
#pragma once

#include "DriverFixture.h"
#include "TestEvent.h"
#include "head/HeadSimulator.h"

#include <QuorvexDll/QuorvexDll.h>

#include <fstream>

namespace qvtest {

using namespace std::chrono_literals;
using testsupport::CTestEvent;
using testsupport::kLimit;

class QuorvexTest : public testsupport::CDriverFixture<sim::CHeadSimulator, Quorvex_SetLogfilePath,
                                                       Quorvex_SetLogCeiling, Quorvex_Disconnect> {
protected:
    QuorvexTest() { m_sim->SetMotionTimes(30ms, 30ms); }

    QuorvexError Connect(int wait = 1, HANDLE event = nullptr, unsigned com = kCom) {
        return Quorvex_Connect(static_cast<int>(com), 9600, 0, 8, 0, 0, &m_handle, wait, event);
    }
    void ConnectOrFail() { ASSERT_EQ(Connect(), QuorvexSuccess); }
    // For tests that look for what a lower ceiling lets through.
    void Ceiling(unsigned ceiling) { ASSERT_EQ(Quorvex_SetLogCeiling(ceiling), QuorvexSuccess); }
    int Valid() const {
        int valid = -1;
        EXPECT_EQ(Quorvex_IsValidDevice(m_handle, &valid), QuorvexSuccess);
        return valid;
    }
    // The identification held: manufacturer, model, firmware, serial number, whole reply.
    std::vector<std::string> Identification() const {
        QuorvexIdentificationStruct id;
        EXPECT_EQ(Quorvex_GetIdentification(m_handle, &id), QuorvexSuccess);
        return {id.manufacturer, id.model, id.firmware, id.serialNumber, id.response};
    }
    // What the head received besides the connection's own "I?" and "S?".
    std::vector<std::string> Sent() const {
        std::vector<std::string> texts = Wire();
        std::erase_if(texts, [](const std::string& text) { return text == "I?" || text == "S?"; });
        return texts;
    }
    // The table the driver holds, read with Quorvex_Get...CalibrationData.
    template <typename Table>
    Table Held(QuorvexError (*get)(void*, Table*)) const {
        Table table;
        EXPECT_EQ(get(m_handle, &table), QuorvexSuccess);
        return table;
    }
    std::filesystem::path WriteFile(const std::string& name, const std::string& content) const {
        const auto path = m_xdg.Root() / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
};

}  // namespace qvtest
