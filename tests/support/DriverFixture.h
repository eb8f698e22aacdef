// The base of every driver test: private XDG folders, a simulated instrument
// on a pseudo-terminal linked as COM7 there, the library's log in a file of
// the test's own at ceiling 7, the handle the test connects, and readers of
// what went over the wire and into the log.
//
// The library is named by its three set-up and disconnect exports, so one
// template serves the head, the supply and the counter. TearDown disconnects
// a handle the test left connected (waiting) and puts the library's log
// settings back, since they outlive the test.
#pragma once

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

template <typename Simulator, auto SetLogfilePath, auto SetLogCeiling, auto Disconnect>
class CDriverFixture : public ::testing::Test {
protected:
    static constexpr unsigned kCom = 7;

    CDriverFixture() : m_sim(std::make_unique<Simulator>(m_xdg.PortsFolder(), kCom)) {}

    void SetUp() override {
        m_sim->Start();
        ASSERT_EQ(static_cast<int>(SetLogfilePath(m_logPath.wstring().c_str())), 0);
        ASSERT_EQ(static_cast<int>(SetLogCeiling(7)), 0);
    }
    void TearDown() override {
        if (m_handle) {
            EXPECT_EQ(static_cast<int>(Disconnect(&m_handle, 1, nullptr)), 0);
        }
        m_sim.reset();
        SetLogCeiling(0);
        SetLogfilePath(L"");
    }

    // The commands received so far, without their line endings.
    std::vector<std::string> Wire() const {
        std::vector<std::string> texts;
        for (const auto& command : m_sim->Received()) texts.push_back(command.text);
        return texts;
    }
    // Waits until `count` commands have arrived, then returns them all.
    std::vector<std::string> WireAfter(size_t count) const {
        EXPECT_TRUE(m_sim->WaitForCount(count, kLimit)) << "only " << m_sim->Received().size();
        return Wire();
    }

    std::string LogText() const { return ReadFile(m_logPath); }
    bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }
    // The log is written by other threads: waits for an entry to appear.
    bool WaitForLog(const std::string& text, std::chrono::milliseconds limit = kLimit) const {
        return WaitUntil([&] { return LogHas(text); }, limit);
    }

    CTempXdg m_xdg;
    std::filesystem::path m_logPath = m_xdg.Root() / "driver.log";
    std::unique_ptr<Simulator> m_sim;
    void* m_handle = nullptr;
};

}  // namespace testsupport
