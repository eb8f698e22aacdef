// Shared set-up of the head driver tests: a simulated head unit on a
// pseudo-terminal linked as COM4 in a private ports folder, the driver
// connected to it through the exports, and the driver log in a temporary
// file for the tests that check log entries.
#pragma once

#include "TestEvent.h"
#include "TestSupport.h"
#include "head/HeadSimulator.h"

#include <QuorvexDll/QuorvexDll.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace qvtest {

using namespace std::chrono_literals;
using testsupport::kLimit;

constexpr unsigned kCom = 4;

using testsupport::CTestEvent;

class QuorvexTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_head = std::make_unique<sim::CHeadSimulator>(m_xdg.PortsFolder(), kCom);
        m_head->SetMotionTimes(30ms, 30ms);
        m_head->Start();
    }
    void TearDown() override {
        if (m_handle) {
            EXPECT_EQ(Quorvex_Disconnect(&m_handle, 1, nullptr), QuorvexSuccess);
        }
        m_head.reset();
        Quorvex_SetLogCeiling(0);
        Quorvex_SetLogfilePath(L"");
    }

    QuorvexError Connect(int wait = 1, HANDLE event = nullptr, unsigned com = kCom) {
        return Quorvex_Connect(static_cast<int>(com), 9600, 0, 8, 0, 0, &m_handle, wait, event);
    }
    void ConnectOrFail() { ASSERT_EQ(Connect(), QuorvexSuccess); }

    // Log into a file of the test's own at the given ceiling.
    void EnableLog(unsigned ceiling = 7) {
        m_logPath = m_xdg.Root() / "quorvex.log";
        ASSERT_EQ(Quorvex_SetLogfilePath(m_logPath.wstring().c_str()), QuorvexSuccess);
        ASSERT_EQ(Quorvex_SetLogCeiling(ceiling), QuorvexSuccess);
    }
    std::string LogText() const { return testsupport::ReadFile(m_logPath); }
    // The log is written by other threads: wait for an entry to appear.
    bool LogHas(const std::string& text, std::chrono::milliseconds limit = kLimit) const {
        return testsupport::WaitUntil([&] { return LogText().find(text) != std::string::npos; }, limit);
    }
    // What the head received, after the connection's own "I?" and "S?".
    std::vector<std::string> Wire() const {
        std::vector<std::string> texts;
        for (const auto& c : m_head->Received())
            if (c.text != "I?" && c.text != "S?") texts.push_back(c.text);
        return texts;
    }
    std::filesystem::path WriteFile(const std::string& name, const std::string& content) const {
        const auto path = m_xdg.Root() / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    testsupport::CTempXdg m_xdg;
    std::unique_ptr<sim::CHeadSimulator> m_head;
    void* m_handle = nullptr;
    std::filesystem::path m_logPath;
};

}  // namespace qvtest
