// Fuzz target: CSerialPort's reply assembly, with no device and no service
// thread. The input is a script: commands queued (single-line with various
// terminators and line counts, multi-line, no-reply, with retries), the
// service thread's steps in any order (a write that succeeds or fails,
// bytes arriving in chunks or floods, a deadline passing), callbacks that
// queue more or close the port, and Close. Each step is the port's own code;
// the feeder only decides what happens next, as the device and the clock
// would. After every step the port's promises are checked: each command
// ends at most once, never after it was discarded, and what it holds for a
// reply stays within its caps.
#include "FuzzSupport.h"

#include <serial/SerialPort.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

using fuzzsupport::Require;

class CSerialReplyFeeder {
public:
    explicit CSerialReplyFeeder(FuzzedDataProvider& input)
        : m_input(input),
          m_port(SerialPortOptions{input.ConsumeBool() ? "\r" : "\r\n", input.ConsumeBool()}) {
        m_port.m_hShutdownEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        m_port.m_hWriteEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        m_port.m_fnErrorCallback = [](SerialPortError code, const char* text) {
            Require(code == SerialPortErrorResponseTimeout, "error callback: code 4");
            Require(std::string(text).size() <= kSerialMaxReplyBytes, "error callback: bounded text");
        };
        m_port.m_fnDefaultCallback = [](const char* text, bool) {
            Require(std::string(text).size() <= kSerialMaxReplyBytes, "default callback: bounded text");
        };
        const char prefixes[] = {'!', '\r', 'x', '\0'};
        m_port.m_cPrefix = prefixes[input.ConsumeIntegralInRange<size_t>(0, 3)];
        m_port.m_strDefaultTerminator = Terminator();
    }

    void Run() {
        for (int step = 0; step < 256 && m_input.remaining_bytes() > 0; ++step) {
            switch (m_input.ConsumeIntegralInRange(0, 7)) {
            case 0: Send(); break;
            case 1: SendMultiLine(); break;
            case 2: Write(); break;
            case 3: Receive(m_input.ConsumeRandomLengthString(64)); break;
            case 4: Flood(); break;
            case 5: Expire(); break;
            case 6: Close(); break;
            default: Receive(std::string(1, m_input.ConsumeBool() ? '\r' : '!')); break;
            }
            CheckBounds();
        }
    }

private:
    std::string Terminator() {
        static const char* const terminators[] = {"\r", "\r\n", "", "\n", ">", "\r\r"};
        return terminators[m_input.ConsumeIntegralInRange<size_t>(0, 5)];
    }

    // What a callback does besides being counted: nothing, queue another
    // command, or close the port (as a device's handler may).
    enum class Then { Nothing, Queue, Close };

    void Ended(int id, Then then) {
        Require(++m_ends[id] == 1, "a command ends once");
        Require(!m_discarded[id], "a discarded command never ends");
        if (then == Then::Queue) {
            const int next = NewId();
            m_port.SendCommand("again", "\r", 1, 0, 0, Callback(next, Then::Nothing));
            Queued(next);
        }
        if (then == Then::Close) Close();
    }
    int NewId() {
        const int id = m_nextId++;
        m_ends[id] = 0;
        m_discarded[id] = false;
        return id;
    }
    // The command just queued is the queue's last.
    void Queued(int id) {
        std::lock_guard lock(m_port.m_queueMutex);
        m_ids[m_port.m_queue.back().get()] = id;
    }
    SerialResponseCallback Callback(int id, Then then) {
        return [this, id, then](const char* text, bool) {
            Require(std::string(text).size() <= kSerialMaxReplyBytes, "reply: bounded text");
            Ended(id, then);
        };
    }
    Then PickThen() { return static_cast<Then>(m_input.ConsumeIntegralInRange(0, 2)); }

    void Send() {
        const std::string text = m_input.ConsumeRandomLengthString(8);
        const std::string terminator = Terminator();
        const int lines = m_input.ConsumeIntegralInRange(0, 3);
        const unsigned timeout = m_input.ConsumeBool() ? 0 : 1000;
        const int retries = m_input.ConsumeIntegralInRange(0, 2);
        const Then then = PickThen();
        const int id = NewId();
        m_port.SendCommand(text, terminator, lines, timeout, retries, Callback(id, then));
        Queued(id);
    }

    void SendMultiLine() {
        const std::string text = m_input.ConsumeRandomLengthString(8);
        const unsigned timeout = m_input.ConsumeBool() ? 0 : 250;
        const int retries = m_input.ConsumeIntegralInRange(0, 1);
        const Then then = PickThen();
        const int id = NewId();
        m_port.SendMultiLineCommand(text, timeout, retries, [this, id, then](std::vector<std::string> lines, bool) {
            size_t bytes = 0;
            for (const std::string& line : lines) bytes += line.size();
            Require(bytes <= kSerialMaxReplyLinesBytes, "lines: bounded text");
            Ended(id, then);
        });
        Queued(id);
    }

    // The service thread's write step, the device taking the bytes or not.
    void Write() {
        std::string bytes;
        DWORD limit = 0;
        if (m_port.TakeNextWrite(bytes, limit)) {
            Require(bytes.size() >= m_port.m_strLineEnding.size() &&
                        bytes.compare(bytes.size() - m_port.m_strLineEnding.size(), std::string::npos,
                                      m_port.m_strLineEnding) == 0,
                    "write: the command and its line ending");
            m_port.AfterWrite(m_input.ConsumeBool() ? ERROR_SUCCESS : ERROR_GEN_FAILURE);
        }
        m_port.DeliverCallOuts();
    }

    // Bytes as the service thread's read step hands them over: at most a
    // read's worth at a time, the call-outs delivered after each.
    void Receive(const std::string& bytes) {
        constexpr size_t kReadChunk = 512;
        for (size_t start = 0; start < bytes.size(); start += kReadChunk) {
            {
                std::lock_guard lock(m_port.m_queueMutex);
                const size_t end = std::min(bytes.size(), start + kReadChunk);
                for (size_t i = start; i < end; ++i) m_port.HandleByte(bytes[i]);
            }
            m_port.DeliverCallOuts();
        }
    }

    // A device that does not stop: a short pattern many times over, enough
    // to run into the caps.
    void Flood() {
        const std::string pattern = m_input.ConsumeRandomLengthString(4);
        if (pattern.empty()) return;
        // Mostly short floods; a long one (enough to pass a cap) only when
        // the input asks for it, so that floods do not eat the fuzzer's time.
        const bool longFlood = m_input.ConsumeIntegral<uint8_t>() == 0xFF;
        const int exponent = longFlood ? m_input.ConsumeIntegralInRange(14, 19) : m_input.ConsumeIntegralInRange(0, 12);
        const size_t times = (size_t{1} << exponent) + m_input.ConsumeIntegral<uint8_t>();
        if (m_flooded + times * pattern.size() > kFloodBudget) return;
        m_flooded += times * pattern.size();
        std::string bytes;
        bytes.reserve(times * pattern.size());
        for (size_t i = 0; i < times; ++i) bytes += pattern;
        Receive(bytes);
    }

    // The deadline of the reply in progress passes.
    void Expire() {
        {
            std::lock_guard lock(m_port.m_queueMutex);
            if (CSerialPort::Command* current = m_port.Current()) current->lastActivity = {};
        }
        m_port.HandleTimeout();
        m_port.DeliverCallOuts();
    }

    void Close() {
        // Everything still queued (in progress or not) is discarded
        // uncalled; a reply already decided is still delivered.
        {
            std::lock_guard lock(m_port.m_queueMutex);
            for (const auto& command : m_port.m_queue) m_discarded[m_ids.at(command.get())] = true;
        }
        m_port.Close();
    }

    void CheckBounds() {
        std::lock_guard lock(m_port.m_queueMutex);
        Require(m_port.m_strReceiveBuffer.size() <= kSerialMaxReplyBytes, "line in progress within its cap");
        Require(m_port.m_nLineBytes <= kSerialMaxReplyLinesBytes, "collected lines within their cap");
        // The strings holding the collected lines count too: a device
        // sending nothing but line ends must not grow the list for ever.
        Require(m_port.m_lines.size() <= kSerialMaxReplyLinesBytes / sizeof(std::string),
                "collected lines, empty ones too, within their cap");
    }

    // Per input: a little more than a reply of only line ends needs to pass
    // the cap on collected lines.
    static constexpr size_t kFloodBudget = kSerialMaxReplyLinesBytes / sizeof(std::string) + 4096;

    FuzzedDataProvider& m_input;
    CSerialPort m_port;
    std::map<int, int> m_ends;
    std::map<int, bool> m_discarded;
    std::map<const CSerialPort::Command*, int> m_ids;
    int m_nextId = 0;
    size_t m_flooded = 0;
};

namespace {
int NoBox(void*, HWND, LPCWSTR, LPCWSTR, UINT) { return IDOK; }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Failed writes raise the port-error box: answered at once.
    Platform_SetMessageBoxHandler(&NoBox, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    CSerialReplyFeeder feeder(input);
    feeder.Run();
    return 0;
}
