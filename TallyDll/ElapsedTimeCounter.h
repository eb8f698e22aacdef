// CElapsedTimeCounter: one elapsed-time counter on its serial port. It
// identifies the counter, runs its queries and commands in waiting, event
// and callback forms, and reads the diagnostic values on a worker thread.
// Connecting is in ElapsedTimeCounter.cpp, the queries and commands in
// ElapsedTimeCounterCommands.cpp, the diagnostics read in
// ElapsedTimeCounterJobs.cpp, the reply parsers in
// ElapsedTimeCounterProtocol.cpp.
//
// Ownership: made, listed and destroyed only by the library (Exports.cpp),
// which holds it by shared_ptr; the port, log, closing event and workers are
// the device base's. Every request carries its own pending reply, shared by
// the caller and the reply handler, so a caller that gives up (the device is
// being disconnected) leaves nothing behind that a late handler could touch.
//
// Threads: the exports call the public members from any thread. Reply
// handlers, and with them the elapsed-time and power-cycle callbacks, run on
// the port's service thread; a diagnostics read and its callback run on one
// of the device's workers.
#pragma once

#include "TallyDll.h"

#include <serial/DriverDevice.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

class CElapsedTimeCounter final : public driver::CDriverDevice {
public:
    explicit CElapsedTimeCounter(driverlog::CLibraryLog& library);
    ~CElapsedTimeCounter() override;

    // Opens the port and sends "I?" (see CDriverDevice::OpenAndIdentify for
    // the two forms and the caller's event).
    driver::ConnectResult Connect(const SerialPortSettingsStruct& settings, bool wait, HANDLE event);

    EtcIdentificationStruct GetIdentification() const;
    bool IsValidDevice() const;

    EtcError GetElapsedTime(double& seconds);
    EtcError GetElapsedTimeCallback(EtcElapsedTimeCallback callback);
    EtcError GetPowerCycleCount(uint32_t& count);
    EtcError GetPowerCycleCountCallback(EtcPowerCycleCountCallback callback);

    EtcError Reset(bool wait, HANDLE event);
    EtcError SetBaseElapsedTimeCount(uint32_t value, bool wait, HANDLE event);
    EtcError SetBasePowerCycleCount(uint32_t value, bool wait, HANDLE event);

    EtcError GetDiagnostics(EtcDiagnosticsStruct& diagnostics);
    EtcError GetDiagnosticsCallback(EtcDiagnosticsCallback callback);

private:
    template <typename Value>
    using Parser = std::optional<Value> (*)(driverlog::CDeviceLog& log, const char* text);

    // A diagnostics read as far as it got, and whether it got to the end.
    struct CDiagnosticsResult {
        EtcDiagnosticsStruct m_record;
        bool m_bComplete = false;
    };

    // The reply handler of a query or command: a time-out is logged with
    // `timeoutMessage` and gives nothing, a reply is `parse`d.
    template <typename Value>
    auto Reply(Parser<Value> parse, const wchar_t* timeoutMessage = nullptr) {
        return [this, parse, timeoutMessage](const char* text, bool timedOut) -> std::optional<Value> {
            if (!timedOut) return parse(Log(), text);
            Log().Log(driverlog::Error, timeoutMessage ? timeoutMessage : kCommandTimeout, text, L"\".");
            return std::nullopt;
        };
    }
    static constexpr const wchar_t* kCommandTimeout = L": Command timed out! Partial response received: \"";

    // The identification handler: stores what the reply says; true when it
    // names a counter.
    bool Identify(const char* text, bool timedOut);

    EtcError ReadCountCallback(const char* query, const wchar_t* logText,
                               const wchar_t* timeoutMessage,
                               EtcPowerCycleCountCallback callback);
    EtcError RunCommand(const std::string& command, bool wait, HANDLE event);

    // Starts a diagnostics read on a worker, unless one runs; `waiter`
    // (waiting form) hears when it ends.
    EtcError StartDiagnostics(EtcDiagnosticsStruct record, EtcDiagnosticsCallback callback,
                              std::shared_ptr<driver::CPendingReply<CDiagnosticsResult>> waiter);
    bool ReadDiagnostics(EtcDiagnosticsStruct& record);

    mutable std::mutex m_mutex;  // guards the identification
    EtcIdentificationStruct m_identification;
    bool m_bIsValidDevice = false;
    // Held while a diagnostics read runs; a second read is refused as busy.
    driver::CExclusiveJob m_diagnostics;
};
