// PsuDll set commands and numeric queries: the exact text on the wire, the
// argument checks, the blocking, non-blocking and callback forms and the
// handling of bad or missing replies.
#include "PsuFixture.h"

#include <atomic>
#include <cmath>
#include <thread>

namespace psutest {
namespace {

class CommandsTest : public PsuTest {
protected:
    void SetUp() override {
        PsuTest::SetUp();
        Connect();
    }
};

TEST_F(CommandsTest, BlockingSetCommandsSendAndLogExactlyTheirText) {
    EXPECT_EQ(Agilent_SetCurrent(handle, 8.5, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetVoltage(handle, 15.0, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetCurrentLimit(handle, 8.5, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetVoltageLimit(handle, 16.0004, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_ResetOCP(handle, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_ResetOVP(handle, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetOutput(handle, AgilentOutput_On, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetOutput(handle, AgilentOutput_Off, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetDisplay(handle, AgilentDisplay_Off, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetDisplay(handle, AgilentDisplay_On, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetDisplayMessage(handle, "AB", 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_ClearDisplayMessage(handle, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetVoltageRange(handle, AgilentVoltageRange_P8V, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetVoltageRange(handle, AgilentVoltageRange_P20V, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetVoltageRange(handle, AgilentVoltageRange_Low, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetVoltageRange(handle, AgilentVoltageRange_High, 1, nullptr), AgilentSuccess);
    EXPECT_EQ(Agilent_SetCurrent(handle, -0.0004, 1, nullptr), AgilentSuccess);

    const std::vector<std::string> expected{
        "CURR 8.500",    "VOLT 15.000",    "CURR:PROT 8.500", "VOLT:PROT 16.000",
        "CURR:PROT:CLE", "VOLT:PROT:CLE",  "OUTP ON",         "OUTP OFF",
        "DISP OFF",      "DISP ON",        "DISP:TEXT \"AB\"", "DISP:TEXT:CLE",
        "VOLT:RANG P8V", "VOLT:RANG P20V", "VOLT:RANG P8V",   "VOLT:RANG P20V",
        "CURR -0.000"};
    EXPECT_EQ(WireAfter(expected.size()), expected);
    // Each ended with CR LF: nothing is left over as an unfinished command.
    EXPECT_EQ(sim->PendingInput(), "");
    for (const char* message :
         {": Setting the current to 8.500A.\n", ": Setting the voltage to 15.000V.\n",
          ": Setting the current limit to 8.500A.\n", ": Setting the voltage limit to 16.000V.\n",
          ": Setting output to AgilentOutput_Off.\n", ": Setting display to AgilentDisplay_On.\n",
          ": Setting voltage range to AgilentVoltageRange_High.\n",
          ": Setting custom display message to \"AB\".\n", ": Clearing custom display message.\n",
          ": Resetting Over Current Protection.\n", ": Resetting Over Voltage Protection.\n"}) {
        EXPECT_TRUE(LogHas(message)) << message;
    }
}

TEST_F(CommandsTest, NonBlockingSetSignalsTheEventOnceWritten) {
    CTestEvent written;
    ASSERT_EQ(Agilent_SetCurrent(handle, 1.25, 0, written.Get()), AgilentSuccess);
    ASSERT_TRUE(written.Wait());
    ASSERT_EQ(Agilent_SetOutput(handle, AgilentOutput_On, 0, written.Get()), AgilentSuccess);
    ASSERT_TRUE(written.Wait());
    // Without an event the command still goes out.
    ASSERT_EQ(Agilent_ResetOVP(handle, 0, nullptr), AgilentSuccess);
    EXPECT_EQ(WireAfter(3), (std::vector<std::string>{"CURR 1.250", "OUTP ON", "VOLT:PROT:CLE"}));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return sim->State().OutputEnabled(); }));
}

// Enumerations outside their tables, and set points that are not finite
// (they would go out as "CURR inf" or "CURR -nan").
TEST_F(CommandsTest, ValuesOutsideTheirRangeAreRefusedWithoutSending) {
    CTestEvent written;
    EXPECT_EQ(Agilent_SetOutput(handle, static_cast<AgilentOutput>(2), 1, nullptr),
              AgilentErrorInvalidParameter);
    EXPECT_EQ(Agilent_SetOutput(handle, static_cast<AgilentOutput>(-1), 0, written.Get()),
              AgilentErrorInvalidParameter);
    EXPECT_EQ(Agilent_SetDisplay(handle, static_cast<AgilentDisplay>(2), 1, nullptr),
              AgilentErrorInvalidParameter);
    EXPECT_EQ(Agilent_SetVoltageRange(handle, static_cast<AgilentVoltageRange>(4), 1, nullptr),
              AgilentErrorInvalidParameter);
    EXPECT_EQ(Agilent_SetVoltageRange(handle, static_cast<AgilentVoltageRange>(1000000), 1, nullptr),
              AgilentErrorInvalidParameter);
    for (const double bad : {double(INFINITY), double(-INFINITY), double(NAN)}) {
        for (auto set : {&Agilent_SetCurrent, &Agilent_SetVoltage, &Agilent_SetCurrentLimit,
                         &Agilent_SetVoltageLimit}) {
            EXPECT_EQ(set(handle, bad, 1, nullptr), AgilentErrorInvalidParameter) << bad;
            EXPECT_EQ(set(handle, bad, 0, written.Get()), AgilentErrorInvalidParameter) << bad;
        }
    }
    EXPECT_EQ(WireUpToMarker(), std::vector<std::string>{"VOLT?"});
    EXPECT_FALSE(written.IsSet());
}

TEST_F(CommandsTest, DisplayMessageDoublesQuotesAndRefusesLineBreaks) {
    ASSERT_EQ(Agilent_SetDisplayMessage(handle, "say \"hi\"", 1, nullptr), AgilentSuccess);
    EXPECT_EQ(WireUpToMarker(), (std::vector<std::string>{"DISP:TEXT \"say \"\"hi\"\"\"", "VOLT?"}));
    EXPECT_EQ(sim->State().DisplayText(), "say \"hi\"");
    sim->ClearReceived();

    EXPECT_EQ(Agilent_SetDisplayMessage(handle, "A\r\nOUTP ON", 1, nullptr), AgilentErrorInvalidParameter);
    EXPECT_EQ(Agilent_SetDisplayMessage(handle, "A\nB", 1, nullptr), AgilentErrorInvalidParameter);
    EXPECT_EQ(Agilent_SetDisplayMessage(handle, "tab\there", 0, nullptr), AgilentErrorInvalidParameter);
    EXPECT_EQ(Agilent_SetDisplayMessage(handle, nullptr, 1, nullptr), AgilentErrorInvalidParameter);
    EXPECT_EQ(WireUpToMarker(), std::vector<std::string>{"VOLT?"});
    EXPECT_FALSE(sim->State().OutputEnabled());

    ASSERT_EQ(Agilent_SetDisplayMessage(handle, "", 1, nullptr), AgilentSuccess);
    ASSERT_TRUE(sim->WaitForCount(2, kLimit));
    EXPECT_EQ(Wire().back(), "DISP:TEXT \"\"");
}

TEST_F(CommandsTest, QueriesReadSetPointsAndLampMeasurements) {
    ASSERT_EQ(Agilent_SetVoltage(handle, 15.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetCurrent(handle, 8.333, 1, nullptr), AgilentSuccess);
    double current = -1, voltage = -1, measuredI = -1, measuredV = -1;
    ASSERT_EQ(Agilent_GetCurrent(handle, &current), AgilentSuccess);
    ASSERT_EQ(Agilent_GetVoltage(handle, &voltage), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureCurrent(handle, &measuredI), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureVoltage(handle, &measuredV), AgilentSuccess);
    EXPECT_EQ(current, 8.333);
    EXPECT_EQ(voltage, 15.0);
    EXPECT_EQ(measuredI, 0.0);  // output still off
    EXPECT_EQ(measuredV, 0.0);

    ASSERT_EQ(Agilent_SetOutput(handle, AgilentOutput_On, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureCurrent(handle, &measuredI), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureVoltage(handle, &measuredV), AgilentSuccess);
    EXPECT_DOUBLE_EQ(measuredI, 8.333);
    EXPECT_GT(measuredV, 0.0);
    EXPECT_LE(measuredV, 15.0);

    EXPECT_EQ(WireAfter(8), (std::vector<std::string>{"VOLT 15.000", "CURR 8.333", "CURR?", "VOLT?",
                                                      "MEAS:CURR?", "MEAS:VOLT?", "OUTP ON", "MEAS:CURR?",
                                                      "MEAS:VOLT?"}));
    EXPECT_TRUE(LogHas(": Getting the current setpoint."));
    EXPECT_TRUE(LogHas(": Getting the voltage setpoint."));
    EXPECT_TRUE(LogHas(": Getting the measured current value."));
    EXPECT_TRUE(LogHas(": Getting the measured voltage value."));
}

TEST_F(CommandsTest, RepliesConvertLikeScanfDouble) {
    struct Case {
        const char* reply;
        double value;
    };
    for (const Case c : {Case{"+8.33300000E+00\r\n", 8.333}, Case{"  1.5e2V\r\n", 150.0},
                         Case{"-2\r\n", -2.0}, Case{".5,extra\r\n", 0.5}}) {
        sim->OverrideReply(R"(MEAS:CURR\?)", c.reply);
        double value = 0.0;
        EXPECT_EQ(Agilent_MeasureCurrent(handle, &value), AgilentSuccess) << c.reply;
        EXPECT_EQ(value, c.value) << c.reply;
    }
}

TEST_F(CommandsTest, UnconvertibleReplyFailsAndLeavesTheOutputAlone) {
    sim->OverrideReply(R"(MEAS:CURR\?)", "abc\r\n");
    double value = 42.0;
    EXPECT_EQ(Agilent_MeasureCurrent(handle, &value), AgilentErrorCommandFailed);
    EXPECT_EQ(value, 42.0);
    EXPECT_TRUE(LogHas(": Error converting response to double. Response = \"abc\"."));

    sim->ClearOverrides();
    sim->InjectFault(R"(CURR\?)", sim::Fault{sim::FaultKind::Garbage});
    EXPECT_EQ(Agilent_GetCurrent(handle, &value), AgilentErrorCommandFailed);
    EXPECT_EQ(value, 42.0);
    // The next query is unaffected.
    EXPECT_EQ(Agilent_GetCurrent(handle, &value), AgilentSuccess);
    EXPECT_EQ(value, 0.0);
}

TEST_F(CommandsTest, TimedOutReplyFailsAndLogsThePartialText) {
    sim->OverrideReply(R"(MEAS:VOLT\?)", "12");  // never terminated
    double value = 42.0;
    EXPECT_EQ(Agilent_MeasureVoltage(handle, &value), AgilentErrorCommandFailed);
    EXPECT_EQ(value, 42.0);
    EXPECT_TRUE(LogHas(": Command timed out! Partial response received: \"12\"."));
    sim->ClearOverrides();
    EXPECT_EQ(Agilent_MeasureVoltage(handle, &value), AgilentSuccess);
    EXPECT_EQ(value, 0.0);
}

TEST_F(CommandsTest, NullOutputIsRefusedWithoutSending) {
    EXPECT_EQ(Agilent_GetCurrent(handle, nullptr), AgilentErrorInvalidParameter);
    EXPECT_EQ(Agilent_GetVoltage(handle, nullptr), AgilentErrorInvalidParameter);
    EXPECT_EQ(Agilent_MeasureCurrent(handle, nullptr), AgilentErrorInvalidParameter);
    EXPECT_EQ(Agilent_MeasureVoltage(handle, nullptr), AgilentErrorInvalidParameter);
    EXPECT_EQ(WireUpToMarker(), std::vector<std::string>{"VOLT?"});
}

TEST_F(CommandsTest, CallbackQueriesCallOnceOnTheSerialThread) {
    ASSERT_EQ(Agilent_SetCurrent(handle, 2.5, 1, nullptr), AgilentSuccess);
    testsupport::CLatch latch;
    std::atomic<int> valid{-1};
    std::atomic<double> value{0.0};
    std::atomic<bool> onCallerThread{false};
    const auto caller = std::this_thread::get_id();
    auto token = std::make_shared<int>(0);
    ASSERT_EQ(Agilent_GetCurrentCallback(handle,
                                         [&, token](int v, double x) {
                                             valid = v;
                                             value = x;
                                             onCallerThread = std::this_thread::get_id() == caller;
                                             latch.Signal();
                                         }),
              AgilentSuccess);
    ASSERT_TRUE(latch.WaitFor(1));
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(value, 2.5);
    EXPECT_FALSE(onCallerThread);
    // Released once it has been called.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return token.use_count() == 1; }));

    for (auto query : {&Agilent_GetVoltageCallback, &Agilent_MeasureCurrentCallback,
                       &Agilent_MeasureVoltageCallback}) {
        ASSERT_EQ(query(handle, [&](int, double) { latch.Signal(); }), AgilentSuccess);
    }
    ASSERT_TRUE(latch.WaitFor(4));
    // An empty callable still sends its query.
    ASSERT_EQ(Agilent_GetVoltageCallback(handle, nullptr), AgilentSuccess);
    EXPECT_EQ(WireAfter(6), (std::vector<std::string>{"CURR 2.500", "CURR?", "VOLT?", "MEAS:CURR?",
                                                      "MEAS:VOLT?", "VOLT?"}));
}

TEST_F(CommandsTest, TimedOutCallbackIsCalledOnceWithInvalidAndNotAgain) {
    ASSERT_EQ(Agilent_SetCurrent(handle, 1.5, 1, nullptr), AgilentSuccess);
    double good = 0.0;
    ASSERT_EQ(Agilent_GetCurrent(handle, &good), AgilentSuccess);

    sim->InjectFault(R"(MEAS:CURR\?)", sim::Fault{sim::FaultKind::NoReply});
    testsupport::CLatch first, second;
    std::atomic<int> firstValid{-1};
    std::atomic<double> firstValue{-1.0};
    ASSERT_EQ(Agilent_MeasureCurrentCallback(handle,
                                             [&](int v, double x) {
                                                 firstValid = v;
                                                 firstValue = x;
                                                 first.Signal();
                                             }),
              AgilentSuccess);
    ASSERT_TRUE(first.WaitFor(1));
    EXPECT_EQ(firstValid, 0);
    EXPECT_EQ(firstValue, 1.5);  // the last good value comes with a failure
    EXPECT_TRUE(LogHas(": Command timed out! Partial response received: \"\"."));

    ASSERT_EQ(Agilent_MeasureCurrentCallback(handle, [&](int, double) { second.Signal(); }),
              AgilentSuccess);
    ASSERT_TRUE(second.WaitFor(1));
    EXPECT_EQ(first.Count(), 1);
}

TEST_F(CommandsTest, OverlappingBlockingQueriesEachGetTheirOwnReply) {
    ASSERT_EQ(Agilent_SetCurrent(handle, 1.5, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetVoltage(handle, 3.25, 1, nullptr), AgilentSuccess);
    constexpr int kRounds = 15;
    std::atomic<int> wrong{0};
    testsupport::CLatch callbacks;
    auto reader = [&](AgilentError (*query)(void*, double*), double expected) {
        for (int i = 0; i < kRounds; ++i) {
            double value = 0.0;
            if (query(handle, &value) != AgilentSuccess || value != expected) ++wrong;
        }
    };
    std::thread currents(reader, &Agilent_GetCurrent, 1.5);
    std::thread voltages(reader, &Agilent_GetVoltage, 3.25);
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(Agilent_MeasureVoltageCallback(handle,
                                                 [&](int v, double x) {
                                                     if (v != 1 || x != 0.0) ++wrong;
                                                     callbacks.Signal();
                                                 }),
                  AgilentSuccess);
    }
    currents.join();
    voltages.join();
    ASSERT_TRUE(callbacks.WaitFor(kRounds));
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace psutest
