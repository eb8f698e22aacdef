// CElapsedTimeCounter: the diagnostics read, one at a time per device, on
// one of its workers (see ElapsedTimeCounter.h).
#include "ElapsedTimeCounter.h"

#include "ElapsedTimeCounterProtocol.h"

#include <utility>

using driverlog::Debug;

EtcError CElapsedTimeCounter::GetDiagnostics(EtcDiagnosticsStruct& diagnostics) {
    Log().Log(Debug, L": Getting the diagnostics values from the device.");
    auto waiter = driver::CPendingReply<CDiagnosticsResult>::ForWaiter();
    if (!waiter->Valid()) {
        Log().Log(Debug, L": Failed creating m_hGetDiagnosticsThreadCompleteEvent.");
        return EtcErrorFailed;
    }
    // The read fills a copy of the caller's record, so a caller released by
    // a disconnect is never written to afterwards; fields a failed read does
    // not reach keep the caller's values.
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
    // The callback runs while the read still counts as busy, so a new read
    // started from inside it is refused instead of overlapping this one.
    auto read = [this, record = std::move(record), callback = std::move(callback)]() mutable {
        Log().Log(Debug, L": GetDiagnosticsThread started.");
        const bool complete = ReadDiagnostics(record);
        if (complete && callback) callback(1, record);
        return CDiagnosticsResult{std::move(record), complete};
    };
    switch (StartJob(m_diagnostics, std::move(read), std::move(waiter))) {
    case driver::JobStart::Started:
        return EtcSuccess;
    case driver::JobStart::Busy:
        return EtcErrorBusy;
    case driver::JobStart::NoThread:
        break;
    }
    Log().Log(Debug, L": Failed creating GetDiagnosticsThread.");
    return EtcErrorFailed;
}

bool CElapsedTimeCounter::ReadDiagnostics(EtcDiagnosticsStruct& record) {
    for (const auto& [query, field] : tallydll::NumericDiagnostics()) {
        const auto value = Ask(tallydll::SilenceRequest(query), Reply(tallydll::ParseCount));
        if (!value || !*value) return false;
        record.*field = **value;
    }
    auto version = Ask(tallydll::SilenceRequest(tallydll::kVersionQuery), Reply(tallydll::ParseText));
    if (!version || !*version) return false;
    record.v = std::move(**version);
    return true;
}
