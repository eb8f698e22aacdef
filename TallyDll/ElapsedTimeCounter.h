// CElapsedTimeCounter: one elapsed-time counter on its serial port. It
// identifies the counter, runs its queries and commands in blocking, event
// and callback forms, and reads the diagnostic values on a worker thread.
//
// Ownership: made, listed and destroyed only by the library (TallyDll.cpp),
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
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class CElapsedTimeCounter final : public driver::CDriverDevice {
public:
    explicit CElapsedTimeCounter(driverlog::CLibraryLog& library);
    ~CElapsedTimeCounter() override;

    // Opens the port and sends "I?". Blocking: waits for the reply, then
    // signals and closes the caller's event (it was handed over). Not
    // blocking: the caller's event is signalled once the reply was handled.
    driver::ConnectResult Connect(const SerialPortSettingsStruct& settings, bool blocking,
                                  HANDLE event);

    EtcIdentificationStruct GetIdentification() const;
    bool IsValidDevice() const;

    EtcError GetElapsedTime(double& seconds);
    EtcError GetElapsedTimeCallback(EtcElapsedTimeCallback callback);
    EtcError GetPowerCycleCount(uint32_t& count);
    EtcError GetPowerCycleCountCallback(EtcPowerCycleCountCallback callback);

    EtcError Reset(bool blocking, HANDLE event);
    EtcError SetBaseElapsedTimeCount(uint32_t value, bool blocking, HANDLE event);
    EtcError SetBasePowerCycleCount(uint32_t value, bool blocking, HANDLE event);

    EtcError GetDiagnostics(EtcDiagnosticsStruct& diagnostics);
    EtcError GetDiagnosticsCallback(EtcDiagnosticsCallback callback);

private:
    // A reply is its parsed value, or nothing when it timed out, did not
    // convert, or never came.
    template <typename Value>
    using Reply = driver::CPendingReply<std::optional<Value>>;
    template <typename Value>
    using Parser = std::optional<Value> (*)(driverlog::CDeviceLog& log, const char* text);

    // How a reply ends: a carriage return within a second, or (the
    // diagnostic queries) whatever arrived after 50 ms of silence.
    enum class ReplyEnd { Line, Silence };

    // A diagnostics read as far as it got, and whether it got to the end.
    struct CDiagnosticsResult {
        EtcDiagnosticsStruct m_record;
        bool m_bComplete = false;
    };

    // Sends `command`; its reply (or time-out, logged with `timeoutMessage`)
    // completes `reply`.
    template <typename Value>
    void Send(const std::string& command, std::shared_ptr<Reply<Value>> reply,
              Parser<Value> parse, ReplyEnd end, const wchar_t* timeoutMessage);
    // Send, then wait for the reply or the closing event.
    template <typename Value>
    std::optional<Value> Ask(const std::string& command, Parser<Value> parse,
                             ReplyEnd end = ReplyEnd::Line,
                             const wchar_t* timeoutMessage = nullptr);

    // The identification handler: stores what the reply says; true when it
    // names a counter.
    bool Identify(const char* text, bool timedOut);

    EtcError ReadCountCallback(const char* query, const wchar_t* logText,
                               const wchar_t* timeoutMessage,
                               EtcPowerCycleCountCallback callback);
    EtcError RunCommand(const std::string& command, bool blocking, HANDLE event);

    // Marks the device busy with a diagnostics read and starts it on a
    // worker; `waiter` (blocking form) hears when it ends.
    EtcError StartDiagnostics(EtcDiagnosticsStruct record, EtcDiagnosticsCallback callback,
                              std::shared_ptr<driver::CPendingReply<CDiagnosticsResult>> waiter);
    void RunDiagnostics(EtcDiagnosticsStruct record, const EtcDiagnosticsCallback& callback,
                        driver::CPendingReply<CDiagnosticsResult>* waiter);
    bool ReadDiagnostics(EtcDiagnosticsStruct& record);
    void ClearDiagnosticsBusy();

    mutable std::mutex m_mutex;  // guards the identification and the busy mark
    EtcIdentificationStruct m_identification;
    bool m_bIsValidDevice = false;
    // True while a diagnostics read runs; a second read is refused as busy.
    bool m_bDiagnosticsBusy = false;
};
