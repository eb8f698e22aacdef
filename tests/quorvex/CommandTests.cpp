// Acknowledgements, notifications, motion, reads and parameters of the head
// driver, through its exports against the simulated head.
#include "QuorvexFixture.h"

#include <thread>

namespace qvtest {
namespace {

using CommandTest = QuorvexTest;

struct AckCase {
    const char* reply;
    QuorvexError result;
    const char* logged;  // null: nothing at error level
    int code;            // what the last-refusal export gives
    const wchar_t* message;
};

class AcknowledgementTest : public QuorvexTest, public ::testing::WithParamInterface<AckCase> {};

TEST_P(AcknowledgementTest, CodeDecidesTheResultAndItsMessageIsLogged) {
    Ceiling(3);
    ConnectOrFail();
    m_sim->OverrideReply(R"(C3\(.*\))", GetParam().reply);
    EXPECT_EQ(Quorvex_SetParameter(m_handle, QuorvexParameterSecondaryWheelConfiguration, -12, 1, nullptr),
              GetParam().result);
    if (GetParam().logged) {
        EXPECT_TRUE(WaitForLog(GetParam().logged));
    } else {
        EXPECT_EQ(LogText().find("Error"), std::string::npos);
    }
    int code = 99;
    const wchar_t* message = nullptr;
    ASSERT_EQ(Quorvex_GetLastDeviceError(m_handle, &code, &message), QuorvexSuccess);
    EXPECT_EQ(code, GetParam().code);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(std::wstring(message), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, AcknowledgementTest,
    ::testing::Values(AckCase{"1", QuorvexSuccess, nullptr, 0, L""},
                      AckCase{"-6", QuorvexErrorCommandFailed, ": Error Code = -6, Message = Syntax Error", -6,
                              L"Syntax Error"},
                      AckCase{"-8", QuorvexErrorCommandFailed,
                              ": Error Code = -8, Message = Secondary Set Configuraiton Parameter Error", -8,
                              L"Secondary Set Configuraiton Parameter Error"},
                      AckCase{"0", QuorvexErrorCommandFailed, ": Error Code = 0, Message = Unknown Error Code", 0,
                              L"Unknown Error Code"},
                      AckCase{"2", QuorvexErrorCommandFailed, ": Error Code = 2, Message = Unknown Error Code", 2,
                              L"Unknown Error Code"},
                      AckCase{"OK", QuorvexErrorCommandFailed,
                              ": Error converting response to integer. Response = \"OK\".", 0, L""}));

TEST_F(CommandTest, ParametersAndMovesTravelAsCommandsAndReadBackDirectlyOrThroughCallbacksOnAWorker) {
    ConnectOrFail();
    m_sim->SetTemperatures(30.0, 31.0, 45.0, 25.0);
    ASSERT_EQ(Quorvex_SetParameter(m_handle, QuorvexParameterSecondaryWheelConfiguration, -12, 1, nullptr),
              QuorvexSuccess);
    int value = 0;
    ASSERT_EQ(Quorvex_GetParameter(m_handle, QuorvexParameterSecondaryWheelConfiguration, &value), QuorvexSuccess);
    EXPECT_EQ(value, -12);
    EXPECT_EQ(m_sim->Parameter(3), -12);
    // A move waits for its notification before the position is read.
    ASSERT_EQ(Quorvex_SetPosition(m_handle, 2, 7, 1, nullptr), QuorvexSuccess);
    int pair[2] = {};
    ASSERT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexSuccess);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"C3(-12)", "C3?", "P(2,7)", "P?"}));
    EXPECT_EQ(pair[0], 2);
    EXPECT_EQ(pair[1], 7);

    // Filled by the workers; the event each read signals orders it before
    // the checks here.
    const auto caller = std::this_thread::get_id();
    bool onCaller = false;
    std::vector<double> seen;  // valid, then the values, per callable
    const auto note = [&](std::initializer_list<double> values) {
        onCaller = onCaller || std::this_thread::get_id() == caller;
        seen.insert(seen.end(), values);
    };
    const auto parameter = [&](int valid, int value) { note({1.0 * valid, 1.0 * value}); };
    CTestEvent done;
    ASSERT_EQ(Quorvex_GetTemperatureCallback(
                  m_handle, [&](int valid, double a, double b, double c, double d) { note({1.0 * valid, a, b, c, d}); },
                  done.Get()),
              QuorvexSuccess);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(seen.size(), 5u);
    ASSERT_EQ(Quorvex_GetPositionCallback(
                  m_handle, [&](int valid, int p, int s) { note({1.0 * valid, 1.0 * p, 1.0 * s}); }, done.Get()),
              QuorvexSuccess);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(seen.size(), 8u);
    const auto kSecondary = QuorvexParameterSecondaryWheelConfiguration;
    ASSERT_EQ(Quorvex_GetParameterCallback(m_handle, kSecondary, parameter, done.Get()), QuorvexSuccess);
    ASSERT_TRUE(done.Wait());
    EXPECT_FALSE(onCaller);
    EXPECT_EQ(seen, (std::vector<double>{1, 30.0, 31.0, 45.0, 25.0, 1, 2, 7, 1, -12}));
    // A read that times out gives the callable the previous value, invalid.
    m_sim->InjectFault(R"(C3\?)", sim::Fault{sim::FaultKind::NoReply});
    seen.clear();
    ASSERT_EQ(Quorvex_GetParameterCallback(m_handle, kSecondary, parameter, done.Get()), QuorvexSuccess);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(seen, (std::vector<double>{0, -12}));

    ASSERT_EQ(Quorvex_Home(m_handle, 1, nullptr), QuorvexSuccess);
    ASSERT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexSuccess);
    EXPECT_EQ(pair[0], 0);
    EXPECT_EQ(pair[1], 0);
    // Without wait the call returns at once; the head still gets the command.
    ASSERT_EQ(Quorvex_SetParameter(m_handle, QuorvexParameterPrimaryWheelConfiguration, 7, 0, nullptr),
              QuorvexSuccess);
    EXPECT_TRUE(m_sim->WaitForCommand(R"(C2\(7\))", kLimit));
}

TEST_F(CommandTest, ReadRepliesAreConvertedOrFailTheRead) {
    Ceiling(3);
    ConnectOrFail();
    // Wire order: motor enclosure, bulb enclosure, primary motor, secondary motor.
    m_sim->OverrideReply(R"(T\?)", "20.5,21.0,22.5,23.0");
    double t[4] = {};
    ASSERT_EQ(Quorvex_GetTemperature(m_handle, t), QuorvexSuccess);
    EXPECT_EQ(std::vector<double>(t, t + 4), (std::vector<double>{22.5, 23.0, 21.0, 20.5}));

    m_sim->ClearOverrides();
    m_sim->OverrideReply(R"(T\?)", "20.5,21.0,22.5");
    EXPECT_EQ(Quorvex_GetTemperature(m_handle, t), QuorvexErrorCommandFailed);
    EXPECT_TRUE(WaitForLog(": GetTemperature response parsing failed. Response = \"20.5,21.0,22.5\"."));
    EXPECT_TRUE(WaitForLog(": GetTemperature command received an invalid response."));
    EXPECT_EQ(t[0], 22.5) << "output written only on success";

    int pair[2] = {-1, -1};
    m_sim->OverrideReply(R"(P\?)", "3");
    EXPECT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexErrorCommandFailed);
    EXPECT_TRUE(WaitForLog(": GetPosition response parsing failed. Response = \"3\"."));

    m_sim->InjectFault(R"(C4\?)", sim::Fault{sim::FaultKind::NoReply});
    int value = 0;
    EXPECT_EQ(Quorvex_GetParameter(m_handle, QuorvexParameter(4), &value), QuorvexErrorCommandFailed);
    EXPECT_TRUE(WaitForLog(": GetParameter command timed out! Partial response received: \"\"."));
    EXPECT_TRUE(WaitForLog(": Error code = 4, message = \"\"."));
}

TEST_F(CommandTest, RefusedActionsFailAtOnceAndUnwaitedOnesSignalTheCallersEventOnce) {
    Ceiling(4);
    ConnectOrFail();
    EXPECT_EQ(Quorvex_SetPosition(m_handle, 1, 12, 1, nullptr), QuorvexErrorCommandFailed);
    EXPECT_TRUE(WaitForLog(": Error Code = -2, Message = Parameter 2 Error"));
    EXPECT_EQ(Quorvex_SetPosition(m_handle, 3, 0, 1, nullptr), QuorvexErrorCommandFailed);
    EXPECT_TRUE(WaitForLog(": Error Code = -1, Message = Parameter 1 Error"));
    // 7 rather than 8: the refusal ends the call without the 20 s wait.
    m_sim->OverrideReply("H!", "-9");
    EXPECT_EQ(Quorvex_Home(m_handle, 1, nullptr), QuorvexErrorCommandFailed);
    EXPECT_TRUE(WaitForLog(": Error Code = -9, Message = Primary Homing Error"));
    int code = 0;
    const wchar_t* message = nullptr;
    ASSERT_EQ(Quorvex_GetLastDeviceError(m_handle, &code, &message), QuorvexSuccess);
    EXPECT_EQ(code, -9);
    EXPECT_EQ(std::wstring(message), L"Primary Homing Error");
    EXPECT_EQ(Quorvex_GetLastDeviceError(m_handle, &code, nullptr), QuorvexErrorInvalidParameter);
    m_sim->ClearOverrides();
    // Silence after a refusal is silence: the refusal is forgotten.
    m_sim->InjectFault(R"(P\(.*\))", sim::Fault{sim::FaultKind::NoReply});
    EXPECT_EQ(Quorvex_SetPosition(m_handle, 1, 1, 1, nullptr), QuorvexErrorCommandFailed);
    ASSERT_EQ(Quorvex_GetLastDeviceError(m_handle, &code, &message), QuorvexSuccess);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(std::wstring(message), L"");

    CTestEvent homed;
    ASSERT_EQ(Quorvex_Home(m_handle, 0, homed.Get()), QuorvexSuccess);
    ASSERT_TRUE(homed.Wait());
    // A second notification finds no event: the one marker line after it
    // shows it has been handled.
    m_sim->SendRaw("!H:1\r!H:2\r");
    ASSERT_TRUE(WaitForLog(": Unexpected response received. \"!H:2\"."));
    EXPECT_FALSE(homed.IsSet());

    // No event at all: nothing is signalled and nothing is left behind.
    ASSERT_EQ(Quorvex_SetPosition(m_handle, 1, 1, 0, nullptr), QuorvexSuccess);
    m_sim->SendRaw("!P:1\r!P:10\r");
    ASSERT_TRUE(WaitForLog(": Unexpected response received. \"!P:10\"."));
    ASSERT_EQ(Quorvex_SetPosition(m_handle, 1, 2, 1, nullptr), QuorvexSuccess);
}

TEST_F(CommandTest, BulbEnclosureWarmsWhileTheLampIsLit) {
    sim::CLampBus lamp;
    sim::CHeadSimulator head(m_xdg.PortsFolder(), kCom + 1, &lamp);
    const double cold = head.BulbTemperature();
    lamp.SetState(true, 1.2);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return head.BulbTemperature() > cold + 0.01; }));
    lamp.SetState(false, 0.0);
    const double lit = head.BulbTemperature();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return head.BulbTemperature() < lit; }));
}

}  // namespace
}  // namespace qvtest
