// Command/response transport over one serial port; every device of the
// three driver libraries owns one through its device base.
//
// Ownership and threads: the device that owns a CSerialPort opens it, queues
// text commands from any of its threads and closes it. One service thread
// per open port, owned by the port and ended by Close, writes the commands
// one at a time, collects the reply of the command at the front of the
// queue, decides when it is complete (terminator, number of lines, or
// silence) and calls the owner back on that thread. Lines that begin with
// the prefix character, and anything that arrives while nothing is in
// flight, go to the default callback. Every call-out (reply, error and
// default callbacks, the port-error message box) is made with no lock of the
// port held, so a callback or a box that waits for another thread never
// stops that thread from queueing a command.
#pragma once

#include <platform/win32.h>
#include <serial/DriverLog.h>
#include <serial/SerialPortSettings.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Display names of the settings, for log entries. Out-of-range values give
// L"Unknown" rather than reading outside the tables.
const wchar_t* SerialParityName(int parity);
const wchar_t* SerialDataBitsName(int dataBits);
const wchar_t* SerialStopBitsName(int stopBits);
const wchar_t* SerialFlowControlName(int flowControl);

using SerialResponseCallback = std::function<void(const char* text, bool timedOut)>;
using SerialLinesCallback = std::function<void(std::vector<std::string> lines, bool timedOut)>;
using SerialErrorCallback = std::function<void(SerialPortError code, const char* text)>;

// A reply whose line in progress outgrows the first cap, or whose collected
// lines (a multi-line reply, each line counted with the string that holds
// it) outgrow the second, ends as a failed reply. The second is far above
// the largest download an instrument sends.
constexpr size_t kSerialMaxReplyBytes = 64 * 1024;
constexpr size_t kSerialMaxReplyLinesBytes = 16 * 1024 * 1024;

// The behaviours in which the three libraries' forms of the port differ.
struct SerialPortOptions {
    // Appended to every command: CR for the head and the counter, CR LF for
    // the supply.
    std::string lineEnding = "\r";
    // The head removes an unsolicited command as soon as a prefix line has
    // been handed over; the earlier form lets it run out its 1000 ms and then
    // hands over an empty text.
    bool dropUnsolicitedAfterPrefixLine = true;
};

// Who hears from the port besides the command that asked, and how data
// nobody asked for is recognised.
struct SerialPortHandlers {
    // A reply timed out (or outgrew its buffer): code 4 and the partial text.
    SerialErrorCallback errorCallback;
    // Lines that begin with the prefix, and data that came while nothing was
    // in flight.
    SerialResponseCallback defaultCallback;
    char prefix = '!';
    // Ends data nobody asked for; empty: it is collected until 1000 ms of
    // silence.
    std::string defaultTerminator = "\r";
};

class CSerialPort {
public:
    explicit CSerialPort(SerialPortOptions options = {});
    ~CSerialPort();

    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // What Open reports. The values are the ones the port has always given.
    enum class OpenResult { Opened = 0, PortOutOfRange = 2, CannotOpen = 3 };

    // A failure while configuring an opened port is reported through the
    // port-error message box and Open still reports Opened.
    OpenResult Open(const SerialPortSettingsStruct& settings, SerialPortHandlers handlers);

    // The start of every device's Connect: logs the settings, opens the
    // port and starts its service thread, logging each step. False after
    // logging the failure and closing.
    bool OpenAndStart(driverlog::CDeviceLog& log, const SerialPortSettingsStruct& settings,
                      SerialPortHandlers handlers);

    // Starts the service thread of a port Open has opened; false when the
    // thread could not be created.
    bool StartServiceThread();

    // Any thread, callbacks included. A command expecting no reply signals
    // completionEvent once written (or discarded by Close).
    void SendCommand(const std::string& text, const std::string& terminator, int expectedLines,
                     unsigned timeoutMs, int retries, SerialResponseCallback responseCallback,
                     HANDLE completionEvent = nullptr);
    void SendMultiLineCommand(const std::string& text, unsigned timeoutMs, int retries,
                              SerialLinesCallback linesCallback);

    // Ends the service thread (waiting for it, unless called from one of its
    // callbacks), closes the device and discards queued commands without
    // calling their callbacks.
    void Close();

    bool IsOpen() const;
    unsigned PortNumber() const { return m_nPort; }
    // True on this port's service thread (inside a reply handler).
    bool RunsOnServiceThread() const { return m_nServiceThreadId.load() == GetCurrentThreadId(); }

private:
    // The fuzzing harness (fuzz/serial_reply.cpp) drives reply assembly
    // without a device or a service thread, step by step as Run does.
    friend class CSerialReplyFeeder;

    using Clock = std::chrono::steady_clock;

    // One queued command, owned by the queue while it waits and is served.
    struct Command {
        std::string bytes;  // the caller's text and the line ending
        SerialResponseCallback responseCallback;
        SerialLinesCallback linesCallback;
        std::string terminator;
        int expectedLines = 1;  // 0 no reply; -1 unlimited, ends by silence
        unsigned timeoutMs = 1000;
        int retriesLeft = 0;
        Clock::time_point lastActivity;  // the write, then each completed line
        int linesReceived = 0;
        HANDLE completionEvent = nullptr;  // signalled after a no-reply command was written
        bool unsolicited = false;  // made by the service thread for data nobody asked for
        bool written = false;
    };

    // What the service thread has to call once it has let go of its locks,
    // in the order it was decided.
    struct CallOut {
        enum class Kind { Reply, DefaultLine, ErrorCallback, PortError };
        Kind kind;
        std::unique_ptr<Command> command{};  // Reply: the finished command
        std::string text{};                  // reply, line or error text
        std::vector<std::string> lines{};    // Reply of a multi-line command
        bool timedOut = false;
        const wchar_t* operation = nullptr;  // PortError: the failed call
        DWORD error = 0;                     // PortError: its last-error code
    };

    static DWORD WINAPI ServiceThread(LPVOID parameter);
    void Run();
    void StopServiceThread();
    void Enqueue(std::unique_ptr<Command> command);
    // The service thread's steps. Each takes the locks it needs and leaves
    // its call-outs in m_callOuts for DeliverCallOuts.
    void TransmitNext();
    // TransmitNext's two halves around the write, each taking the queue
    // lock: the front command's bytes and write limit (false: nothing is to
    // be written now), then its bookkeeping once the write is over.
    bool TakeNextWrite(std::string& bytes, DWORD& writeLimit);
    void AfterWrite(DWORD writeError);
    // Reads what a new command finds waiting, before it is written: until
    // the input runs dry, but never more than a bound, so a device that does
    // not stop sending cannot keep this thread from its other work. Skipped
    // for a command held back by unsolicited data: it had its hand-over.
    void HandOverWaitingInput();
    // One read, none while bytes of an earlier one wait in m_strHeldInput;
    // how many bytes it read.
    DWORD ReceiveBytes(bool handOver = false);
    // Hands over what m_strHeldInput holds, as far as HandleBytes goes.
    void HandleHeldInput(bool handOver);
    void HandleTimeout();
    // Queue lock held.
    void HandleByte(char byte);
    // Hands the bytes, in order, to HandleByte. Outside a hand-over it stops
    // where a command waiting to be written has its turn (nothing in
    // progress any more); how many it handled. The caller keeps the rest in
    // m_strHeldInput, handled once that command has been written.
    size_t HandleBytes(const char* bytes, size_t count, bool handOver);
    void Fail();
    void Finish(std::unique_ptr<Command> command, std::string text, bool timedOut);
    void DeliverCallOuts();
    // Shows "<operation> Failed with the following error" with the error
    // code through MessageBoxW.
    void ReportPortError(const wchar_t* operation, DWORD error) const;
    // The command whose reply is being collected: the written front of the
    // queue, or the unsolicited one. Queue lock held.
    Command* Current();
    std::unique_ptr<Command> TakeCurrent();
    std::unique_ptr<Command> PopFront();
    void WakeWriterIfQueued();
    static DWORD RemainingMs(const Command& command);
    std::string WithLineEnding(const std::string& text) const;

    const std::string m_strLineEnding;
    const bool m_bDropUnsolicitedAfterPrefixLine;

    HANDLE m_hThread = nullptr;
    HANDLE m_hPort = nullptr;  // port lock
    unsigned m_nPort = 0;
    HANDLE m_hShutdownEvent = nullptr;
    HANDLE m_hWriteEvent = nullptr;

    // Set by Open while no service thread runs; read by the service thread.
    SerialErrorCallback m_fnErrorCallback;
    SerialResponseCallback m_fnDefaultCallback;
    char m_cPrefix = 0;
    std::string m_strDefaultTerminator;

    // Queue lock.
    std::string m_strReceiveBuffer;
    std::vector<std::string> m_lines;
    size_t m_nLineBytes = 0;
    std::deque<std::unique_ptr<Command>> m_queue;
    std::unique_ptr<Command> m_pUnsolicited;  // data nobody asked for, being collected
    // The front command's write waits for the unsolicited data in progress;
    // it goes out as soon as that has ended, with no second hand-over (or a
    // device that never pauses would keep it back for ever).
    bool m_bWriteHeld = false;
    // Read, but left for after the write that had its turn first (at most
    // one read).
    std::string m_strHeldInput;

    std::vector<CallOut> m_callOuts;  // service thread only
    std::atomic<DWORD> m_nServiceThreadId{0};

    // Where both are held the port lock is taken first.
    mutable std::mutex m_portMutex;
    std::mutex m_queueMutex;
};
