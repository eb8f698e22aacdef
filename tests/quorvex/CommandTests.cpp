// Acknowledgements, notifications, motion, reads and parameters of the head
// driver, through its exports against the simulated head.
#include "QuorvexFixture.h"

#include <atomic>
#include <thread>

namespace qvtest {
namespace {

using CommandTest = QuorvexTest;

struct AckCase {
    const char* reply;
    QuorvexError result;
    const char* logged;  // null: nothing at error level
};

class AcknowledgementTest : public QuorvexTest, public ::testing::WithParamInterface<AckCase> {};

TEST_P(AcknowledgementTest, CodeDecidesTheResultAndItsMessageIsLogged) {
    EnableLog(3);
    ConnectOrFail();
    m_head->OverrideReply(R"(C3\(.*\))", GetParam().reply);
    EXPECT_EQ(Quorvex_SetParameter(m_handle, QuorvexParameterSecondaryWheelConfiguration, -12, 1, nullptr),
              GetParam().result);
    if (GetParam().logged) {
        EXPECT_TRUE(LogHas(GetParam().logged));
    } else {
        EXPECT_EQ(LogText().find("Error"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, AcknowledgementTest,
    ::testing::Values(AckCase{"1", QuorvexSuccess, nullptr},
                      AckCase{"-6", QuorvexErrorCommandFailed, ": Error Code = -6, Message = Syntax Error"},
                      AckCase{"-8", QuorvexErrorCommandFailed,
                              ": Error Code = -8, Message = Secondary Set Configuraiton Parameter Error"},
                      AckCase{"0", QuorvexErrorCommandFailed, ": Error Code = 0, Message = Unknown Error Code"},
                      AckCase{"2", QuorvexErrorCommandFailed, ": Error Code = 2, Message = Unknown Error Code"},
                      AckCase{"OK", QuorvexErrorCommandFailed,
                              ": Error converting response to integer. Response = \"OK\"."}));

TEST_F(CommandTest, ParametersTravelAsNumberedCommands) {
    ConnectOrFail();
    ASSERT_EQ(Quorvex_SetParameter(m_handle, QuorvexParameterSecondaryWheelConfiguration, -12, 1, nullptr),
              QuorvexSuccess);
    int value = 0;
    ASSERT_EQ(Quorvex_GetParameter(m_handle, QuorvexParameterSecondaryWheelConfiguration, &value), QuorvexSuccess);
    EXPECT_EQ(value, -12);
    EXPECT_EQ(m_head->Parameter(3), -12);
    EXPECT_EQ(Wire(), (std::vector<std::string>{"C3(-12)", "C3?"}));
    // Without wait the call returns at once; the head still gets the command.
    ASSERT_EQ(Quorvex_SetParameter(m_handle, QuorvexParameterPrimaryWheelConfiguration, 7, 0, nullptr),
              QuorvexSuccess);
    EXPECT_TRUE(m_head->WaitForCommand(R"(C2\(7\))", kLimit));
}

TEST_F(CommandTest, ReadRepliesAreConvertedOrFailTheRead) {
    EnableLog(3);
    ConnectOrFail();
    // Wire order: motor enclosure, bulb enclosure, primary motor, secondary motor.
    m_head->OverrideReply(R"(T\?)", "20.5,21.0,22.5,23.0");
    double t[4] = {};
    ASSERT_EQ(Quorvex_GetTemperature(m_handle, t), QuorvexSuccess);
    EXPECT_EQ(std::vector<double>(t, t + 4), (std::vector<double>{22.5, 23.0, 21.0, 20.5}));

    m_head->ClearOverrides();
    m_head->OverrideReply(R"(T\?)", "20.5,21.0,22.5");
    EXPECT_EQ(Quorvex_GetTemperature(m_handle, t), QuorvexErrorCommandFailed);
    EXPECT_TRUE(LogHas(": GetTemperature response parsing failed. Response = \"20.5,21.0,22.5\"."));
    EXPECT_TRUE(LogHas(": GetTemperature command received an invalid response."));
    EXPECT_EQ(t[0], 22.5) << "output written only on success";

    int pair[2] = {-1, -1};
    m_head->OverrideReply(R"(P\?)", "3");
    EXPECT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexErrorCommandFailed);
    EXPECT_TRUE(LogHas(": GetPosition response parsing failed. Response = \"3\"."));

    m_head->InjectFault(R"(C4\?)", sim::Fault{sim::FaultKind::NoReply});
    int value = 0;
    EXPECT_EQ(Quorvex_GetParameter(m_handle, QuorvexParameter(4), &value), QuorvexErrorCommandFailed);
    EXPECT_TRUE(LogHas(": GetParameter command timed out! Partial response received: \"\"."));
    EXPECT_TRUE(LogHas(": Error code = 4, message = \"\"."));
}

TEST_F(CommandTest, MoveWritesThePositionPairAndWaitsForItsNotification) {
    ConnectOrFail();
    ASSERT_EQ(Quorvex_SetPosition(m_handle, 2, 7, 1, nullptr), QuorvexSuccess);
    EXPECT_EQ(Wire(), std::vector<std::string>{"P(2,7)"});
    int pair[2] = {};
    ASSERT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexSuccess);
    EXPECT_EQ(pair[0], 2);
    EXPECT_EQ(pair[1], 7);
    ASSERT_EQ(Quorvex_Home(m_handle, 1, nullptr), QuorvexSuccess);
    ASSERT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexSuccess);
    EXPECT_EQ(pair[0], 0);
    EXPECT_EQ(pair[1], 0);
}

TEST_F(CommandTest, RefusedActionsFailAtOnceWithTheDeviceMessage) {
    EnableLog(3);
    ConnectOrFail();
    EXPECT_EQ(Quorvex_SetPosition(m_handle, 1, 12, 1, nullptr), QuorvexErrorCommandFailed);
    EXPECT_TRUE(LogHas(": Error Code = -2, Message = Parameter 2 Error"));
    EXPECT_EQ(Quorvex_SetPosition(m_handle, 3, 0, 1, nullptr), QuorvexErrorCommandFailed);
    EXPECT_TRUE(LogHas(": Error Code = -1, Message = Parameter 1 Error"));
    // 7 rather than 8: the refusal ends the call without the 20 s wait.
    m_head->OverrideReply("H!", "-9");
    EXPECT_EQ(Quorvex_Home(m_handle, 1, nullptr), QuorvexErrorCommandFailed);
    EXPECT_TRUE(LogHas(": Error Code = -9, Message = Primary Homing Error"));
}

TEST_F(CommandTest, ActionsWithoutWaitSignalTheCallersEventOnce) {
    EnableLog(4);
    ConnectOrFail();
    CTestEvent homed;
    ASSERT_EQ(Quorvex_Home(m_handle, 0, homed.Get()), QuorvexSuccess);
    ASSERT_TRUE(homed.Wait());
    // A second notification finds no event: the one marker line after it
    // shows it has been handled.
    m_head->SendRaw("!H:1\r!H:2\r");
    ASSERT_TRUE(LogHas(": Unexpected response received. \"!H:2\"."));
    EXPECT_FALSE(homed.IsSet());

    // No event at all: nothing is signalled and nothing is left behind.
    ASSERT_EQ(Quorvex_SetPosition(m_handle, 1, 1, 0, nullptr), QuorvexSuccess);
    m_head->SendRaw("!P:1\r!P:10\r");
    ASSERT_TRUE(LogHas(": Unexpected response received. \"!P:10\"."));
    ASSERT_EQ(Quorvex_SetPosition(m_handle, 1, 2, 1, nullptr), QuorvexSuccess);
}

TEST_F(CommandTest, CallbackFormsRunOnAWorkerAndSignalAfterTheCallable) {
    ConnectOrFail();
    m_head->SetTemperatures(30.0, 31.0, 45.0, 25.0);
    ASSERT_EQ(Quorvex_SetPosition(m_handle, 1, 4, 1, nullptr), QuorvexSuccess);
    ASSERT_EQ(Quorvex_SetParameter(m_handle, QuorvexParameter(6), 99, 1, nullptr), QuorvexSuccess);

    const auto caller = std::this_thread::get_id();
    std::atomic<bool> onCaller{false};
    std::atomic<int> returned{0};
    double temperatures[4] = {};
    int position[2] = {}, parameter = 0, valid = 0;
    CTestEvent tDone, pDone, cDone;
    ASSERT_EQ(Quorvex_GetTemperatureCallback(
                  m_handle,
                  [&](int v, double a, double b, double c, double d) {
                      onCaller = onCaller || std::this_thread::get_id() == caller;
                      valid += v;
                      temperatures[0] = a, temperatures[1] = b, temperatures[2] = c, temperatures[3] = d;
                      ++returned;
                  },
                  tDone.Get()),
              QuorvexSuccess);
    ASSERT_TRUE(tDone.Wait());
    EXPECT_EQ(returned, 1);
    ASSERT_EQ(Quorvex_GetPositionCallback(
                  m_handle,
                  [&](int v, int p, int s) {
                      onCaller = onCaller || std::this_thread::get_id() == caller;
                      valid += v, position[0] = p, position[1] = s;
                      ++returned;
                  },
                  pDone.Get()),
              QuorvexSuccess);
    ASSERT_TRUE(pDone.Wait());
    EXPECT_EQ(returned, 2);
    ASSERT_EQ(Quorvex_GetParameterCallback(
                  m_handle, QuorvexParameter(6),
                  [&](int v, int value) {
                      onCaller = onCaller || std::this_thread::get_id() == caller;
                      valid += v, parameter = value;
                      ++returned;
                  },
                  cDone.Get()),
              QuorvexSuccess);
    ASSERT_TRUE(cDone.Wait());
    EXPECT_EQ(returned, 3);
    EXPECT_FALSE(onCaller);
    EXPECT_EQ(valid, 3);
    EXPECT_DOUBLE_EQ(temperatures[0], 30.0);
    EXPECT_DOUBLE_EQ(temperatures[1], 31.0);
    EXPECT_DOUBLE_EQ(temperatures[2], 45.0);
    EXPECT_DOUBLE_EQ(temperatures[3], 25.0);
    EXPECT_EQ(position[0], 1);
    EXPECT_EQ(position[1], 4);
    EXPECT_EQ(parameter, 99);

    // A read that times out gives the callable the previous value, invalid.
    m_head->InjectFault(R"(C6\?)", sim::Fault{sim::FaultKind::NoReply});
    parameter = -1;
    ASSERT_EQ(Quorvex_GetParameterCallback(
                  m_handle, QuorvexParameter(6), [&](int v, int value) { valid = v, parameter = value; }, cDone.Get()),
              QuorvexSuccess);
    ASSERT_TRUE(cDone.Wait());
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(parameter, 99);
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
