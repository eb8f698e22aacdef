// CElapsedTimeCounter: identification, queries, commands and the diagnostics
// read of one elapsed-time counter (see ElapsedTimeCounter.h).
#include "ElapsedTimeCounter.h"

#include "CounterReplies.h"

#include <platform/text.h>
#include <serial/ReplyText.h>

#include <cstdio>
#include <map>
#include <utility>

namespace {

using driverlog::Debug;
using driverlog::Error;

// The counter's model name in its identification reply.
constexpr const char* kCounterModel = "ETC";

constexpr unsigned kReplyTimeoutMs = 1000;
constexpr unsigned kDiagnosticTimeoutMs = 50;
const std::string kTerminator = "\r";

constexpr const wchar_t* kElapsedTimeTimeout = L": T? command timed out! Partial response received: \"";
constexpr const wchar_t* kCommandTimeout = L": Command timed out! Partial response received: \"";

const char* OrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

namespace tallyreplies {

std::optional<uint32_t> ParseCount(driverlog::CDeviceLog& log, const char* text) {
    unsigned parsed = 0;
    if (std::sscanf(text, "%X", &parsed) == 1) return parsed;
    log.Log(Error, L": Error converting response to DWORD. Response = \"", text, L"\".");
    return std::nullopt;
}

std::optional<int> ParseResult(driverlog::CDeviceLog& log, const char* text) {
    int parsed = 0;
    if (std::sscanf(text, "%d", &parsed) == 1) return parsed;
    log.Log(Error, L": Error converting response to integer. Response = \"", text, L"\".");
    return std::nullopt;
}

}  // namespace tallyreplies

namespace {

using tallyreplies::ParseCount;
using tallyreplies::ParseResult;
using tallyreplies::SplitIdentification;

// The version query of the diagnostics: any text will do.
std::optional<std::string> ParseText(driverlog::CDeviceLog&, const char* text) { return text; }

// Quarter seconds, unsigned: a count with the top bit set is not negative.
double QuarterSeconds(uint32_t count) { return count * 0.25; }

}  // namespace

void tallyreplies::SplitIdentification(const std::string& reply, EtcIdentificationStruct& identification) {
    replytext::SplitFields(reply, ',',
                           {&identification.manufacturer, &identification.model, &identification.firmwareRevision});
}

namespace {

// The numeric queries in the order they go out: byte-wise order of the query
// texts, whatever the order of the record's fields. The version goes last.
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
constexpr const char* kVersionQuery = "!0v";

}  // namespace

CElapsedTimeCounter::CElapsedTimeCounter(driverlog::CLibraryLog& library)
    : CDriverDevice(library, L"CElapsedTimeCounter", SerialPortOptions{"\r", false}) {}

// The reply handlers use the members below the base: the port must be
// closed before they go.
CElapsedTimeCounter::~CElapsedTimeCounter() { Shutdown(); }

// ---- Requests ---------------------------------------------------------------

template <typename Value>
void CElapsedTimeCounter::Send(const std::string& command, std::shared_ptr<Reply<Value>> reply,
                               Parser<Value> parse, ReplyEnd end, const wchar_t* timeoutMessage) {
    // Without a terminator the port hands over whatever arrived once the
    // time-out has passed, as a reply that did not time out.
    const bool silence = end == ReplyEnd::Silence;
    Port().SendCommand(
        command, silence ? "" : kTerminator, 1, silence ? kDiagnosticTimeoutMs : kReplyTimeoutMs, 0,
        [this, reply = std::move(reply), parse, timeoutMessage](const char* text, int timedOut) {
            text = OrEmpty(text);
            if (timedOut) {
                Log().Log(Error, timeoutMessage ? timeoutMessage : kCommandTimeout, text, L"\".");
                reply->Complete(std::nullopt);
            } else {
                reply->Complete(parse(Log(), text));
            }
        });
}

template <typename Value>
std::optional<Value> CElapsedTimeCounter::Ask(const std::string& command, Parser<Value> parse,
                                              ReplyEnd end, const wchar_t* timeoutMessage) {
    auto reply = Reply<Value>::ForWaiter();
    if (!reply->Valid()) return std::nullopt;
    Send(command, reply, parse, end, timeoutMessage);
    // Every command ends with a handler call (its reply or its time-out), so
    // the wait ends early only when the device is being disconnected.
    if (Await(*reply) != driver::WaitEnd::Reply) return std::nullopt;
    return reply->Take();
}

// ---- Connect and identification -----------------------------------------

driver::ConnectResult CElapsedTimeCounter::Connect(const SerialPortSettingsStruct& settings,
                                                   bool blocking, HANDLE event) {
    // A blocking connect waits on an event of its own, so a caller's event
    // that is already set cannot end the wait early.
    auto reply = blocking ? driver::CPendingReply<bool>::ForWaiter()
                          : driver::CPendingReply<bool>::ForCallback(nullptr, event);
    if (blocking && !reply->Valid()) return driver::ConnectResult::PortFailed;

    SerialPortHandlers handlers;
    handlers.errorCallback = [this](SerialPortError code, const char* text) {
        Log().Log(Error, L": Error code = ", static_cast<int>(code), L", message = \"",
                  OrEmpty(text), L"\".");
    };
    handlers.defaultCallback = [](const char*, int) {};
    handlers.defaultTerminator = "";
    if (!OpenPort(settings, std::move(handlers))) return driver::ConnectResult::PortFailed;
    Log().Log(Debug, L": Attempting to detect a Vandrel Elapsed Time Counter on the serial port.");
    Port().SendCommand("I?", kTerminator, 1, kReplyTimeoutMs, 0,
                       [this, reply](const char* text, int timedOut) {
                           reply->Complete(Identify(OrEmpty(text), timedOut != 0));
                       });
    if (!blocking) return driver::ConnectResult::Connected;

    const bool identified = Await(*reply) == driver::WaitEnd::Reply && reply->Take();
    // The caller of a blocking connect hands its event over: it still hears
    // that the identification is over, and the event is closed here, where
    // no handler can signal it any more.
    if (event) {
        SetEvent(event);
        CloseHandle(event);
    }
    if (!identified) {
        Log().Log(Debug, L": No Vandrel Elapsed Time Counter detected on the serial port.");
        return driver::ConnectResult::NoDevice;
    }
    return driver::ConnectResult::Connected;
}

bool CElapsedTimeCounter::Identify(const char* text, bool timedOut) {
    bool valid = false;
    EtcIdentificationStruct identification;
    {
        std::lock_guard lock(m_mutex);
        if (!timedOut) {
            m_identification.response = text;
            SplitIdentification(m_identification.response, m_identification);
            valid = m_identification.model == kCounterModel;
        }
        m_bIsValidDevice = valid;
        identification = m_identification;
    }
    if (valid) {
        Log().Log(Debug,
                  L": A Vandrel Elapsed Time Counter has been detected with the following "
                  L"properties: Manufacturer: ",
                  identification.manufacturer, L", Model: ", identification.model,
                  L", Firmware Revision: ", identification.firmwareRevision);
    }
    return valid;
}

EtcIdentificationStruct CElapsedTimeCounter::GetIdentification() const {
    std::lock_guard lock(m_mutex);
    return m_identification;
}

bool CElapsedTimeCounter::IsValidDevice() const {
    std::lock_guard lock(m_mutex);
    return m_bIsValidDevice;
}

// ---- Elapsed time and power cycles ----------------------------------------

EtcError CElapsedTimeCounter::GetElapsedTime(double& seconds) {
    Log().Log(Debug, L": Getting the elapsed time count.");
    const auto count = Ask("T?", ParseCount, ReplyEnd::Line, kElapsedTimeTimeout);
    if (!count) return EtcErrorCommandFailed;
    seconds = QuarterSeconds(*count);
    return EtcSuccess;
}

EtcError CElapsedTimeCounter::GetPowerCycleCount(uint32_t& count) {
    Log().Log(Debug, L": Getting the number of power cycles.");
    const auto value = Ask("P?", ParseCount);
    if (!value) return EtcErrorCommandFailed;
    count = *value;
    return EtcSuccess;
}

EtcError CElapsedTimeCounter::ReadCountCallback(const char* query, const wchar_t* logText,
                                                const wchar_t* timeoutMessage,
                                                EtcPowerCycleCountCallback callback) {
    Log().Log(Debug, logText);
    // A failed reply still reaches the callback, with valid 0.
    auto reply = Reply<uint32_t>::ForCallback(
        [callback = std::move(callback)](const std::optional<uint32_t>& count) {
            if (callback) callback(count ? 1 : 0, count.value_or(0));
        });
    Send(query, std::move(reply), ParseCount, ReplyEnd::Line, timeoutMessage);
    return EtcSuccess;
}

EtcError CElapsedTimeCounter::GetElapsedTimeCallback(EtcElapsedTimeCallback callback) {
    EtcPowerCycleCountCallback countCallback;
    if (callback) {
        countCallback = [callback = std::move(callback)](int valid, uint32_t count) {
            callback(valid, QuarterSeconds(count));
        };
    }
    return ReadCountCallback("T?", L": Getting the elapsed time count.", kElapsedTimeTimeout,
                             std::move(countCallback));
}

EtcError CElapsedTimeCounter::GetPowerCycleCountCallback(EtcPowerCycleCountCallback callback) {
    return ReadCountCallback("P?", L": Getting the power cycle count.", kCommandTimeout,
                             std::move(callback));
}

// ---- Reset and set-base commands ------------------------------------------

EtcError CElapsedTimeCounter::RunCommand(const std::string& command, bool blocking, HANDLE event) {
    if (blocking) return Ask(command, ParseResult) ? EtcSuccess : EtcErrorCommandFailed;
    // The caller's event (may be null) is signalled once the reply was
    // handled, success or not.
    Send(command, Reply<int>::ForCallback(nullptr, event), ParseResult, ReplyEnd::Line, nullptr);
    return EtcSuccess;
}

EtcError CElapsedTimeCounter::Reset(bool blocking, HANDLE event) {
    Log().Log(Debug, L": Resetting the elapsed time counter.");
    return RunCommand("R!", blocking, event);
}

EtcError CElapsedTimeCounter::SetBaseElapsedTimeCount(uint32_t value, bool blocking, HANDLE event) {
    Log().Log(Debug, platform::FormatW(L": Setting the base elapsed time count to 0x%08X.", value));
    return RunCommand(platform::Format("!0BB%08X", value), blocking, event);
}

EtcError CElapsedTimeCounter::SetBasePowerCycleCount(uint32_t value, bool blocking, HANDLE event) {
    Log().Log(Debug, platform::FormatW(L": Setting the base power cycle count to 0x%08X.", value));
    return RunCommand(platform::Format("!0EE%06X", value), blocking, event);
}

// ---- Diagnostics ------------------------------------------------------------

EtcError CElapsedTimeCounter::GetDiagnostics(EtcDiagnosticsStruct& diagnostics) {
    Log().Log(Debug, L": Getting the diagnostics values from the device.");
    // The read fills a copy of the caller's record, so a caller released by
    // a disconnect is never written to afterwards; fields a failed read does
    // not reach keep the caller's values.
    auto waiter = driver::CPendingReply<CDiagnosticsResult>::ForWaiter();
    const EtcError started = StartDiagnostics(diagnostics, nullptr, waiter);
    if (started != EtcSuccess) return started;
    if (Await(*waiter) != driver::WaitEnd::Reply) return EtcErrorCommandFailed;
    CDiagnosticsResult result = waiter->Take();
    diagnostics = std::move(result.m_record);
    // A read that stopped at a failed query is not reported as done.
    return result.m_bComplete ? EtcSuccess : EtcErrorCommandFailed;
}

EtcError CElapsedTimeCounter::GetDiagnosticsCallback(EtcDiagnosticsCallback callback) {
    Log().Log(Debug, L": Getting the diagnostics values from the device using a callback.");
    if (!callback) return EtcErrorInvalidParameter;
    return StartDiagnostics(EtcDiagnosticsStruct{}, std::move(callback), nullptr);
}

EtcError CElapsedTimeCounter::StartDiagnostics(
    EtcDiagnosticsStruct record, EtcDiagnosticsCallback callback,
    std::shared_ptr<driver::CPendingReply<CDiagnosticsResult>> waiter) {
    {
        std::lock_guard lock(m_mutex);
        if (m_bDiagnosticsBusy) return EtcErrorBusy;
        m_bDiagnosticsBusy = true;
    }
    if (waiter && !waiter->Valid()) {
        Log().Log(Debug, L": Failed creating m_hGetDiagnosticsThreadCompleteEvent.");
        ClearDiagnosticsBusy();
        return EtcErrorFailed;
    }
    auto read = [this, record = std::move(record), callback = std::move(callback),
                 waiter = std::move(waiter)]() mutable {
        RunDiagnostics(std::move(record), callback, waiter.get());
    };
    if (!Workers().Start(std::move(read))) {
        Log().Log(Debug, L": Failed creating GetDiagnosticsThread.");
        ClearDiagnosticsBusy();
        return EtcErrorFailed;
    }
    return EtcSuccess;
}

void CElapsedTimeCounter::RunDiagnostics(EtcDiagnosticsStruct record,
                                         const EtcDiagnosticsCallback& callback,
                                         driver::CPendingReply<CDiagnosticsResult>* waiter) {
    Log().Log(Debug, L": GetDiagnosticsThread started.");
    const bool complete = ReadDiagnostics(record);
    // The callback runs while the read still counts as busy, so a new read
    // started from inside it is refused instead of overlapping this one.
    if (complete && callback) callback(1, record);
    ClearDiagnosticsBusy();
    // Completed after the busy mark is cleared: a caller woken here may
    // start the next read at once.
    if (waiter) waiter->Complete(CDiagnosticsResult{std::move(record), complete});
}

void CElapsedTimeCounter::ClearDiagnosticsBusy() {
    std::lock_guard lock(m_mutex);
    m_bDiagnosticsBusy = false;
}

bool CElapsedTimeCounter::ReadDiagnostics(EtcDiagnosticsStruct& record) {
    for (const auto& [query, field] : NumericQueries()) {
        const auto value = Ask(query, ParseCount, ReplyEnd::Silence);
        if (!value) return false;
        record.*field = *value;
    }
    auto version = Ask(kVersionQuery, ParseText, ReplyEnd::Silence);
    if (!version) return false;
    record.v = std::move(*version);
    return true;
}
