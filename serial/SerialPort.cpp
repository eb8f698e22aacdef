// Command/response transport over one serial port (see SerialPort.h).
//
// The service thread waits in one call for shutdown, new work and bytes to
// read, bounded by the deadline of whatever reply is in progress. Everything
// it does to the queue, the receive buffer and the line list happens under
// the queue lock; the port lock guards the device handle. Where both are
// held the port lock is taken first.
#include "serial/SerialPort.h"

#include <platform/text.h>

#include <algorithm>

namespace {

uint64_t NowFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

constexpr uint64_t kTicksPerMs = 10000;
constexpr DWORD kReadChunk = 512;

// Locks a CRITICAL_SECTION for a scope.
class CLock {
public:
    explicit CLock(CRITICAL_SECTION& section) : m_section(section) {
        EnterCriticalSection(&m_section);
    }
    ~CLock() { LeaveCriticalSection(&m_section); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

private:
    CRITICAL_SECTION& m_section;
};

void CloseIf(HANDLE& handle) {
    if (handle) CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

std::string CSerialPort::WithLineEnding(const std::string& text) const {
    // Built by appending: GCC 12 warns falsely about operator+ here.
    std::string bytes;
    bytes.reserve(text.size() + m_options.lineEnding.size());
    bytes.append(text).append(m_options.lineEnding);
    return bytes;
}

const wchar_t* SerialParityName(int parity) {
    static const wchar_t* const names[] = {L"None", L"Odd", L"Even", L"Mark", L"Space"};
    return (parity >= 0 && parity < 5) ? names[parity] : L"Unknown";
}

const wchar_t* SerialDataBitsName(int dataBits) {
    static const wchar_t* const names[] = {L"7", L"8"};
    return (dataBits == 7 || dataBits == 8) ? names[dataBits - 7] : L"Unknown";
}

const wchar_t* SerialStopBitsName(int stopBits) {
    static const wchar_t* const names[] = {L"1", L"1.5", L"2"};
    return (stopBits >= 0 && stopBits < 3) ? names[stopBits] : L"Unknown";
}

const wchar_t* SerialFlowControlName(int flowControl) {
    static const wchar_t* const names[] = {L"None",    L"CTS/RTS", L"CTS/DTR",
                                           L"DSR/RTS", L"DSR/DTR", L"XON/XOFF"};
    return (flowControl >= 0 && flowControl < 6) ? names[flowControl] : L"Unknown";
}

CSerialPort::CSerialPort(SerialPortOptions options) : m_options(std::move(options)) {
    InitializeCriticalSection(&m_csPort);
    InitializeCriticalSection(&m_csQueue);
}

CSerialPort::~CSerialPort() {
    Close();
    CloseIf(m_hShutdownEvent);
    CloseIf(m_hWriteEvent);
    CloseIf(m_hIdleEvent);
    CloseIf(m_hThread);
    DeleteCriticalSection(&m_csQueue);
    DeleteCriticalSection(&m_csPort);
}

CSerialPort::OpenResult CSerialPort::Open(const SerialPortSettingsStruct& settings,
                                          SerialPortHandlers handlers) {
    const unsigned port = static_cast<unsigned>(settings.port);
    if (port - 1u > 126u) return OpenResult::PortOutOfRange;

    StopServiceThread();

    {
        // Under the queue lock: another thread may already be queueing
        // commands on a device that is listed but not yet connected.
        CLock queueLock(m_csQueue);
        CloseIf(m_hShutdownEvent);
        CloseIf(m_hWriteEvent);
        CloseIf(m_hIdleEvent);
        m_hShutdownEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        m_hWriteEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        m_hIdleEvent = CreateEvent(nullptr, TRUE, TRUE, nullptr);
        if (!m_queue.empty()) SetEvent(m_hWriteEvent);
    }

    m_fnErrorCallback = std::move(handlers.errorCallback);
    m_fnDefaultCallback = std::move(handlers.defaultCallback);
    m_cPrefix = handlers.prefix;
    m_strDefaultTerminator = std::move(handlers.defaultTerminator);
    m_nPort = port;
    m_dwEventMask = handlers.eventMask;

    CLock portLock(m_csPort);
    CloseIf(m_hPort);
    m_hPort = Serial_Open(port);
    if (!m_hPort) return OpenResult::CannotOpen;

    if (!Serial_Configure(m_hPort, static_cast<unsigned>(settings.baud), settings.parity,
                          settings.dataBits, settings.stopBits, settings.flowControl))
        ReportPortError(L"SetCommState()");
    Serial_Purge(m_hPort);
    return OpenResult::Opened;
}

bool CSerialPort::OpenAndStart(driverlog::CDeviceLog& log, const SerialPortSettingsStruct& settings,
                               SerialPortHandlers handlers) {
    log.Log(driverlog::Debug,
            L": Initializing serial port with the following settings: Port: ", settings.port,
            L", Baud: ", settings.baud, L", Parity: ", SerialParityName(settings.parity),
            L", Databits: ", SerialDataBitsName(settings.dataBits),
            L", Stopbits: ", SerialStopBitsName(settings.stopBits),
            L", FlowControl: ", SerialFlowControlName(settings.flowControl));
    if (Open(settings, std::move(handlers)) != OpenResult::Opened) {
        log.Log(driverlog::Error, L": Error initializing the serial port.");
        Close();
        return false;
    }
    log.Log(driverlog::Debug, L": Serial port successfully initialized.");
    if (!StartServiceThread()) {
        log.Log(driverlog::Error,
                L": Error starting serial port communication thread, uninitializing port.");
        Close();
        return false;
    }
    log.Log(driverlog::Debug, L": Serial port communication thread started.");
    return true;
}

DWORD WINAPI CSerialPort::ServiceThread(LPVOID parameter) {
    static_cast<CSerialPort*>(parameter)->Run();
    return 100;
}

bool CSerialPort::StartServiceThread() {
    StopServiceThread();
    CloseIf(m_hThread);
    m_hThread = CreateThread(nullptr, 0, &CSerialPort::ServiceThread, this, 0, nullptr);
    return m_hThread != nullptr;
}

bool CSerialPort::IsOpen() const {
    CLock portLock(const_cast<CRITICAL_SECTION&>(m_csPort));
    return m_hPort != nullptr;
}

void CSerialPort::SendCommand(const std::string& text, const std::string& terminator,
                              int expectedLines, unsigned timeoutMs, int retries,
                              SerialResponseCallback responseCallback, HANDLE completionEvent) {
    auto command = std::make_unique<SerialCommand>();
    command->command = WithLineEnding(text);
    command->responseCallback = std::move(responseCallback);
    command->terminator = terminator;
    command->expectedLines = expectedLines;
    command->timeoutMs = timeoutMs;
    command->retriesLeft = retries;
    command->completionEvent = completionEvent;
    command->lastActivity = NowFileTime();
    Enqueue(std::move(command));
}

void CSerialPort::SendMultiLineCommand(const std::string& text, unsigned timeoutMs, int retries,
                                       SerialLinesCallback linesCallback) {
    auto command = std::make_unique<SerialCommand>();
    command->command = WithLineEnding(text);
    command->linesCallback = std::move(linesCallback);
    command->terminator.assign(1, '\r');  // (assigning a literal trips a GCC 12 false warning)
    command->expectedLines = -1;
    command->timeoutMs = timeoutMs;
    command->retriesLeft = retries;
    command->lastActivity = NowFileTime();
    Enqueue(std::move(command));
}

void CSerialPort::Enqueue(std::unique_ptr<SerialCommand> command) {
    CLock queueLock(m_csQueue);
    m_queue.push_back(std::move(command));
    if (m_hWriteEvent) SetEvent(m_hWriteEvent);
}

void CSerialPort::StopServiceThread() {
    if (!m_hThread) return;
    if (m_hShutdownEvent) SetEvent(m_hShutdownEvent);
    // A callback that closes its own port cannot wait for its own thread;
    // the thread leaves on its own once the callback returns.
    if (m_dwServiceThreadId.load() == GetCurrentThreadId()) return;
    WaitForSingleObject(m_hThread, INFINITE);
}

void CSerialPort::Close() {
    StopServiceThread();
    {
        CLock portLock(m_csPort);
        CloseIf(m_hPort);
    }
    CLock queueLock(m_csQueue);
    // Queued commands end without their callbacks, but a caller blocked on a
    // no-reply command's completion event must not be left waiting for ever.
    for (auto& command : m_queue)
        if (command->completionEvent) SetEvent(command->completionEvent);
    m_queue.clear();
    m_pUnsolicited.reset();
    m_strReceiveBuffer.clear();
    m_lines.clear();
    m_nLineBytes = 0;
    if (m_hIdleEvent) SetEvent(m_hIdleEvent);
}

void CSerialPort::ReportPortError(const wchar_t* operation) {
    const DWORD error = GetLastError();
    LPWSTR systemText = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error,
                   0x0400, reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
    const std::wstring message =
        platform::FormatW(L"WARNING:  %ls Failed with the following error: \n%ls\nPort: %d\n",
                          operation, systemText ? systemText : L"", static_cast<int>(m_nPort));
    MessageBoxW(nullptr, message.c_str(), L"Application Error", MB_ICONERROR);
    LocalFree(systemText);
}

// ---- service thread ------------------------------------------------------

SerialCommand* CSerialPort::Current() {
    if (!m_queue.empty() && m_queue.front()->written) return m_queue.front().get();
    return m_pUnsolicited.get();
}

uint32_t CSerialPort::RemainingMs(const SerialCommand& command) const {
    const uint64_t deadline = command.lastActivity + command.timeoutMs * kTicksPerMs;
    const uint64_t now = NowFileTime();
    if (now >= deadline) return 0;
    // Round up: waking a fraction of a millisecond early would only loop.
    return static_cast<uint32_t>((deadline - now + kTicksPerMs - 1) / kTicksPerMs);
}

void CSerialPort::Run() {
    m_dwServiceThreadId.store(GetCurrentThreadId());
    {
        CLock portLock(m_csPort);
        if (m_hPort) Serial_Purge(m_hPort);
    }
    for (;;) {
        DWORD timeout = INFINITE;
        bool inFlight = false;
        {
            CLock queueLock(m_csQueue);
            if (SerialCommand* current = Current()) {
                inFlight = true;
                timeout = RemainingMs(*current);
            }
        }
        // While a reply is in progress only its bytes, its deadline and
        // shutdown matter; new work waits until the port is idle again.
        const HANDLE events[2] = {m_hShutdownEvent, m_hWriteEvent};
        const DWORD count = inFlight ? 1 : 2;
        HANDLE port;
        {
            CLock portLock(m_csPort);
            port = m_hPort;
        }
        DWORD result = Serial_Wait(port, count, events, timeout);
        if (result == WAIT_FAILED) result = WaitForMultipleObjects(count, events, FALSE, timeout);

        if (result == WAIT_OBJECT_0) break;
        if (result == WAIT_OBJECT_0 + count) {
            // Bytes read after the deadline came too late, even when this
            // thread only got to run after they had arrived.
            HandleTimeout();
            ReceiveBytes();
        } else if (result == WAIT_OBJECT_0 + 1) {
            // Bytes that came in before the new work are still someone's
            // (an unsolicited line): they are handed over, not taken for the
            // reply to the command about to be written.
            while (ReceiveBytes() == kReadChunk) {
            }
            TransmitNext();
        } else if (result == WAIT_TIMEOUT) {
            HandleTimeout();
        } else if (result == WAIT_FAILED) {
            break;  // our own events are gone: nothing left to serve
        }
    }
    m_dwServiceThreadId.store(0);
}

void CSerialPort::TransmitNext() {
    CLock portLock(m_csPort);
    CLock queueLock(m_csQueue);
    if (Current()) return;  // an unsolicited reply is still arriving
    if (m_queue.empty()) {
        ResetEvent(m_hWriteEvent);
        return;
    }
    // No purge of unread input here: whatever came in before this write was
    // read and handed over just now, and anything arriving from here on is
    // read after the write, where a "!" line still goes to the default
    // callback. A purge could only throw away a notification that happened
    // to land in this instant.
    m_strReceiveBuffer.clear();
    m_lines.clear();
    m_nLineBytes = 0;

    ResetEvent(m_hIdleEvent);
    ResetEvent(m_hWriteEvent);
    SerialCommand& command = *m_queue.front();
    DWORD written = 0;
    const DWORD writeLimit = std::max<DWORD>(command.timeoutMs, 1000);
    const BOOL ok = m_hPort && Serial_Write(m_hPort, command.command.data(),
                                            static_cast<DWORD>(command.command.size()),
                                            &written, writeLimit);
    command.written = true;
    command.linesReceived = 0;
    command.lastActivity = NowFileTime();
    if (!ok) {
        ReportPortError(L"WriteFile()");
        // What is left of a write that ran out of time must not go out in
        // front of the next command.
        if (m_hPort) Serial_Purge(m_hPort);
        if (command.expectedLines != 0) return;  // ends through its time-out
        // A command that expects no reply would otherwise be reported as
        // done although nothing went out.
        auto failed = PopFront();
        if (failed->responseCallback) failed->responseCallback("", 1);
        if (failed->completionEvent) SetEvent(failed->completionEvent);
        SetEvent(m_hIdleEvent);
        WakeWriterIfQueued();
        return;
    }
    if (command.expectedLines == 0) {
        auto done = PopFront();
        if (done->responseCallback) done->responseCallback("", 0);
        if (done->completionEvent) SetEvent(done->completionEvent);
        SetEvent(m_hIdleEvent);
        WakeWriterIfQueued();
    }
}

std::unique_ptr<SerialCommand> CSerialPort::PopFront() {
    auto command = std::move(m_queue.front());
    m_queue.pop_front();
    return command;
}

std::unique_ptr<SerialCommand> CSerialPort::TakeCurrent() {
    if (!m_queue.empty() && m_queue.front()->written) return PopFront();
    return std::move(m_pUnsolicited);
}

void CSerialPort::WakeWriterIfQueued() {
    if (!m_queue.empty()) SetEvent(m_hWriteEvent);
}

DWORD CSerialPort::ReceiveBytes() {
    char bytes[kReadChunk];
    DWORD count = 0;
    BOOL ok;
    {
        CLock portLock(m_csPort);
        ok = m_hPort && Serial_Read(m_hPort, bytes, sizeof bytes, &count);
    }
    if (!ok) {
        ReportPortError(L"ReadFile()");
        return 0;
    }
    CLock queueLock(m_csQueue);
    for (DWORD i = 0; i < count; ++i) HandleByte(bytes[i]);
    return count;
}

void CSerialPort::HandleByte(char byte) {
    SerialCommand* command = Current();
    if (!command) {
        // Nobody asked: collect it as an unsolicited reply for the default
        // callback.
        m_pUnsolicited = std::make_unique<SerialCommand>();
        m_pUnsolicited->responseCallback = m_fnDefaultCallback;
        m_pUnsolicited->terminator = m_strDefaultTerminator;
        m_pUnsolicited->lastActivity = NowFileTime();
        m_pUnsolicited->unsolicited = true;
        m_pUnsolicited->written = true;
        command = m_pUnsolicited.get();
    }

    const bool prefixLine = !m_strReceiveBuffer.empty() && m_strReceiveBuffer[0] == m_cPrefix;
    m_strReceiveBuffer.push_back(byte);
    const std::string& terminator = command->terminator;
    const bool complete = !terminator.empty() && m_strReceiveBuffer.size() >= terminator.size() &&
                          m_strReceiveBuffer.compare(m_strReceiveBuffer.size() - terminator.size(),
                                                     terminator.size(), terminator) == 0;
    if (!complete) {
        if (m_strReceiveBuffer.size() > kSerialMaxReplyBytes) Fail(L"overflow");
        return;
    }

    std::string line = m_strReceiveBuffer.substr(0, m_strReceiveBuffer.size() - terminator.size());
    if (!prefixLine) {
        ++command->linesReceived;
        command->lastActivity = NowFileTime();
        if (command->linesCallback) {
            m_nLineBytes += line.size();
            m_lines.push_back(line);
            m_strReceiveBuffer.clear();
            if (m_nLineBytes > kSerialMaxReplyBytes) {
                Fail(L"overflow");
                return;
            }
        }
    }

    if (command->linesReceived != command->expectedLines) {
        if (prefixLine) {
            if (m_fnDefaultCallback) m_fnDefaultCallback(line.c_str(), 0);
            if (command->unsolicited && m_options.dropUnsolicitedAfterPrefixLine)
                m_pUnsolicited.reset();
        }
        m_strReceiveBuffer.clear();
        return;
    }

    // The reply is complete.
    SetEvent(m_hIdleEvent);
    auto done = TakeCurrent();
    std::vector<std::string> lines;
    lines.swap(m_lines);
    m_nLineBytes = 0;
    m_strReceiveBuffer.clear();
    if (done->responseCallback)
        done->responseCallback(line.c_str(), 0);
    else if (done->linesCallback)
        done->linesCallback(std::move(lines), 0);
    WakeWriterIfQueued();
}

void CSerialPort::Fail(const wchar_t*) {
    // A reply that outgrew its buffer is handled like one that never
    // completed, so the caller hears of it and memory stays bounded.
    SetEvent(m_hIdleEvent);
    auto failed = TakeCurrent();
    const std::string partial = m_strReceiveBuffer.substr(0, 256);
    std::vector<std::string> lines;
    lines.swap(m_lines);
    m_nLineBytes = 0;
    m_strReceiveBuffer.clear();
    if (m_fnErrorCallback) m_fnErrorCallback(SerialPortErrorResponseTimeout, partial.c_str());
    if (failed->responseCallback)
        failed->responseCallback(partial.c_str(), 1);
    else if (failed->linesCallback)
        failed->linesCallback(std::move(lines), 1);
    WakeWriterIfQueued();
}

void CSerialPort::HandleTimeout() {
    CLock portLock(m_csPort);
    CLock queueLock(m_csQueue);
    SerialCommand* command = Current();
    if (!command || RemainingMs(*command) > 0) return;

    SetEvent(m_hIdleEvent);
    if (!command->terminator.empty() && command->expectedLines != -1) {
        if (command->retriesLeft > 0 && !command->unsolicited) {
            // Written again from a clean slate: nothing of the late reply
            // may be taken for the new one.
            --command->retriesLeft;
            command->written = false;
            m_strReceiveBuffer.clear();
            m_lines.clear();
            m_nLineBytes = 0;
            SetEvent(m_hWriteEvent);
            return;
        }
        auto failed = TakeCurrent();
        const std::string partial = m_strReceiveBuffer;
        m_strReceiveBuffer.clear();
        if (m_fnErrorCallback) m_fnErrorCallback(SerialPortErrorResponseTimeout, partial.c_str());
        if (failed->responseCallback) failed->responseCallback(partial.c_str(), 1);
    } else if (!command->terminator.empty()) {
        // A multi-line reply always ends by silence; that is no error.
        auto done = TakeCurrent();
        std::vector<std::string> lines;
        lines.swap(m_lines);
        m_nLineBytes = 0;
        m_strReceiveBuffer.clear();
        if (done->linesCallback) done->linesCallback(std::move(lines), 0);
    } else {
        // With no terminator a reply is whatever arrived before the silence.
        auto done = TakeCurrent();
        const std::string text = m_strReceiveBuffer;
        m_strReceiveBuffer.clear();
        if (done->responseCallback) done->responseCallback(text.c_str(), 0);
    }
    WakeWriterIfQueued();
}
