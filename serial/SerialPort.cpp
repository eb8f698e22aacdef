// Command/response transport over one serial port (see SerialPort.h).
//
// The service thread waits in one call for shutdown, new work and bytes to
// read, bounded by the deadline of whatever reply is in progress. It goes
// back to that wait after every read, and a hand-over before a write reads
// a bounded amount, so a device that never stops sending still leaves room
// for shutdown, time-outs, callbacks and the next command. Each of
// its steps decides under the locks what is to be called and calls it only
// after letting go of them: the owner's callbacks and the message box may
// block on other threads, and those threads queue commands. Deadlines run on
// the steady clock, so setting the wall clock neither stretches nor cuts a
// time-out.
#include "serial/SerialPort.h"

#include <platform/text.h>

#include <algorithm>

namespace {

constexpr DWORD kReadChunk = 512;
// The most a new command's hand-over reads: more than a terminal's input
// buffers hold, so all that was waiting is handed over, while a device that
// never pauses cannot keep the service thread reading.
constexpr DWORD kHandOverLimit = 64 * 1024;
// How much of an overlong reply the failure hands over.
constexpr size_t kPartialBytes = 256;

void CloseIf(HANDLE& handle) {
    if (handle) CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

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

CSerialPort::CSerialPort(SerialPortOptions options)
    : m_strLineEnding(std::move(options.lineEnding)),
      m_bDropUnsolicitedAfterPrefixLine(options.dropUnsolicitedAfterPrefixLine) {}

CSerialPort::~CSerialPort() {
    Close();
    CloseIf(m_hShutdownEvent);
    CloseIf(m_hWriteEvent);
    CloseIf(m_hThread);
}

std::string CSerialPort::WithLineEnding(const std::string& text) const {
    // Built by appending: GCC 12 warns falsely about operator+ here.
    std::string bytes;
    bytes.reserve(text.size() + m_strLineEnding.size());
    bytes.append(text).append(m_strLineEnding);
    return bytes;
}

CSerialPort::OpenResult CSerialPort::Open(const SerialPortSettingsStruct& settings,
                                          SerialPortHandlers handlers) {
    const unsigned port = static_cast<unsigned>(settings.port);
    if (port - 1u > 126u) return OpenResult::PortOutOfRange;

    StopServiceThread();

    {
        // Under the queue lock: another thread may already be queueing
        // commands on a device that is listed but not yet connected.
        std::lock_guard queueLock(m_queueMutex);
        CloseIf(m_hShutdownEvent);
        CloseIf(m_hWriteEvent);
        m_hShutdownEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        m_hWriteEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        if (!m_queue.empty()) SetEvent(m_hWriteEvent);
        m_bWriteHeld = false;
        m_strHeldInput.clear();
    }

    m_fnErrorCallback = std::move(handlers.errorCallback);
    m_fnDefaultCallback = std::move(handlers.defaultCallback);
    m_cPrefix = handlers.prefix;
    m_strDefaultTerminator = std::move(handlers.defaultTerminator);
    m_nPort = port;

    DWORD configureError = ERROR_SUCCESS;
    {
        std::lock_guard portLock(m_portMutex);
        CloseIf(m_hPort);
        m_hPort = Serial_Open(port);
        if (!m_hPort) return OpenResult::CannotOpen;
        if (!Serial_Configure(m_hPort, static_cast<unsigned>(settings.baud), settings.parity,
                              settings.dataBits, settings.stopBits, settings.flowControl))
            configureError = GetLastError();
        Serial_Purge(m_hPort);
    }
    if (configureError != ERROR_SUCCESS) ReportPortError(L"SetCommState()", configureError);
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
    m_hThread = CreateThread(nullptr, 0, &CSerialPort::ServiceThread, this, 0, nullptr);
    return m_hThread != nullptr;
}

bool CSerialPort::IsOpen() const {
    std::lock_guard portLock(m_portMutex);
    return m_hPort != nullptr;
}

void CSerialPort::SendCommand(const std::string& text, const std::string& terminator,
                              int expectedLines, unsigned timeoutMs, int retries,
                              SerialResponseCallback responseCallback, HANDLE completionEvent) {
    auto command = std::make_unique<Command>();
    command->bytes = WithLineEnding(text);
    command->responseCallback = std::move(responseCallback);
    command->terminator = terminator;
    command->expectedLines = expectedLines;
    command->timeoutMs = timeoutMs;
    command->retriesLeft = retries;
    command->completionEvent = completionEvent;
    Enqueue(std::move(command));
}

void CSerialPort::SendMultiLineCommand(const std::string& text, unsigned timeoutMs, int retries,
                                       SerialLinesCallback linesCallback) {
    auto command = std::make_unique<Command>();
    command->bytes = WithLineEnding(text);
    command->linesCallback = std::move(linesCallback);
    command->terminator.assign(1, '\r');  // (assigning a literal trips a GCC 12 false warning)
    command->expectedLines = -1;
    command->timeoutMs = timeoutMs;
    command->retriesLeft = retries;
    Enqueue(std::move(command));
}

void CSerialPort::Enqueue(std::unique_ptr<Command> command) {
    std::lock_guard queueLock(m_queueMutex);
    m_queue.push_back(std::move(command));
    if (m_hWriteEvent) SetEvent(m_hWriteEvent);
}

void CSerialPort::StopServiceThread() {
    if (!m_hThread) return;
    if (m_hShutdownEvent) SetEvent(m_hShutdownEvent);
    // A callback that closes its own port cannot wait for its own thread;
    // the thread leaves on its own once the callback returns.
    if (RunsOnServiceThread()) return;
    WaitForSingleObject(m_hThread, INFINITE);
    // Forgotten once joined: a later start would otherwise stop "it" again
    // by signalling the shutdown event the new thread is about to wait on.
    CloseIf(m_hThread);
}

void CSerialPort::Close() {
    StopServiceThread();
    {
        std::lock_guard portLock(m_portMutex);
        CloseIf(m_hPort);
    }
    std::lock_guard queueLock(m_queueMutex);
    // Queued commands end without their callbacks, but a caller blocked on a
    // no-reply command's completion event must not be left waiting for ever.
    for (auto& command : m_queue)
        if (command->completionEvent) SetEvent(command->completionEvent);
    m_queue.clear();
    m_pUnsolicited.reset();
    m_bWriteHeld = false;
    m_strHeldInput.clear();
    m_strReceiveBuffer.clear();
    m_lines.clear();
    m_nLineBytes = 0;
}

void CSerialPort::ReportPortError(const wchar_t* operation, DWORD error) const {
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

CSerialPort::Command* CSerialPort::Current() {
    if (!m_queue.empty() && m_queue.front()->written) return m_queue.front().get();
    return m_pUnsolicited.get();
}

DWORD CSerialPort::RemainingMs(const Command& command) {
    const Clock::time_point deadline =
        command.lastActivity + std::chrono::milliseconds(command.timeoutMs);
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return 0;
    // Round up: waking a fraction of a millisecond early would only loop.
    return static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
}

void CSerialPort::Run() {
    m_nServiceThreadId.store(GetCurrentThreadId());
    {
        std::lock_guard portLock(m_portMutex);
        if (m_hPort) Serial_Purge(m_hPort);
    }
    for (;;) {
        DWORD timeout = INFINITE;
        bool inFlight = false;
        {
            std::lock_guard queueLock(m_queueMutex);
            if (Command* current = Current()) {
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
            std::lock_guard portLock(m_portMutex);
            port = m_hPort;
        }
        DWORD result = Serial_Wait(port, count, events, timeout);
        if (result == WAIT_FAILED) result = WaitForMultipleObjects(count, events, FALSE, timeout);

        if (result == WAIT_OBJECT_0) break;
        if (result == WAIT_OBJECT_0 + count) {
            // Bytes read after the deadline came too late, even when this
            // thread only got to run after they had arrived.
            HandleTimeout();
            DeliverCallOuts();
            ReceiveBytes();
        } else if (result == WAIT_OBJECT_0 + 1) {
            HandOverWaitingInput();
            DeliverCallOuts();
            TransmitNext();
            // Bytes read past the point where this command had its turn
            // count as read after its write.
            HandleHeldInput(false);
        } else if (result == WAIT_TIMEOUT) {
            HandleTimeout();
        } else if (result == WAIT_FAILED) {
            break;  // our own events are gone: nothing left to serve
        }
        // Before the next wait: a reply's callback runs before anything of
        // the next command happens.
        DeliverCallOuts();
    }
    m_nServiceThreadId.store(0);
}

void CSerialPort::DeliverCallOuts() {
    // Only this thread adds to the list, and a callback may close the port
    // (which leaves the list alone), so it is walked in place.
    for (CallOut& callOut : m_callOuts) {
        switch (callOut.kind) {
        case CallOut::Kind::Reply: {
            Command& command = *callOut.command;
            if (command.unsolicited) {
                if (m_fnDefaultCallback) m_fnDefaultCallback(callOut.text.c_str(), callOut.timedOut);
            } else if (command.responseCallback) {
                command.responseCallback(callOut.text.c_str(), callOut.timedOut);
            } else if (command.linesCallback) {
                command.linesCallback(std::move(callOut.lines), callOut.timedOut);
            }
            if (command.completionEvent) SetEvent(command.completionEvent);
            break;
        }
        case CallOut::Kind::DefaultLine:
            if (m_fnDefaultCallback) m_fnDefaultCallback(callOut.text.c_str(), false);
            break;
        case CallOut::Kind::ErrorCallback:
            if (m_fnErrorCallback)
                m_fnErrorCallback(SerialPortErrorResponseTimeout, callOut.text.c_str());
            break;
        case CallOut::Kind::PortError:
            ReportPortError(callOut.operation, callOut.error);
            break;
        }
    }
    m_callOuts.clear();
}

void CSerialPort::TransmitNext() {
    std::string bytes;
    DWORD writeLimit;
    if (!TakeNextWrite(bytes, writeLimit)) return;

    // The write runs without the queue lock, so that queueing never waits
    // for a slow device. The front stays put meanwhile: only this thread
    // removes commands, and Close from elsewhere waits for this thread.
    DWORD written = 0;
    DWORD writeError = ERROR_SUCCESS;
    {
        std::lock_guard portLock(m_portMutex);
        const bool ok = m_hPort && Serial_Write(m_hPort, bytes.data(),
                                                static_cast<DWORD>(bytes.size()), &written,
                                                writeLimit);
        if (!ok) {
            writeError = GetLastError();
            // What is left of a write that ran out of time must not go out
            // in front of the next command.
            if (m_hPort) Serial_Purge(m_hPort);
        }
    }
    AfterWrite(writeError);
}

bool CSerialPort::TakeNextWrite(std::string& bytes, DWORD& writeLimit) {
    std::lock_guard queueLock(m_queueMutex);
    if (const Command* current = Current()) {
        // An unsolicited reply is still arriving: the write waits for its
        // end, and for nothing after it.
        m_bWriteHeld = current->unsolicited;
        return false;
    }
    m_bWriteHeld = false;
    ResetEvent(m_hWriteEvent);
    if (m_queue.empty()) return false;
    // No purge of unread input here: whatever came in before this write
    // was read and handed over just now, and anything arriving from here
    // on is read after the write, where a "!" line still goes to the
    // default callback. A purge could only throw away a notification that
    // happened to land in this instant.
    m_strReceiveBuffer.clear();
    m_lines.clear();
    m_nLineBytes = 0;
    const Command& command = *m_queue.front();
    bytes = command.bytes;
    writeLimit = std::max<DWORD>(command.timeoutMs, 1000);
    return true;
}

void CSerialPort::AfterWrite(DWORD writeError) {
    std::lock_guard queueLock(m_queueMutex);
    Command& command = *m_queue.front();
    command.written = true;
    command.linesReceived = 0;
    command.lastActivity = Clock::now();
    if (writeError != ERROR_SUCCESS) {
        m_callOuts.push_back({CallOut::Kind::PortError, nullptr, {}, {}, false, L"WriteFile()",
                              writeError});
        // A command that expects a reply ends through its time-out; one that
        // expects none would otherwise be reported as done although nothing
        // went out.
        if (command.expectedLines == 0) Finish(PopFront(), {}, true);
    } else if (command.expectedLines == 0) {
        Finish(PopFront(), {}, false);
    }
}

std::unique_ptr<CSerialPort::Command> CSerialPort::PopFront() {
    auto command = std::move(m_queue.front());
    m_queue.pop_front();
    return command;
}

std::unique_ptr<CSerialPort::Command> CSerialPort::TakeCurrent() {
    if (!m_queue.empty() && m_queue.front()->written) return PopFront();
    return std::move(m_pUnsolicited);
}

void CSerialPort::WakeWriterIfQueued() {
    if (!m_queue.empty()) SetEvent(m_hWriteEvent);
}

void CSerialPort::Finish(std::unique_ptr<Command> command, std::string text, bool timedOut) {
    std::vector<std::string> lines;
    lines.swap(m_lines);
    m_nLineBytes = 0;
    m_strReceiveBuffer.clear();
    m_callOuts.push_back(
        {CallOut::Kind::Reply, std::move(command), std::move(text), std::move(lines), timedOut});
    WakeWriterIfQueued();
}

void CSerialPort::HandOverWaitingInput() {
    {
        std::lock_guard queueLock(m_queueMutex);
        // A held command had its hand-over when it first came up; what the
        // device sent since belongs to the unsolicited data that held it, or
        // comes after its write.
        if (m_bWriteHeld) return;
    }
    // Bytes that came in before the new work are still someone's (an
    // unsolicited line): they are handed over, not taken for the reply to
    // the command about to be written. Call-outs go after every read, so
    // that what waits for delivery stays as small as one read makes it.
    HandleHeldInput(true);
    DeliverCallOuts();
    for (DWORD total = 0; total < kHandOverLimit;) {
        const DWORD count = ReceiveBytes(true);
        DeliverCallOuts();
        if (count < kReadChunk) break;  // the input ran dry
        total += count;
    }
}

DWORD CSerialPort::ReceiveBytes(bool handOver) {
    {
        std::lock_guard queueLock(m_queueMutex);
        // Never read past bytes still waiting for a write to go first.
        if (!m_strHeldInput.empty()) return 0;
    }
    char bytes[kReadChunk];
    DWORD count = 0;
    bool ok;
    DWORD readError = ERROR_SUCCESS;
    {
        std::lock_guard portLock(m_portMutex);
        if (!m_hPort) return 0;  // closed by one of this thread's callbacks: nothing to read
        ok = Serial_Read(m_hPort, bytes, sizeof bytes, &count);
        if (!ok) readError = GetLastError();
    }
    if (!ok) {
        m_callOuts.push_back({CallOut::Kind::PortError, nullptr, {}, {}, false, L"ReadFile()",
                              readError});
        return 0;
    }
    std::lock_guard queueLock(m_queueMutex);
    const size_t handled = HandleBytes(bytes, count, handOver);
    m_strHeldInput.assign(bytes + handled, count - handled);
    return count;
}

void CSerialPort::HandleHeldInput(bool handOver) {
    std::lock_guard queueLock(m_queueMutex);
    const size_t handled = HandleBytes(m_strHeldInput.data(), m_strHeldInput.size(), handOver);
    m_strHeldInput.erase(0, handled);
}

size_t CSerialPort::HandleBytes(const char* bytes, size_t count, bool handOver) {
    for (size_t i = 0; i < count; ++i) {
        // Once nothing is in progress, a command waiting to be written goes
        // first, as it would had each byte been read alone: the wait that
        // follows sees its write event before the port.
        if (!handOver && !Current() && !m_queue.empty()) return i;
        HandleByte(bytes[i]);
    }
    return count;
}

void CSerialPort::HandleByte(char byte) {
    Command* command = Current();
    if (!command) {
        // Nobody asked: collect it as an unsolicited reply for the default
        // callback.
        m_pUnsolicited = std::make_unique<Command>();
        m_pUnsolicited->terminator = m_strDefaultTerminator;
        m_pUnsolicited->lastActivity = Clock::now();
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
        if (m_strReceiveBuffer.size() > kSerialMaxReplyBytes) Fail();
        return;
    }

    std::string line = m_strReceiveBuffer.substr(0, m_strReceiveBuffer.size() - terminator.size());
    m_strReceiveBuffer.clear();
    if (!prefixLine) {
        ++command->linesReceived;
        command->lastActivity = Clock::now();
        if (command->linesCallback) {
            // A line held costs its string as well as its text: counted
            // alike, empty lines too are bounded, or a device sending only
            // line ends would grow the list for as long as it kept on.
            m_nLineBytes += line.size() + sizeof(std::string);
            if (m_nLineBytes > kSerialMaxReplyLinesBytes) {
                Fail();
                return;
            }
            m_lines.push_back(line);
        }
    }

    if (command->linesReceived != command->expectedLines) {
        if (prefixLine) {
            m_callOuts.push_back({CallOut::Kind::DefaultLine, nullptr, std::move(line)});
            if (command->unsolicited && m_bDropUnsolicitedAfterPrefixLine) m_pUnsolicited.reset();
        }
        return;
    }
    Finish(TakeCurrent(), std::move(line), false);
}

void CSerialPort::Fail() {
    // A reply that outgrew its buffer is handled like one that never
    // completed, so the caller hears of it and memory stays bounded.
    std::string partial = m_strReceiveBuffer.substr(0, kPartialBytes);
    m_callOuts.push_back({CallOut::Kind::ErrorCallback, nullptr, partial});
    Finish(TakeCurrent(), std::move(partial), true);
}

void CSerialPort::HandleTimeout() {
    std::lock_guard queueLock(m_queueMutex);
    Command* command = Current();
    if (!command || RemainingMs(*command) > 0) return;

    if (command->terminator.empty()) {
        // With no terminator a reply is whatever arrived before the silence.
        Finish(TakeCurrent(), m_strReceiveBuffer, false);
    } else if (command->expectedLines == -1) {
        // A multi-line reply always ends by silence; that is no error.
        Finish(TakeCurrent(), {}, false);
    } else if (command->retriesLeft > 0 && !command->unsolicited) {
        // Written again from a clean slate: nothing of the late reply may be
        // taken for the new one.
        --command->retriesLeft;
        command->written = false;
        m_strReceiveBuffer.clear();
        m_lines.clear();
        m_nLineBytes = 0;
        SetEvent(m_hWriteEvent);
    } else {
        m_callOuts.push_back({CallOut::Kind::ErrorCallback, nullptr, m_strReceiveBuffer});
        Finish(TakeCurrent(), m_strReceiveBuffer, true);
    }
}
