// Command/response transport over one serial port, the base of every device
// class of the three driver libraries.
//
// The owner queues text commands; one service thread per open port writes
// them one at a time, collects the reply of the command at the front of the
// queue, decides when it is complete (terminator, number of lines, or
// silence) and calls the owner back on that thread. Lines that begin with the
// prefix character, and anything that arrives while nothing is in flight, go
// to the default callback.
#pragma once

#include <platform/win32.h>
#include <serial/DriverLog.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The COM settings stored per instrument and passed to each Connect export.
struct SerialPortSettingsStruct {
    int32_t port;         // COM port number, 1..127
    int32_t baud;         // bits per second
    int32_t parity;       // 0 None, 1 Odd, 2 Even, 3 Mark, 4 Space
    int32_t dataBits;     // 7 or 8
    int32_t stopBits;     // 0 = 1 bit, 1 = 1.5 bits, 2 = 2 bits
    int32_t flowControl;  // 0 None .. 5 XON/XOFF
};

enum SerialPortError {
    SerialPortErrorResponseTimeout = 4,
};

// Display names of the settings, for log entries. Out-of-range values give
// L"Unknown" rather than reading outside the tables.
const wchar_t* SerialParityName(int parity);
const wchar_t* SerialDataBitsName(int dataBits);
const wchar_t* SerialStopBitsName(int stopBits);
const wchar_t* SerialFlowControlName(int flowControl);

using SerialResponseCallback = std::function<void(const char* text, int timedOut)>;
using SerialLinesCallback = std::function<void(std::vector<std::string> lines, int timedOut)>;
using SerialErrorCallback = std::function<void(SerialPortError code, const char* text)>;

// Cap on the reply text in progress and on the collected lines of a
// multi-line reply; a reply that outgrows either ends as a failed reply.
constexpr size_t kSerialMaxReplyBytes = 64 * 1024;

// One queued command, owned by the queue.
struct SerialCommand {
    std::string command;  // bytes written: the caller's text and the line ending
    SerialResponseCallback responseCallback;
    SerialLinesCallback linesCallback;
    std::string terminator;
    int32_t expectedLines = 1;  // 0 no reply; -1 unlimited, ends by silence
    uint32_t timeoutMs = 1000;
    int32_t retriesLeft = 0;
    uint64_t lastActivity = 0;  // FILETIME units
    int32_t linesReceived = 0;
    HANDLE completionEvent = nullptr;  // signalled after a no-reply command was written
    bool unsolicited = false;          // made by the service thread for data nobody asked for
    bool written = false;
};

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
    DWORD eventMask = 1;
};

class CSerialPort {
public:
    explicit CSerialPort(SerialPortOptions options = {});
    virtual ~CSerialPort();

    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // What Open reports. The values are the ones the port has always given.
    enum class OpenResult { Opened = 0, PortOutOfRange = 2, CannotOpen = 3 };

    // A failure while configuring an opened port is reported through
    // ReportPortError and Open still reports Opened.
    OpenResult Open(const SerialPortSettingsStruct& settings, SerialPortHandlers handlers);

    // The start of every device's Connect: logs the settings, opens the
    // port and starts its service thread, logging each step. False after
    // logging the failure and closing.
    bool OpenAndStart(driverlog::CDeviceLog& log, const SerialPortSettingsStruct& settings,
                      SerialPortHandlers handlers);

    // After Open returned 0 the owner starts the service thread through this
    // (CreateThread with the object as parameter) and keeps the handle.
    static DWORD WINAPI ServiceThread(LPVOID parameter);
    // Convenience: creates the service thread and stores its handle; false
    // when the thread could not be created.
    bool StartServiceThread();

    void SendCommand(const std::string& text, const std::string& terminator, int expectedLines,
                     unsigned timeoutMs, int retries, SerialResponseCallback responseCallback,
                     HANDLE completionEvent = nullptr);
    void SendMultiLineCommand(const std::string& text, unsigned timeoutMs, int retries,
                              SerialLinesCallback linesCallback);

    // Ends the service thread (waiting for it), closes the device and
    // discards queued commands without calling their callbacks. Must not be
    // called from a callback.
    void Close();

    bool IsOpen() const;
    unsigned PortNumber() const { return m_nPort; }
    // True on this port's service thread (inside a reply handler).
    bool RunsOnServiceThread() const { return m_dwServiceThreadId.load() == GetCurrentThreadId(); }

protected:
    // Shows "<operation> Failed with the following error" with the calling
    // thread's last error, through MessageBoxW.
    void ReportPortError(const wchar_t* operation);

private:
    void Run();
    void StopServiceThread();
    void Enqueue(std::unique_ptr<SerialCommand> command);
    void TransmitNext();
    DWORD ReceiveBytes();  // how many bytes it read
    void HandleByte(char byte);
    void HandleTimeout();
    void Fail(const wchar_t* reason);
    // The command whose reply is being collected: the written front of the
    // queue, or the unsolicited one. Queue lock held.
    SerialCommand* Current();
    std::unique_ptr<SerialCommand> TakeCurrent();
    std::unique_ptr<SerialCommand> PopFront();
    void WakeWriterIfQueued();
    uint32_t RemainingMs(const SerialCommand& command) const;
    std::string WithLineEnding(const std::string& text) const;

    SerialPortOptions m_options;
    HANDLE m_hThread = nullptr;

    HANDLE m_hPort = nullptr;
    unsigned m_nPort = 0;
    HANDLE m_hShutdownEvent = nullptr;
    HANDLE m_hWriteEvent = nullptr;
    HANDLE m_hIdleEvent = nullptr;
    DWORD m_dwEventMask = 0;

    SerialErrorCallback m_fnErrorCallback;
    SerialResponseCallback m_fnDefaultCallback;
    char m_cPrefix = 0;
    std::string m_strDefaultTerminator;

    std::string m_strReceiveBuffer;
    std::vector<std::string> m_lines;
    size_t m_nLineBytes = 0;
    std::deque<std::unique_ptr<SerialCommand>> m_queue;
    std::unique_ptr<SerialCommand> m_pUnsolicited;  // data nobody asked for, being collected
    std::atomic<DWORD> m_dwServiceThreadId{0};

    CRITICAL_SECTION m_csPort;
    CRITICAL_SECTION m_csQueue;
};
