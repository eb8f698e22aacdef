// PsuDll set commands and numeric queries: the exact text on the wire, the
// argument checks, the blocking, non-blocking and callback forms and the
// handling of bad or missing replies.
#include "PsuFixture.h"

#include <atomic>
#include <cmath>
#include <thread>

namespace psutest {
namespace {

using CommandsTest = ConnectedPsuTest;

// The supply shows what the driver meant: quotes doubled on the wire come
// back single, and the display and range settings stick.
TEST_F(CommandsTest, SetCommandsSendAndLogExactlyTheirTextAndTheSupplyKeepsThem) {
    const AgilentError results[] = {
        Agilent_SetCurrent(m_handle, 8.5, 1, nullptr), Agilent_SetVoltage(m_handle, 15.0, 1, nullptr),
        Agilent_SetCurrentLimit(m_handle, 8.5, 1, nullptr), Agilent_SetVoltageLimit(m_handle, 16.0004, 1, nullptr),
        Agilent_ResetOCP(m_handle, 1, nullptr), Agilent_ResetOVP(m_handle, 1, nullptr),
        Agilent_SetOutput(m_handle, AgilentOutput_On, 1, nullptr),
        Agilent_SetOutput(m_handle, AgilentOutput_Off, 1, nullptr),
        Agilent_SetDisplay(m_handle, AgilentDisplay_On, 1, nullptr),
        Agilent_SetDisplay(m_handle, AgilentDisplay_Off, 1, nullptr),
        Agilent_SetVoltageRange(m_handle, AgilentVoltageRange_P20V, 1, nullptr),
        Agilent_SetVoltageRange(m_handle, AgilentVoltageRange_P8V, 1, nullptr),
        Agilent_SetVoltageRange(m_handle, AgilentVoltageRange_High, 1, nullptr),
        Agilent_SetVoltageRange(m_handle, AgilentVoltageRange_Low, 1, nullptr),
        Agilent_SetCurrent(m_handle, -0.0004, 1, nullptr),
        Agilent_SetDisplayMessage(m_handle, "say \"hi\"", 1, nullptr)};
    for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], AgilentSuccess) << i;
    EXPECT_EQ(WireUpToMarker(),
              (std::vector<std::string>{"CURR 8.500", "VOLT 15.000", "CURR:PROT 8.500", "VOLT:PROT 16.000",
                                        "CURR:PROT:CLE", "VOLT:PROT:CLE", "OUTP ON", "OUTP OFF", "DISP ON",
                                        "DISP OFF", "VOLT:RANG P20V", "VOLT:RANG P8V", "VOLT:RANG P20V",
                                        "VOLT:RANG P8V", "CURR -0.000", "DISP:TEXT \"say \"\"hi\"\"\"", "VOLT?"}));
    // Each ended with CR LF: nothing is left over as an unfinished command.
    EXPECT_EQ(m_sim->PendingInput(), "");
    const auto state = m_sim->State();
    EXPECT_FALSE(state.DisplayOn());
    EXPECT_TRUE(state.LowRange());
    EXPECT_EQ(state.DisplayText(), "say \"hi\"");
    EXPECT_TRUE(state.DisplayTextShown());

    // Without waiting: the caller's event is signalled once the command is
    // written, and without an event the command still goes out.
    m_sim->ClearReceived();
    CTestEvent written;
    ASSERT_EQ(Agilent_SetCurrent(m_handle, 1.25, 0, written.Get()), AgilentSuccess);
    ASSERT_TRUE(written.Wait());
    ASSERT_EQ(Agilent_SetOutput(m_handle, AgilentOutput_On, 0, written.Get()), AgilentSuccess);
    ASSERT_TRUE(written.Wait());
    ASSERT_EQ(Agilent_SetDisplayMessage(m_handle, "", 0, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_ClearDisplayMessage(m_handle, 0, nullptr), AgilentSuccess);
    EXPECT_EQ(WireAfter(4), (std::vector<std::string>{"CURR 1.250", "OUTP ON", "DISP:TEXT \"\"", "DISP:TEXT:CLE"}));
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] { return m_sim->State().OutputEnabled() && !m_sim->State().DisplayTextShown(); }));
    for (const char* message :
         {": Setting the current to 8.500A.\n", ": Setting the voltage to 15.000V.\n",
          ": Setting the current limit to 8.500A.\n", ": Setting the voltage limit to 16.000V.\n",
          ": Setting output to AgilentOutput_Off.\n", ": Setting display to AgilentDisplay_Off.\n",
          ": Setting voltage range to AgilentVoltageRange_High.\n",
          ": Setting custom display message to \"say \"hi\"\".\n", ": Clearing custom display message.\n",
          ": Resetting Over Current Protection.\n", ": Resetting Over Voltage Protection.\n"}) {
        EXPECT_TRUE(LogHas(message)) << message;
    }
}

// Enumerations outside their tables, set points that are not finite (they
// would go out as "CURR inf" or "CURR -nan"), display texts that would end
// the command early, and missing outputs.
TEST_F(CommandsTest, BadArgumentsAreRefusedWithoutSending) {
    CTestEvent written;
    const AgilentError results[] = {
        Agilent_SetOutput(m_handle, static_cast<AgilentOutput>(2), 1, nullptr),
        Agilent_SetOutput(m_handle, static_cast<AgilentOutput>(-1), 0, written.Get()),
        Agilent_SetDisplay(m_handle, static_cast<AgilentDisplay>(2), 1, nullptr),
        Agilent_SetVoltageRange(m_handle, static_cast<AgilentVoltageRange>(4), 1, nullptr),
        Agilent_SetVoltageRange(m_handle, static_cast<AgilentVoltageRange>(1000000), 1, nullptr),
        Agilent_SetDisplayMessage(m_handle, "A\r\nOUTP ON", 1, nullptr),
        Agilent_SetDisplayMessage(m_handle, "A\nB", 0, written.Get()),
        Agilent_SetDisplayMessage(m_handle, "tab\there", 1, nullptr),
        Agilent_SetDisplayMessage(m_handle, nullptr, 1, nullptr),
        Agilent_GetCurrent(m_handle, nullptr),
        Agilent_GetVoltage(m_handle, nullptr),
        Agilent_MeasureCurrent(m_handle, nullptr),
        Agilent_MeasureVoltage(m_handle, nullptr),
        Agilent_GetOutput(m_handle, nullptr)};
    for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], AgilentErrorInvalidParameter) << i;
    for (const double bad : {double(INFINITY), double(-INFINITY), double(NAN)}) {
        for (auto set : {&Agilent_SetCurrent, &Agilent_SetVoltage, &Agilent_SetCurrentLimit,
                         &Agilent_SetVoltageLimit}) {
            EXPECT_EQ(set(m_handle, bad, 1, nullptr), AgilentErrorInvalidParameter) << bad;
            EXPECT_EQ(set(m_handle, bad, 0, written.Get()), AgilentErrorInvalidParameter) << bad;
        }
    }
    EXPECT_EQ(WireUpToMarker(), std::vector<std::string>{"VOLT?"});
    EXPECT_FALSE(written.IsSet());
}

// Set points and measurements each come from their own command and reply:
// with the lamp lit, no two of the four values are alike.
TEST_F(CommandsTest, QueriesReadSetPointsAndLampMeasurements) {
    ASSERT_EQ(Agilent_SetVoltage(m_handle, 15.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetCurrent(m_handle, 8.333, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetOutput(m_handle, AgilentOutput_On, 1, nullptr), AgilentSuccess);
    double current = -1, voltage = -1, measuredI = -1, measuredV = -1;
    AgilentOutput output = AgilentOutput_Off;
    ASSERT_EQ(Agilent_GetCurrent(m_handle, &current), AgilentSuccess);
    ASSERT_EQ(Agilent_GetVoltage(m_handle, &voltage), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureCurrent(m_handle, &measuredI), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureVoltage(m_handle, &measuredV), AgilentSuccess);
    ASSERT_EQ(Agilent_GetOutput(m_handle, &output), AgilentSuccess);
    EXPECT_EQ(output, AgilentOutput_On);
    EXPECT_EQ(current, 8.333);
    EXPECT_EQ(voltage, 15.0);
    EXPECT_DOUBLE_EQ(measuredI, 8.333);
    EXPECT_DOUBLE_EQ(measuredV, 12.4995);  // across the 1.5 ohm lamp
    EXPECT_EQ(WireAfter(8), (std::vector<std::string>{"VOLT 15.000", "CURR 8.333", "OUTP ON", "CURR?", "VOLT?",
                                                      "MEAS:CURR?", "MEAS:VOLT?", "OUTP?"}));
    // Below the lamp's 12.5 V the voltage set point limits the current.
    ASSERT_EQ(Agilent_SetVoltage(m_handle, 6.0, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_MeasureCurrent(m_handle, &measuredI), AgilentSuccess);
    EXPECT_DOUBLE_EQ(measuredI, 4.0);
    ASSERT_EQ(Agilent_SetOutput(m_handle, AgilentOutput_Off, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_GetOutput(m_handle, &output), AgilentSuccess);
    EXPECT_EQ(output, AgilentOutput_Off);
    for (const char* message : {": Getting the current setpoint.", ": Getting the voltage setpoint.",
                                ": Getting the measured current value.", ": Getting the measured voltage value.",
                                ": Getting the output state."}) {
        EXPECT_TRUE(LogHas(message)) << message;
    }
}

// A reply that does not convert, or that never ends (waits out the reply
// time-out), fails the query without touching its output, and leaves nothing
// behind that the next query could read (a "12" left over would make it 127).
TEST_F(CommandsTest, RepliesConvertLikeScanfDoubleAndBadOnesFailLeavingTheOutput) {
    struct Case {
        const char* reply;
        double value;  // NAN: the query fails and logs `error`
        const char* error;
    };
    for (const Case c :
         {Case{"+8.33300000E+00\r\n", 8.333, ""}, Case{"  1.5e2V\r\n", 150.0, ""}, Case{"-2\r\n", -2.0, ""},
          Case{".5,extra\r\n", 0.5, ""},
          Case{"abc\r\n", NAN, ": Error converting response to double. Response = \"abc\"."},
          Case{"12", NAN, ": Command timed out! Partial response received: \"12\"."},
          Case{"7\r\n", 7.0, ""}}) {
        SCOPED_TRACE(c.reply);
        m_sim->OverrideReply(R"(MEAS:CURR\?)", c.reply);
        double value = 42.0;
        const bool good = !std::isnan(c.value);
        EXPECT_EQ(Agilent_MeasureCurrent(m_handle, &value), good ? AgilentSuccess : AgilentErrorCommandFailed);
        EXPECT_EQ(value, good ? c.value : 42.0);
        EXPECT_TRUE(good || LogHas(c.error)) << c.error;
    }
}

// The first callback waits out the reply time-out: it is called once, with
// "invalid" and the last good value, and the reply to the next query of the
// same kind is not handed to it.
TEST_F(CommandsTest, CallbackQueriesCallOnceOnTheSerialThreadAlsoWhenTimedOut) {
    ASSERT_EQ(Agilent_SetCurrent(m_handle, 2.5, 1, nullptr), AgilentSuccess);
    testsupport::CLatch first, latch;
    std::atomic<int> valid{-1};
    std::atomic<double> value{0.0};
    std::atomic<bool> onCallerThread{false};
    const auto caller = std::this_thread::get_id();
    auto token = std::make_shared<int>(0);
    auto record = [&, token](int v, double x) {
        valid = v;
        value = x;
        onCallerThread = std::this_thread::get_id() == caller;
        first.Signal();
    };
    ASSERT_EQ(Agilent_GetCurrentCallback(m_handle, record), AgilentSuccess);
    ASSERT_TRUE(first.WaitFor(1));
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(value, 2.5);
    EXPECT_FALSE(onCallerThread);

    m_sim->InjectFault(R"(MEAS:CURR\?)", sim::Fault{sim::FaultKind::NoReply});
    ASSERT_EQ(Agilent_MeasureCurrentCallback(m_handle, std::move(record)), AgilentSuccess);
    ASSERT_TRUE(first.WaitFor(2));
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(value, 2.5);
    EXPECT_FALSE(onCallerThread);
    EXPECT_TRUE(LogHas(": Command timed out! Partial response received: \"\"."));
    // Released once it has been called.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return token.use_count() == 1; }));

    for (auto query : {&Agilent_GetVoltageCallback, &Agilent_MeasureCurrentCallback,
                       &Agilent_MeasureVoltageCallback}) {
        ASSERT_EQ(query(m_handle, [&](int, double) { latch.Signal(); }), AgilentSuccess);
    }
    ASSERT_TRUE(latch.WaitFor(3));
    EXPECT_EQ(first.Count(), 2);
    // An empty callable still sends its query.
    ASSERT_EQ(Agilent_GetVoltageCallback(m_handle, nullptr), AgilentSuccess);
    EXPECT_EQ(WireAfter(7), (std::vector<std::string>{"CURR 2.500", "CURR?", "MEAS:CURR?", "VOLT?",
                                                      "MEAS:CURR?", "MEAS:VOLT?", "VOLT?"}));
}

TEST_F(CommandsTest, OverlappingBlockingQueriesEachGetTheirOwnReply) {
    ASSERT_EQ(Agilent_SetCurrent(m_handle, 1.5, 1, nullptr), AgilentSuccess);
    ASSERT_EQ(Agilent_SetVoltage(m_handle, 3.25, 1, nullptr), AgilentSuccess);
    constexpr int kRounds = 15;
    std::atomic<int> wrong{0};
    testsupport::CLatch callbacks;
    auto reader = [&](AgilentError (*query)(void*, double*), double expected) {
        for (int i = 0; i < kRounds; ++i) {
            double value = 0.0;
            if (query(m_handle, &value) != AgilentSuccess || value != expected) ++wrong;
        }
    };
    std::thread currents(reader, &Agilent_GetCurrent, 1.5);
    std::thread voltages(reader, &Agilent_GetVoltage, 3.25);
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(Agilent_MeasureVoltageCallback(m_handle,
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
