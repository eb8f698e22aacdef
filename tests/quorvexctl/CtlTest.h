// The fixture of the quorvexctl tests: the three simulated instruments on
// COM1..COM3, quorvexctl run as a child process against them, and readers
// of what it printed and what reached the instruments.
//
// One per test, on the test's thread; the simulators serve on their own.
#pragma once

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "SimulatedInstruments.h"

namespace ctltest {

using testsupport::ProcessResult;
using Wire = std::vector<std::string>;

class QuorvexCtlTest : public ::testing::Test {
protected:
    // The program and `args`, with the simulators' ports after them.
    static std::vector<std::string> Argv(std::vector<std::string> args) {
        args.insert(args.begin(), QUORVEXCTL_PATH);
        for (const char* option : {"--head", "COM1", "--supply", "COM2", "--counter", "COM3"}) args.push_back(option);
        return args;
    }
    static ProcessResult Ctl(const std::vector<std::string>& args, const std::optional<std::string>& input = {}) {
        return testsupport::RunProcess(Argv(args), testsupport::kLimit * 6, input);
    }
    // Without the ports options.
    static ProcessResult Bare(std::vector<std::string> args, const std::optional<std::string>& input = {}) {
        args.insert(args.begin(), QUORVEXCTL_PATH);
        return testsupport::RunProcess(args, testsupport::kLimit * 6, input);
    }

    // Standard output as one JSON document, nothing before or after it.
    static QJsonDocument Json(const ProcessResult& result) {
        QJsonParseError error{};
        QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(result.out), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << result.out;
        return document;
    }

    void ClearWire() {
        sims.head.ClearReceived();
        sims.supply.ClearReceived();
        sims.counter.ClearReceived();
    }
    // What `device` received, once it is `expected` or the limit passed: a
    // command that wants no reply may reach the simulator after the program ended.
    static Wire Settled(const sim::CSimDevice& device, const Wire& expected) {
        testsupport::WaitUntil([&] { return testsupport::CSimulatedInstruments::Wire(device) == expected; });
        return testsupport::CSimulatedInstruments::Wire(device);
    }
    std::filesystem::path File(const char* name) const { return sims.Xdg().Root() / name; }

    testsupport::CSimulatedInstruments sims;
};

}  // namespace ctltest
