// Shared set-up of the PsuDll tests: a simulated E3633A on a private COM
// port, a log file in the test's own folder, and helpers to read what went
// over the wire and into the log.
#pragma once

#include "PsuDll/PsuDll.h"
#include "PsuSimulator.h"
#include "TestEvent.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
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

class PsuTest : public ::testing::Test {
protected:
    static constexpr unsigned kCom = 7;

    PsuTest() : sim(std::make_unique<sim::CPsuSimulator>(tmp.PortsFolder(), kCom)) {}

    void SetUp() override {
        sim->Start();
        logPath = tmp.Root() / "psu.log";
        Agilent_SetLogfilePath(logPath.wstring().c_str());
        ASSERT_EQ(Agilent_SetLogCeiling(7), AgilentSuccess);
    }

    void TearDown() override {
        if (handle) {
            EXPECT_EQ(Agilent_Disconnect(&handle, 1, nullptr), AgilentSuccess);
        }
    }

    static SerialPortSettingsStruct Settings(unsigned com = kCom) {
        return SerialPortSettingsStruct{static_cast<int32_t>(com), 9600, 0, 8, 2, 0};
    }

    // Connects blocking and forgets the identification traffic, so a test's
    // wire record starts with its own commands.
    void Connect() {
        ASSERT_EQ(Agilent_Connect(Settings(), &handle, 1, nullptr), AgilentSuccess);
        ASSERT_NE(handle, nullptr);
        ASSERT_TRUE(sim->WaitForCommand("SYST:RWL", kLimit));
        sim->ClearReceived();
    }

    // The commands received so far, without their CR LF.
    std::vector<std::string> Wire() const {
        std::vector<std::string> texts;
        for (const auto& command : sim->Received()) texts.push_back(command.text);
        return texts;
    }

    // Waits until `count` commands have arrived, then returns them all.
    std::vector<std::string> WireAfter(size_t count) const {
        EXPECT_TRUE(sim->WaitForCount(count, kLimit)) << "only " << sim->Received().size();
        return Wire();
    }

    // A blocking query whose command marks a point on the wire: whatever a
    // call before it sent must come before it.
    std::vector<std::string> WireUpToMarker() {
        double value = 0.0;
        EXPECT_EQ(Agilent_GetVoltage(handle, &value), AgilentSuccess);
        return Wire();
    }

    std::string Log() const { return testsupport::ReadFile(logPath); }
    bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }
    bool WaitForLog(const std::string& text) const {
        return testsupport::WaitUntil([&] { return LogHas(text); });
    }

    testsupport::CTempXdg tmp;
    std::unique_ptr<sim::CPsuSimulator> sim;
    std::filesystem::path logPath;
    void* handle = nullptr;
};

}  // namespace psutest
