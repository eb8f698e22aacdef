// Test bench for the elapsed-time counter driver: private XDG folders, a
// simulated counter linked as COM7, the library's log pointed at a file in
// the temporary folder, and helpers to connect through the exports.
#pragma once

#include "TallyDll/TallyDll.h"
#include "TallySimulator.h"
#include "TestEvent.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tallytest {

using namespace std::chrono_literals;
using testsupport::kLimit;

constexpr unsigned kCom = 7;

inline SerialPortSettingsStruct Settings(unsigned port = kCom) {
    return SerialPortSettingsStruct{static_cast<int32_t>(port), 9600, 0, 8, 0, 0};
}

using testsupport::CTestEvent;

class TallyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Etc_SetLogfilePath(logFile.wstring().c_str()), EtcSuccess);
        ASSERT_EQ(Etc_SetLogCeiling(7), EtcSuccess);
        counter.Start();
    }

    void TearDown() override {
        if (handle) {
            EXPECT_EQ(Etc_Disconnect(&handle, 1, nullptr), EtcSuccess);
        }
        counter.Stop();
        // The library's log settings outlive the test; leave them as found.
        Etc_SetLogCeiling(0);
        Etc_SetLogfilePath(L"");
    }

    // Blocking connect to the simulated counter; the handle is kept for the
    // test and disconnected at its end.
    void Connect() {
        ASSERT_EQ(Etc_Connect(Settings(), &handle, 1, nullptr), EtcSuccess);
        ASSERT_NE(handle, nullptr);
        counter.ClearReceived();
    }

    std::vector<std::string> Commands() const {
        std::vector<std::string> texts;
        for (const auto& command : counter.Received()) texts.push_back(command.text);
        return texts;
    }

    std::string Log() const { return testsupport::ReadFile(logFile); }

    testsupport::CTempXdg xdg;
    std::filesystem::path logFile = xdg.Root() / "tally.log";
    sim::CTallySimulator counter{xdg.PortsFolder(), kCom};
    void* handle = nullptr;
};

}  // namespace tallytest
