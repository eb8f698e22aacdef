// CElapsedTimeCounter: identification, queries, commands and the diagnostics
// read of one elapsed-time counter (see ElapsedTimeCounter.h).
//
// Every request carries its own reply record, shared by the caller and the
// reply handler: a caller that gives up (the device is being disconnected)
// leaves nothing behind that a late handler could touch, and two requests of
// one kind never overwrite each other's state.
#include "ElapsedTimeCounter.h"

#include "TallyLog.h"

#include <platform/text.h>

#include <cstdio>
#include <map>
#include <utility>

namespace {

using driverlog::Debug;
using driverlog::Error;

// The counter's model name in its identification reply.
constexpr const char* kCounterModel = "ETC";

constexpr unsigned kReplyTimeoutMs = 1000;
// The diagnostic queries are answered without a terminator: the reply is
// whatever arrived when this much silence has passed.
constexpr unsigned kDiagnosticTimeoutMs = 50;
const std::string kTerminator = "\r";

constexpr const wchar_t* kElapsedTimeTimeout = L": T? command timed out! Partial response received: \"";
constexpr const wchar_t* kCommandTimeout = L": Command timed out! Partial response received: \"";

// The device whose handler or diagnostics thread runs on this thread.
thread_local const CElapsedTimeCounter* t_pRunningDevice = nullptr;

class CRunningDeviceScope {
public:
    explicit CRunningDeviceScope(const CElapsedTimeCounter* device)
        : m_pPrevious(std::exchange(t_pRunningDevice, device)) {}
    ~CRunningDeviceScope() { t_pRunningDevice = m_pPrevious; }
    CRunningDeviceScope(const CRunningDeviceScope&) = delete;
    CRunningDeviceScope& operator=(const CRunningDeviceScope&) = delete;

private:
    const CElapsedTimeCounter* m_pPrevious;
};

const char* OrEmpty(const char* text) { return text ? text : ""; }

bool ParseHex(const char* text, uint32_t& value) {
    unsigned parsed = 0;
    if (std::sscanf(text, "%X", &parsed) != 1) return false;
    value = parsed;
    return true;
}

// Quarter seconds, unsigned: a count with the top bit set is not negative.
double QuarterSeconds(uint32_t count) { return count * 0.25; }

bool ParseDecimal(const char* text, int& value) { return std::sscanf(text, "%d", &value) == 1; }

// "manufacturer,model,firmware": the firmware revision is everything after
// the second comma. Fields the reply does not reach keep their values.
void SplitIdentification(const std::string& reply, EtcIdentificationStruct& identification) {
    const auto first = reply.find(',');
    if (first == std::string::npos) return;
    identification.manufacturer = reply.substr(0, first);
    const auto second = reply.find(',', first + 1);
    if (second == std::string::npos) return;
    identification.model = reply.substr(first + 1, second - first - 1);
    identification.firmwareRevision = reply.substr(second + 1);
}

// The numeric queries in the order they go out: byte-wise order of the query
// texts, whatever the order of the record's fields.
const std::map<std::string, uint32_t EtcDiagnosticsStruct::*>& NumericQueries() {
    static const std::map<std::string, uint32_t EtcDiagnosticsStruct::*> queries = {
        {"!0s", &EtcDiagnosticsStruct::s},   {"!0t", &EtcDiagnosticsStruct::t},
        {"!0p", &EtcDiagnosticsStruct::p},   {"!0b", &EtcDiagnosticsStruct::b},
        {"!0b0", &EtcDiagnosticsStruct::b0}, {"!0b1", &EtcDiagnosticsStruct::b1},
        {"!0b2", &EtcDiagnosticsStruct::b2}, {"!0e", &EtcDiagnosticsStruct::e},
        {"!0e0", &EtcDiagnosticsStruct::e0}, {"!0e1", &EtcDiagnosticsStruct::e1},
        {"!0e2", &EtcDiagnosticsStruct::e2},
    };
    return queries;
}

const std::map<std::string, std::string EtcDiagnosticsStruct::*>& TextQueries() {
    static const std::map<std::string, std::string EtcDiagnosticsStruct::*> queries = {
        {"!0v", &EtcDiagnosticsStruct::v},
    };
    return queries;
}

}  // namespace

CElapsedTimeCounter::CElapsedTimeCounter()
    : CSerialPort(SerialPortOptions{"\r", false}),
      m_log(g_log, L"CElapsedTimeCounter", this),
      m_hClosingEvent(platform::COwnedHandle::NewEvent(true)) {}

CElapsedTimeCounter::~CElapsedTimeCounter() {
    if (m_hClosingEvent) SetEvent(m_hClosingEvent.Get());
    m_diagnosticsThreads.StopAndJoin();
    Close();
}

bool CElapsedTimeCounter::RunsOnThisThread() const { return t_pRunningDevice == this; }

template <typename Reply, typename Handler>
SerialResponseCallback CElapsedTimeCounter::Bind(std::shared_ptr<Reply> reply, Handler handler) {
    return [this, reply = std::move(reply), handler](const char* text, int timedOut) {
        CRunningDeviceScope scope(this);
        (this->*handler)(*reply, OrEmpty(text), timedOut);
    };
}

bool CElapsedTimeCounter::WaitForReply(HANDLE event) {
    if (!event) return false;
    if (!m_hClosingEvent) return WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0;
    const HANDLE events[2] = {event, m_hClosingEvent.Get()};
    // The reply comes first when both are set: it was handled completely.
    return WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0;
}

// ---- Replies ----------------------------------------------------------------

struct CElapsedTimeCounter::CReply {
    virtual ~CReply() = default;
    // Takes a reply that came in time; false, after logging why, when it
    // cannot be used.
    virtual bool Accept(driverlog::CDeviceLog& log, const char* text) = 0;
    // Hands the outcome on, before the waiting caller is woken.
    virtual void Deliver() {}

    // Gives the reply an event of its own to wait on; false when none could
    // be made.
    bool UseOwnEvent() {
        ownEvent = platform::COwnedHandle::NewEvent();
        event = ownEvent.Get();
        return event != nullptr;
    }

    const wchar_t* timeoutMessage = kCommandTimeout;
    platform::COwnedHandle ownEvent;
    HANDLE event = nullptr;  // ownEvent, the caller's (may be null), or nothing
    int valid = 0;
};

// "T?", "P?" and the numeric diagnostics.
struct CElapsedTimeCounter::CHexReply final : CReply {
    bool Accept(driverlog::CDeviceLog& log, const char* text) override {
        if (ParseHex(text, count)) return true;
        log.Log(Error, L": Error converting response to DWORD. Response = \"", text, L"\".");
        return false;
    }
    void Deliver() override {
        if (callback) std::exchange(callback, nullptr)(valid, count);
    }

    std::function<void(int valid, uint32_t count)> callback;
    uint32_t count = 0;
};

// Reset and set-base.
struct CElapsedTimeCounter::CDecimalReply final : CReply {
    bool Accept(driverlog::CDeviceLog& log, const char* text) override {
        if (ParseDecimal(text, result)) return true;
        log.Log(Error, L": Error converting response to integer. Response = \"", text, L"\".");
        return false;
    }

    int result = 0;
};

// The version query of the diagnostics: any text will do.
struct CElapsedTimeCounter::CTextReply final : CReply {
    bool Accept(driverlog::CDeviceLog&, const char* reply) override {
        text = reply;
        return true;
    }

    std::string text;
};

void CElapsedTimeCounter::Send(const std::string& command, const std::string& terminator,
                               unsigned timeoutMs, std::shared_ptr<CReply> reply) {
    SendCommand(command, terminator, 1, timeoutMs, 0,
                Bind(std::move(reply), &CElapsedTimeCounter::OnReply));
}

bool CElapsedTimeCounter::SendAndWait(const std::string& command, const std::string& terminator,
                                      unsigned timeoutMs, std::shared_ptr<CReply> reply) {
    if (!reply->UseOwnEvent()) return false;
    Send(command, terminator, timeoutMs, reply);
    // Every command ends with a handler call (its reply or its time-out), so
    // the wait ends unless the device is being disconnected.
    return WaitForReply(reply->event) && reply->valid;
}

void CElapsedTimeCounter::OnReply(CReply& reply, const char* text, int timedOut) {
    reply.valid = 0;
    if (timedOut) {
        m_log.Log(Error, reply.timeoutMessage, text, L"\".");
    } else if (reply.Accept(m_log, text)) {
        reply.valid = 1;
    }
    reply.Deliver();
    if (reply.event) SetEvent(reply.event);
}

// ---- Connect and identification -----------------------------------------

int CElapsedTimeCounter::Connect(const SerialPortSettingsStruct& settings, int blocking,
                                 HANDLE event) {
    m_log.ApplySavedSettings();

    auto reply = std::make_shared<CIdentificationReply>();
    reply->callerEvent = event;
    if (blocking) {
        // A blocking connect waits on an event of its own, so a caller's
        // event that is already set cannot end the wait early. The caller's
        // event is still signalled, and closed once the wait is over: callers
        // of a blocking connect hand it over.
        reply->ownEvent = platform::COwnedHandle::NewEvent();
        if (!reply->ownEvent) return 1;
    }

    const auto onPortError = [this](SerialPortError code, const char* text) {
        m_log.Log(Error, L": Error code = ", static_cast<int>(code), L", message = \"",
                  OrEmpty(text), L"\".");
    };
    if (OpenAndStart(m_log, onPortError, [](const char*, int) {}, '!', "", settings) != 0) return 1;
    m_log.Log(Debug, L": Attempting to detect a Vandrel Elapsed Time Counter on the serial port.");

    const HANDLE ownEvent = reply->ownEvent.Get();
    SendCommand("I?", kTerminator, 1, kReplyTimeoutMs, 0,
                Bind(reply, &CElapsedTimeCounter::OnIdentificationReply));
    if (!blocking) return 0;

    WaitForReply(ownEvent);
    if (event) {
        std::lock_guard lock(reply->callerLock);
        reply->callerEvent = nullptr;
        CloseHandle(event);
    }
    if (!IsValidDevice()) {
        m_log.Log(Debug, L": No Vandrel Elapsed Time Counter detected on the serial port.");
        Close();
        return 2;
    }
    return 0;
}

void CElapsedTimeCounter::OnIdentificationReply(CIdentificationReply& reply, const char* text,
                                                int timedOut) {
    bool valid = false;
    EtcIdentificationStruct identification;
    {
        std::lock_guard lock(m_mutex);
        if (!timedOut) {
            m_identification.response = text;
            SplitIdentification(m_identification.response, m_identification);
            valid = m_identification.model == kCounterModel;
        }
        m_bIsValidDevice = valid ? 1 : 0;
        identification = m_identification;
    }
    if (valid) {
        m_log.Log(Debug,
                  L": A Vandrel Elapsed Time Counter has been detected with the following "
                  L"properties: Manufacturer: ",
                  identification.manufacturer, L", Model: ", identification.model,
                  L", Firmware Revision: ", identification.firmwareRevision);
    }
    {
        std::lock_guard lock(reply.callerLock);
        if (reply.callerEvent) SetEvent(reply.callerEvent);
    }
    if (reply.ownEvent) SetEvent(reply.ownEvent.Get());
}

EtcIdentificationStruct CElapsedTimeCounter::GetIdentification() const {
    std::lock_guard lock(m_mutex);
    return m_identification;
}

int CElapsedTimeCounter::IsValidDevice() const {
    std::lock_guard lock(m_mutex);
    return m_bIsValidDevice;
}

// ---- Elapsed time and power cycles ----------------------------------------

EtcError CElapsedTimeCounter::ReadCount(const char* query, const wchar_t* logText,
                                        const wchar_t* timeoutMessage, uint32_t& count) {
    m_log.Log(Debug, logText);
    auto reply = std::make_shared<CHexReply>();
    reply->timeoutMessage = timeoutMessage;
    if (!SendAndWait(query, kTerminator, kReplyTimeoutMs, reply)) return EtcErrorCommandFailed;
    count = reply->count;
    return EtcSuccess;
}

void CElapsedTimeCounter::ReadCountCallback(const char* query, const wchar_t* logText,
                                            const wchar_t* timeoutMessage,
                                            std::function<void(int valid, uint32_t count)> callback) {
    m_log.Log(Debug, logText);
    auto reply = std::make_shared<CHexReply>();
    reply->timeoutMessage = timeoutMessage;
    reply->callback = std::move(callback);
    Send(query, kTerminator, kReplyTimeoutMs, std::move(reply));
}

EtcError CElapsedTimeCounter::GetElapsedTime(double* seconds) {
    if (!seconds) return EtcErrorInvalidParameter;
    uint32_t count = 0;
    const EtcError result =
        ReadCount("T?", L": Getting the elapsed time count.", kElapsedTimeTimeout, count);
    if (result == EtcSuccess) *seconds = QuarterSeconds(count);
    return result;
}

EtcError CElapsedTimeCounter::GetPowerCycleCount(uint32_t* count) {
    if (!count) return EtcErrorInvalidParameter;
    return ReadCount("P?", L": Getting the number of power cycles.", kCommandTimeout, *count);
}

EtcError CElapsedTimeCounter::GetElapsedTimeCallback(EtcElapsedTimeCallback callback) {
    std::function<void(int, uint32_t)> countCallback;
    if (callback) {
        countCallback = [callback = std::move(callback)](int valid, uint32_t count) {
            callback(valid, QuarterSeconds(count));
        };
    }
    ReadCountCallback("T?", L": Getting the elapsed time count.", kElapsedTimeTimeout,
                      std::move(countCallback));
    return EtcSuccess;
}

EtcError CElapsedTimeCounter::GetPowerCycleCountCallback(EtcPowerCycleCountCallback callback) {
    ReadCountCallback("P?", L": Getting the power cycle count.", kCommandTimeout,
                      std::move(callback));
    return EtcSuccess;
}

// ---- Reset and set-base commands ------------------------------------------

EtcError CElapsedTimeCounter::RunDecimalCommand(const std::string& command, int blocking,
                                                HANDLE event) {
    auto reply = std::make_shared<CDecimalReply>();
    if (blocking) {
        return SendAndWait(command, kTerminator, kReplyTimeoutMs, std::move(reply))
                   ? EtcSuccess
                   : EtcErrorCommandFailed;
    }
    reply->event = event;
    Send(command, kTerminator, kReplyTimeoutMs, std::move(reply));
    return EtcSuccess;
}

EtcError CElapsedTimeCounter::Reset(int blocking, HANDLE event) {
    m_log.Log(Debug, L": Resetting the elapsed time counter.");
    return RunDecimalCommand("R!", blocking, event);
}

EtcError CElapsedTimeCounter::SetBaseElapsedTimeCount(uint32_t value, int blocking, HANDLE event) {
    m_log.Log(Debug, platform::FormatW(L": Setting the base elapsed time count to 0x%08X.", value));
    return RunDecimalCommand(platform::Format("!0BB%08X", value), blocking, event);
}

EtcError CElapsedTimeCounter::SetBasePowerCycleCount(uint32_t value, int blocking, HANDLE event) {
    m_log.Log(Debug, platform::FormatW(L": Setting the base power cycle count to 0x%08X.", value));
    return RunDecimalCommand(platform::Format("!0EE%06X", value), blocking, event);
}

// ---- Diagnostics ------------------------------------------------------------

EtcError CElapsedTimeCounter::GetDiagnostics(EtcDiagnosticsStruct* diagnostics) {
    if (!diagnostics) return EtcErrorInvalidParameter;
    m_log.Log(Debug, L": Getting the diagnostics values from the device.");
    auto read = std::make_shared<CDiagnosticsRead>();
    read->record = diagnostics;
    const EtcError started = StartDiagnostics(read);
    if (started != EtcSuccess) return started;
    // The thread signals on every path, a failed or abandoned read included.
    WaitForSingleObject(read->complete.Get(), INFINITE);
    // A read that stopped at a failed query is not reported as done.
    return read->valid ? EtcSuccess : EtcErrorCommandFailed;
}

EtcError CElapsedTimeCounter::GetDiagnosticsCallback(EtcDiagnosticsCallback callback) {
    m_log.Log(Debug, L": Getting the diagnostics values from the device using a callback.");
    if (!callback) return EtcErrorInvalidParameter;
    auto read = std::make_shared<CDiagnosticsRead>();
    read->callback = std::move(callback);
    // The record lives in the device for the whole read; no caller's frame
    // has to outlive the thread.
    read->record = &m_callbackDiagnostics;
    return StartDiagnostics(std::move(read));
}

EtcError CElapsedTimeCounter::StartDiagnostics(std::shared_ptr<CDiagnosticsRead> read) {
    {
        std::lock_guard lock(m_mutex);
        if (m_bDiagnosticsBusy) return EtcErrorBusy;
        m_bDiagnosticsBusy = true;
    }
    if (!read->callback) {
        read->complete = platform::COwnedHandle::NewEvent();
        if (!read->complete) {
            m_log.Log(Debug, L": Failed creating m_hGetDiagnosticsThreadCompleteEvent.");
            ClearDiagnosticsBusy();
            return EtcErrorFailed;
        }
    }
    // The previous read's thread touches no record once it has cleared the
    // busy mark, even if it has not returned yet.
    if (read->record == &m_callbackDiagnostics) m_callbackDiagnostics = EtcDiagnosticsStruct{};
    if (!m_diagnosticsThreads.Start([this, read] { GetDiagnosticsThread(read); })) {
        m_log.Log(Debug, L": Failed creating GetDiagnosticsThread.");
        ClearDiagnosticsBusy();
        return EtcErrorFailed;
    }
    return EtcSuccess;
}

void CElapsedTimeCounter::GetDiagnosticsThread(std::shared_ptr<CDiagnosticsRead> read) {
    CRunningDeviceScope scope(this);
    m_log.Log(Debug, L": GetDiagnosticsThread started.");
    read->valid = 0;
    if (ReadDiagnostics(*read->record)) {
        read->valid = 1;
        // The callback runs while the read still counts as busy, so a new
        // read started from inside it is refused instead of racing this one.
        if (read->callback) {
            const auto callback = std::exchange(read->callback, nullptr);
            callback(read->valid, *read->record);
        }
    }
    const HANDLE complete = read->complete.Get();
    ClearDiagnosticsBusy();
    // Signalled after the busy mark is cleared: a caller woken here may
    // start the next read at once.
    if (complete) SetEvent(complete);
}

void CElapsedTimeCounter::ClearDiagnosticsBusy() {
    std::lock_guard lock(m_mutex);
    m_bDiagnosticsBusy = false;
}

bool CElapsedTimeCounter::ReadDiagnostics(EtcDiagnosticsStruct& record) {
    // No terminator: each reply is what arrived within the time-out.
    for (const auto& [query, field] : NumericQueries()) {
        auto reply = std::make_shared<CHexReply>();
        if (!SendAndWait(query, "", kDiagnosticTimeoutMs, reply)) return false;
        record.*field = reply->count;
    }
    for (const auto& [query, field] : TextQueries()) {
        auto reply = std::make_shared<CTextReply>();
        if (!SendAndWait(query, "", kDiagnosticTimeoutMs, reply)) return false;
        record.*field = reply->text;
    }
    return true;
}

// ---- Disconnect -------------------------------------------------------------

void CElapsedTimeCounter::Disconnect() {
    if (m_hClosingEvent) SetEvent(m_hClosingEvent.Get());
    Close();
}
