// The serial transport against a scripted device over a real
// pseudo-terminal: completion rules, unsolicited lines, time-outs measured
// from the last activity, multi-line replies, no-reply commands, purging,
// retries, bounded buffers, closing with work still queued, callbacks and
// error boxes that wait for a thread which queues a command, and a device
// that never stops sending.
#include "serial/SerialPort.h"

#include "PtyPort.h"
#include "ScriptedDevice.h"
#include "TestEvent.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::CLatch;
using testsupport::kLimit;

namespace {

constexpr unsigned kCom = 7;

// Collects (text, flag) pairs handed to a callback on the service thread.
class CRecorder {
public:
    SerialResponseCallback Callback() {
        return [this](const char* text, int flag) { Add(text, flag); };
    }
    void Add(const std::string& text, int flag) {
        {
            std::lock_guard lock(m_mutex);
            m_calls.emplace_back(text, flag);
        }
        m_latch.Signal();
    }
    bool WaitFor(int count) { return m_latch.WaitFor(count, kLimit); }
    std::vector<std::pair<std::string, int>> Calls() const {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<std::string, int>> m_calls;
    CLatch m_latch;
};

using Call = std::pair<std::string, int>;

// A device that never stops sending: its thread writes one byte over and
// over into the pty as fast as the port takes it, and records what the port
// writes, until it is stopped or a generous limit has passed (so a transport
// that only recovers once the flood ends fails its test instead of hanging).
class CFloodingDevice {
public:
    CFloodingDevice(const std::filesystem::path& portsFolder, unsigned com, char byte)
        : m_pty(portsFolder, com), m_block(64 * 1024, byte) {}
    ~CFloodingDevice() { Stop(); }

    void Start() {
        m_thread = std::thread([this] { Run(); });
    }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    std::string Received() const {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

private:
    void Run() {
        const auto deadline = std::chrono::steady_clock::now() + 3 * kLimit;
        while (!m_stop && std::chrono::steady_clock::now() < deadline) {
            pollfd fd{m_pty.MasterFd(), POLLIN | POLLOUT, 0};
            if (poll(&fd, 1, 50) <= 0) continue;
            if (fd.revents & POLLIN) {
                char bytes[256];
                const ssize_t n = read(fd.fd, bytes, sizeof bytes);
                std::lock_guard lock(m_mutex);
                if (n > 0) m_received.append(bytes, static_cast<size_t>(n));
            }
            if (fd.revents & POLLOUT) (void)!write(fd.fd, m_block.data(), m_block.size());
        }
    }

    sim::CPtyPort m_pty;
    const std::string m_block;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::string m_received;
    std::thread m_thread;
};

// A port-error box that stays up until the test lets it go, as the control
// panel's stays until its dialog is closed. Read errors pass at once; the
// box of a failed write is the one held. Going, it lets the box go and
// closes the port before the handler is removed, whatever the test did.
class CHeldWriteErrorBox {
public:
    explicit CHeldWriteErrorBox(CSerialPort& port) : m_port(port) {
        Platform_SetMessageBoxHandler(&Show, this);
    }
    ~CHeldWriteErrorBox() {
        m_released.Set();
        m_port.Close();
        Platform_SetMessageBoxHandler(nullptr, nullptr);
    }
    bool WaitUntilUp() const { return m_up.Wait(); }
    // True once the held box has gone, released or not.
    bool Gone() const { return m_gone.IsSet(); }
    void Release() const { m_released.Set(); }

private:
    static int Show(void* context, HWND, LPCWSTR text, LPCWSTR, UINT) {
        auto* box = static_cast<CHeldWriteErrorBox*>(context);
        if (std::wcsstr(text, L"WriteFile()")) {
            box->m_up.Set();
            box->m_released.Wait();
            box->m_gone.Set();
        }
        return IDOK;
    }

    CSerialPort& m_port;
    testsupport::CTestEvent m_up{true}, m_released{true}, m_gone{true};
};
using Result = CSerialPort::OpenResult;

SerialPortSettingsStruct Com(int port) { return {port, 9600, 0, 8, 0, 0}; }

SerialPortHandlers Handlers(CRecorder& errors, CRecorder* defaults, std::string terminator) {
    return {[&errors](SerialPortError code, const char* text) {
                errors.Add(text, static_cast<int>(code));
            },
            defaults ? defaults->Callback() : nullptr, '!', std::move(terminator)};
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        device.Start();
        ASSERT_EQ(Result::Opened, port.Open(Com(kCom), Handlers(errors, &defaults, "\r")));
        ASSERT_TRUE(port.StartServiceThread());
    }
    // One round trip, so that the service thread is past the purge it does
    // when it starts before the device sends anything on its own.
    void Sync() {
        CRecorder synced;
        device.Script("SYNC", "ok\r");
        port.SendCommand("SYNC", "\r", 1, 1000, 0, synced.Callback());
        ASSERT_TRUE(synced.WaitFor(1));
    }

    // The port is closed first, by going, before the recorders it calls.
    testsupport::CTempXdg xdg;
    sim::CScriptedDevice device{xdg.PortsFolder(), kCom};
    CRecorder errors, defaults, replies;
    CSerialPort port;
};

TEST(SerialPortOpen, RejectsBadNumbersMissingDevicesPlainFilesAndASecondOpenAndLogsEachStepOfAConnect) {
    testsupport::CTempXdg xdg;
    sim::CScriptedDevice device{xdg.PortsFolder(), kCom};
    device.Start();
    const auto file = xdg.Root() / "log.txt";
    driverlog::CLibraryLog library("CQuorvex");
    library.SetCeiling(7);
    library.SetFilePath(file.wstring());
    CSerialPort port, second;
    driverlog::CDeviceLog log(library, L"CQuorvex", &port);
    EXPECT_EQ(Result::PortOutOfRange, port.Open(Com(0), {}));
    EXPECT_EQ(Result::PortOutOfRange, port.Open(Com(128), {}));
    // COM120 is neither linked in the private ports folder nor /dev/ttyS119.
    EXPECT_EQ(Result::CannotOpen, port.Open(Com(120), {}));
    EXPECT_FALSE(port.OpenAndStart(log, {120, 9600, 2, 7, 1, 5}, {}));
    EXPECT_FALSE(port.IsOpen());
    // A plain file linked as a port cannot be opened either, and no
    // settings fail on it.
    std::ofstream(xdg.PortsFolder() / "COM121") << "not a port";
    std::atomic<int> boxes{0};
    Platform_SetMessageBoxHandler(
        [](void* context, HWND, LPCWSTR, LPCWSTR, UINT) {
            ++*static_cast<std::atomic<int>*>(context);
            return IDOK;
        },
        &boxes);
    EXPECT_EQ(Result::CannotOpen, port.Open(Com(121), {}));
    Platform_SetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(boxes.load(), 0);
    EXPECT_EQ(testsupport::ReadFile(xdg.PortsFolder() / "COM121"), "not a port");
    EXPECT_TRUE(port.OpenAndStart(log, Com(kCom), {}));
    EXPECT_EQ(Result::CannotOpen, second.Open(Com(kCom), {}));
    port.Close();
    EXPECT_EQ(Result::Opened, second.Open(Com(kCom), {}));
    const std::string text = testsupport::ReadFile(file);
    const std::vector<std::string> expected = {
        ": Initializing serial port with the following settings: Port: 120, Baud: 9600, "
        "Parity: Even, Databits: 7, Stopbits: 1.5, FlowControl: XON/XOFF",
        ": Error initializing the serial port.",
        ": Initializing serial port with the following settings: Port: 7, Baud: 9600, "
        "Parity: None, Databits: 8, Stopbits: 1, FlowControl: None",
        ": Serial port successfully initialized.",
        ": Serial port communication thread started.",
    };
    size_t at = 0;
    for (const auto& entry : expected) {
        at = text.find(entry, at);
        ASSERT_NE(at, std::string::npos) << entry;
    }
}

// A device that floods the port (a wrong device, /dev/zero linked as a
// port, a runaway USB adapter) must not take the service thread away from
// the commands, their time-outs, the callbacks and Close.
TEST(SerialPortFlood, CommandQueuedDuringAFloodGoesOutAndFailsWithCode4AndCloseReturns) {
    testsupport::CTempXdg xdg;
    CFloodingDevice device(xdg.PortsFolder(), kCom, 'x');
    CRecorder errors, defaults, replies;
    CSerialPort port;
    ASSERT_EQ(Result::Opened, port.Open(Com(kCom), Handlers(errors, &defaults, "\r")));
    ASSERT_TRUE(port.StartServiceThread());
    device.Start();

    // What a reply or unsolicited data held of the flood when it ended as a
    // failure (by its cap or its time-out): only flood bytes, bounded.
    const auto failedWithFlood = [](const Call& call, int flag) {
        return call.second == flag && call.first.size() <= kSerialMaxReplyBytes &&
               call.first.find_first_not_of('x') == std::string::npos;
    };
    // Data nobody asked for is handed over, and the caps bound what is held.
    ASSERT_TRUE(defaults.WaitFor(1));
    EXPECT_PRED2(failedWithFlood, defaults.Calls()[0], 1);

    // A command queued meanwhile still goes out, unchanged, and ends as a
    // failed reply: its callback and the error callback with code 4.
    port.SendCommand("Q", "\r", 1, 1000, 0, replies.Callback());
    ASSERT_TRUE(replies.WaitFor(1));
    EXPECT_PRED2(failedWithFlood, replies.Calls()[0], 1);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return device.Received() == "Q\r"; }))
        << device.Received().size() << " bytes written";
    ASSERT_TRUE(errors.WaitFor(2));
    for (const Call& call : errors.Calls()) EXPECT_PRED2(failedWithFlood, call, SerialPortErrorResponseTimeout);
    for (const Call& call : defaults.Calls()) EXPECT_PRED2(failedWithFlood, call, 1);

    // Close returns while the flood goes on.
    testsupport::CTestEvent closed{true};
    std::thread closer([&] {
        port.Close();
        closed.Set();
    });
    EXPECT_TRUE(closed.Wait());
    device.Stop();  // releases a Close that hung
    closer.join();
}

TEST_F(SerialPortTest, PortReopenedWithoutHandlersServesCommandsAndSkipsMissingCallbacks) {
    Sync();
    port.Close();
    ASSERT_EQ(Result::Opened, port.Open(Com(kCom), {}));
    ASSERT_TRUE(port.StartServiceThread());
    device.InjectFault("T\\?", sim::Fault{sim::FaultKind::NoReply, 0, 5, -1});
    port.SendCommand("T?", "\r", 1, 100, 0, nullptr);
    // Only completes once the silent command has timed out without a reply
    // or error callback to call and without taking the service thread down.
    Sync();
}

TEST_F(SerialPortTest, CommandsGoOutOneAtATimeAndEachReplyCompletesAtItsTerminator) {
    device.Script("I\\?", std::vector<sim::Chunk>{{50ms, "ACME,QUORVEX,1.0,42\r"}});
    device.Script("S\\?", "12345\r");
    device.InjectFault("S\\?", sim::Fault{sim::FaultKind::Split, 0, 5, 1});  // byte by byte
    device.Script("X", "\r");
    for (const char* command : {"I?", "S?", "X"})
        port.SendCommand(command, "\r", 1, 1000, 0, replies.Callback());
    // A command expecting no reply completes once written.
    testsupport::CTestEvent written;
    port.SendCommand("OUTP ON", "", 0, 0, 0, replies.Callback(), written.Get());
    ASSERT_TRUE(written.Wait());
    ASSERT_TRUE(replies.WaitFor(4));
    EXPECT_EQ(replies.Calls(),
              (std::vector<Call>{{"ACME,QUORVEX,1.0,42", 0}, {"12345", 0}, {"", 0}, {"", 0}}));
    ASSERT_TRUE(device.WaitForCount(4, kLimit));
    const auto received = device.Received();
    EXPECT_EQ(received[0].text, "I?");
    EXPECT_EQ(received[3].text, "OUTP ON");
    // S? was only written after I?'s reply had come in.
    EXPECT_GE(received[1].at - received[0].at, 50ms);
    EXPECT_EQ(device.PendingInput(), "");  // nothing but the CR followed
    EXPECT_TRUE(errors.Calls().empty());
}

TEST_F(SerialPortTest, IdleLinesPrefixLinesAndUnterminatedDataGoToTheDefaultAndACommandKeepsWaiting) {
    Sync();
    device.SendRaw("hello\r");
    ASSERT_TRUE(defaults.WaitFor(1));
    device.SendRaw("!H:1\r");
    ASSERT_TRUE(defaults.WaitFor(2));
    device.Script("P\\(1,2\\)", std::vector<sim::Chunk>{{0ms, "!P:1\r"}, {100ms, "1\r"}});
    port.SendCommand("P(1,2)", "\r", 1, 1000, 0, replies.Callback());
    ASSERT_TRUE(replies.WaitFor(1));
    EXPECT_EQ(replies.Calls(), (std::vector<Call>{{"1", 0}}));
    EXPECT_EQ(defaults.Calls(), (std::vector<Call>{{"hello", 0}, {"!H:1", 0}, {"!P:1", 0}}));
    EXPECT_TRUE(errors.Calls().empty());
    // Unterminated unsolicited data is handed over, failed, after a second.
    const auto start = std::chrono::steady_clock::now();
    device.SendRaw("partial");
    ASSERT_TRUE(defaults.WaitFor(4));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_EQ(defaults.Calls()[3], Call("partial", 1));
    EXPECT_EQ(errors.Calls(), (std::vector<Call>{{"partial", SerialPortErrorResponseTimeout}}));
}

TEST_F(SerialPortTest, ReplyWellInsideTheTimeOutCompletesAndOneJustAfterItHasFailed) {
    // Measured from the end of the write: the device cannot have seen the
    // command before it was written, so 1001 ms after its arrival is late.
    device.Script("In", std::vector<sim::Chunk>{{0ms, "part"}, {800ms, "ial\r"}});
    device.Script("Late", std::vector<sim::Chunk>{{0ms, "part"}, {1001ms, "ial\r"}});
    port.SendCommand("In", "\r", 1, 1000, 0, replies.Callback());
    port.SendCommand("Late", "\r", 1, 1000, 0, replies.Callback());
    ASSERT_TRUE(replies.WaitFor(2));
    EXPECT_EQ(replies.Calls(), (std::vector<Call>{{"partial", 0}, {"part", 1}}));
    ASSERT_TRUE(errors.WaitFor(1));
    EXPECT_EQ(errors.Calls(), (std::vector<Call>{{"part", SerialPortErrorResponseTimeout}}));
}

TEST_F(SerialPortTest, NeitherBytesAfterACompleteReplyNorThoseOfAFailedTryAreTakenForTheNextReply) {
    // A's reply drags a stray line behind it while B is already queued: B
    // must get its own reply, and the stray line is handed over, not lost.
    // R's first try leaves a fragment its retry must not start with.
    std::atomic<int> attempts{0};
    device.Script("A", "a\rstray\r");
    device.Script("B", "b\r");
    device.On("R", [&](const std::smatch&) -> sim::CSimDevice::Reply {
        return ++attempts == 1 ? std::string("garb") : std::string("ok\r");
    });
    port.SendCommand("A", "\r", 1, 1000, 0, replies.Callback());
    port.SendCommand("B", "\r", 1, 1000, 0, replies.Callback());
    port.SendCommand("R", "\r", 1, 300, 1, replies.Callback());
    ASSERT_TRUE(replies.WaitFor(3));
    EXPECT_EQ(replies.Calls(), (std::vector<Call>{{"a", 0}, {"b", 0}, {"ok", 0}}));
    EXPECT_EQ(attempts.load(), 2);
    EXPECT_TRUE(errors.Calls().empty());
    ASSERT_TRUE(defaults.WaitFor(1));
    EXPECT_EQ(defaults.Calls()[0], Call("stray", 0));
}

TEST_F(SerialPortTest, MultiLineReplyEndsBySilenceWithFreshDeadlinesAndIsBounded) {
    // Each line comes 600 ms after the previous one: 1800 ms in all, which
    // only works if every completed line restarts the 1000 ms allowance.
    device.Script("D\\?", std::vector<sim::Chunk>{
                              {600ms, "400.0,1.0E-05\r"}, {1200ms, "500.0,2.0E-05\r"}, {1800ms, "\r"}});
    // 6,000 pairs, about 90 KiB in all: a full download must arrive whole.
    std::string download;
    std::vector<std::string> expected;
    for (int i = 0; i < 6000; ++i) {
        expected.push_back(std::to_string(300 + i) + ".0,1.2345E-05");
        download.append(expected.back()).append("\r");
    }
    device.Script("C0\\?", download);
    // A single line longer than 64 KiB still ends the reply as a failure.
    device.Script("C1\\?", std::string(kSerialMaxReplyBytes + 100, 'x') + "\r");
    using Lines = std::pair<std::vector<std::string>, bool>;  // (lines, timed out)
    std::vector<Lines> got;
    CLatch done;
    for (const char* command : {"D?", "C0?", "C1?"})
        port.SendMultiLineCommand(command, 1000, 0, [&](std::vector<std::string> lines, bool timedOut) {
            got.emplace_back(std::move(lines), timedOut);
            done.Signal();
        });
    ASSERT_TRUE(done.WaitFor(3));
    EXPECT_EQ(got, (std::vector<Lines>{
                       {{"400.0,1.0E-05", "500.0,2.0E-05", ""}, false}, {expected, false}, {{}, true}}));
    ASSERT_TRUE(errors.WaitFor(1));
    EXPECT_EQ(errors.Calls()[0].first, std::string(256, 'x'));
}

// Found by fuzzing: empty lines did not count toward the cap on collected
// lines, so a device sending only line ends grew the list without bound.
TEST_F(SerialPortTest, MultiLineReplyOfOnlyLineEndsIsBoundedLikeAnyOther) {
    const size_t overCap = kSerialMaxReplyLinesBytes / sizeof(std::string) + 100;
    device.Script("C0\\?", std::string(overCap, '\r'));
    std::pair<std::vector<std::string>, bool> got;
    CLatch done;
    port.SendMultiLineCommand("C0?", 1000, 0, [&](std::vector<std::string> lines, bool timedOut) {
        got = {std::move(lines), timedOut};
        done.Signal();
    });
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_TRUE(got.second) << "ended as a failed reply";
    EXPECT_LT(got.first.size(), overCap);
    ASSERT_TRUE(errors.WaitFor(1));
    EXPECT_EQ(errors.Calls()[0], (Call{"", SerialPortErrorResponseTimeout}));
}

TEST_F(SerialPortTest, CloseDiscardsQueuedCommandsWithoutCallingThem) {
    device.InjectFault(".*", sim::Fault{sim::FaultKind::NoReply, 0, 5, -1});
    testsupport::CTestEvent written{true};
    port.SendCommand("A", "\r", 1, 5000, 0, replies.Callback());
    port.SendCommand("B", "\r", 1, 5000, 0, replies.Callback());
    port.SendCommand("C", "", 0, 0, 0, replies.Callback(), written.Get());
    ASSERT_TRUE(device.WaitForCommand("A", kLimit));
    port.Close();
    EXPECT_TRUE(replies.Calls().empty());
    EXPECT_TRUE(errors.Calls().empty());
    // A caller blocked on a discarded no-reply command is released.
    EXPECT_TRUE(written.IsSet());
}

TEST_F(SerialPortTest, VanishedDeviceEndsTheCommandByItsTimeOutAndReportsOnce) {
    std::atomic<int> boxes{0};
    Platform_SetMessageBoxHandler(
        [](void* context, HWND, LPCWSTR, LPCWSTR, UINT) {
            ++*static_cast<std::atomic<int>*>(context);
            return IDOK;
        },
        &boxes);
    device.InjectFault("Q", sim::Fault{sim::FaultKind::Vanish, 0, 5, 1});
    port.SendCommand("Q", "\r", 1, 300, 0, replies.Callback());
    ASSERT_TRUE(replies.WaitFor(1));
    EXPECT_EQ(replies.Calls()[0], Call("", 1));
    port.Close();
    Platform_SetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(boxes.load(), 1);
}

TEST_F(SerialPortTest, CommandQueuedWhileAWriteErrorBoxIsUpIsNotHeldBack) {
    Sync();
    CHeldWriteErrorBox box(port);
    device.Vanish();
    port.SendCommand("A", "\r", 1, 300, 0, replies.Callback());
    ASSERT_TRUE(box.WaitUntilUp());
    // Had queueing waited for the box, the box would have gone by its limit.
    port.SendCommand("B", "\r", 1, 300, 0, replies.Callback());
    EXPECT_FALSE(box.Gone());
    box.Release();
    // Both still go out and end by their time-outs, one after the other.
    ASSERT_TRUE(replies.WaitFor(2));
    EXPECT_EQ(replies.Calls(), (std::vector<Call>{{"", 1}, {"", 1}}));
}

TEST_F(SerialPortTest, ReplyCallbackMayWaitForAThreadThatQueuesACommand) {
    device.Script("A", "a\r");
    device.Script("B", "b\r");
    testsupport::CTestEvent inCallback, queued;
    bool queuedInTime = false;
    port.SendCommand("A", "\r", 1, 1000, 0, [&](const char*, bool) {
        inCallback.Set();
        queuedInTime = queued.Wait();
    });
    ASSERT_TRUE(inCallback.Wait());
    port.SendCommand("B", "\r", 1, 1000, 0, replies.Callback());
    queued.Set();
    // B's reply is handled only after A's callback has returned.
    ASSERT_TRUE(replies.WaitFor(1));
    EXPECT_TRUE(queuedInTime);
    EXPECT_EQ(replies.Calls()[0], Call("b", 0));
}

TEST_F(SerialPortTest, SupplyFormCrLfLineEndingAndUnsolicitedDataHandedOverAfterSilence) {
    sim::CScriptedDevice supply{xdg.PortsFolder(), kCom + 1, "\r\n"};
    supply.Start();
    CSerialPort psu(SerialPortOptions{"\r\n", false});
    ASSERT_EQ(Result::Opened, psu.Open({kCom + 1, 9600, 0, 8, 2, 0}, Handlers(errors, &defaults, "")));
    ASSERT_TRUE(psu.StartServiceThread());

    // (The reply also shows the service thread is running, so the data sent
    // below cannot be lost to the purge it does when it starts.)
    supply.Script("\\*IDN\\?", "Agilent Technologies,E3633A,0,1.7-5.0-1.0\r\n");
    psu.SendCommand("*IDN?", "\r\n", 1, 1000, 0, replies.Callback());
    ASSERT_TRUE(replies.WaitFor(1));
    EXPECT_EQ(replies.Calls()[0], Call("Agilent Technologies,E3633A,0,1.7-5.0-1.0", 0));
    EXPECT_EQ(supply.PendingInput(), "");  // the command ended with exactly CR LF

    // With no default terminator nothing completes a line: the data goes to
    // the default callback once its second of silence is over, as no error.
    supply.SendRaw("+1.0E+00\r\n");
    ASSERT_TRUE(defaults.WaitFor(1));
    EXPECT_EQ(defaults.Calls()[0], Call("+1.0E+00\r\n", 0));
    EXPECT_TRUE(errors.Calls().empty());
}

TEST_F(SerialPortTest, CounterFormReplyWithoutTerminatorEndsAtItsTimeOutWithWhatArrived) {
    port.Close();
    CSerialPort counter(SerialPortOptions{"\r", false});
    ASSERT_EQ(Result::Opened, counter.Open(Com(kCom), Handlers(errors, nullptr, "")));
    ASSERT_TRUE(counter.StartServiceThread());
    device.Script("!0a", "1F");
    counter.SendCommand("!0a", "", 1, 50, 0, replies.Callback());
    ASSERT_TRUE(replies.WaitFor(1));
    EXPECT_EQ(replies.Calls()[0], Call("1F", 0));
    EXPECT_TRUE(errors.Calls().empty());
}

}  // namespace
