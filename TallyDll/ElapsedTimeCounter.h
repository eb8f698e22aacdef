// CElapsedTimeCounter: one elapsed-time counter on its serial port. It
// identifies the counter, runs its queries and commands in blocking, event
// and callback forms, and reads the diagnostic values on a thread of its own.
#pragma once

#include "TallyDll.h"

#include <platform/OwnedHandle.h>
#include <serial/DriverLog.h>
#include <serial/SerialPort.h>
#include <serial/WorkerThreads.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CElapsedTimeCounter : public CSerialPort {
public:
    CElapsedTimeCounter();
    // Ends a diagnostics read still running and closes the port before any
    // member a reply handler uses goes away.
    ~CElapsedTimeCounter() override;

    // 0 counter detected (blocking) or query sent (not blocking); 1 the port
    // or its thread failed; 2 no counter answered (blocking only).
    int Connect(const SerialPortSettingsStruct& settings, int blocking, HANDLE event);

    EtcIdentificationStruct GetIdentification() const;
    int IsValidDevice() const;

    EtcError GetElapsedTime(double* seconds);
    EtcError GetElapsedTimeCallback(EtcElapsedTimeCallback callback);
    EtcError GetPowerCycleCount(uint32_t* count);
    EtcError GetPowerCycleCountCallback(EtcPowerCycleCountCallback callback);

    EtcError Reset(int blocking, HANDLE event);
    EtcError SetBaseElapsedTimeCount(uint32_t value, int blocking, HANDLE event);
    EtcError SetBasePowerCycleCount(uint32_t value, int blocking, HANDLE event);

    EtcError GetDiagnostics(EtcDiagnosticsStruct* diagnostics);
    EtcError GetDiagnosticsCallback(EtcDiagnosticsCallback callback);

    // Closes the port for good: every blocking wait of this device gives up,
    // a diagnostics read stops, and queued commands are dropped. Safe from
    // any thread except this device's own service and diagnostics threads.
    void Disconnect();

    driverlog::CDeviceLog& Log() { return m_log; }

    // True on this device's service thread while one of its reply handlers
    // (and so a caller's callback) runs, and on its diagnostics thread: the
    // device must not be destroyed from there, as that would wait for the
    // very thread it runs on.
    bool RunsOnThisThread() const;

private:
    // A reply to one command, shared by the caller and the reply handler so
    // neither outlives what it uses. The kinds (hexadecimal count, decimal
    // result, text) differ only in how they take a reply that came in time.
    struct CReply;
    struct CHexReply;
    struct CDecimalReply;
    struct CTextReply;
    // The "I?" reply of Connect.
    struct CIdentificationReply {
        platform::COwnedHandle ownEvent;  // waited on by a blocking Connect
        // The caller's event; a blocking Connect closes it under the lock
        // once it is done, so the handler never signals a closed event.
        std::mutex callerLock;
        HANDLE callerEvent = nullptr;
    };
    // One diagnostics read, from its start to the thread's end.
    struct CDiagnosticsRead {
        EtcDiagnosticsStruct* record = nullptr;
        EtcDiagnosticsCallback callback;
        platform::COwnedHandle complete;  // blocking form only
        int valid = 0;
    };

    // Sends `command` with a one-line reply that goes to OnReply.
    void Send(const std::string& command, const std::string& terminator, unsigned timeoutMs,
              std::shared_ptr<CReply> reply);
    // Send, waiting on an event of the reply's own; true when a usable reply
    // was handled.
    bool SendAndWait(const std::string& command, const std::string& terminator,
                     unsigned timeoutMs, std::shared_ptr<CReply> reply);
    void OnReply(CReply& reply, const char* text, int timedOut);
    void OnIdentificationReply(CIdentificationReply& reply, const char* text, int timedOut);

    EtcError ReadCount(const char* query, const wchar_t* logText, const wchar_t* timeoutMessage,
                       uint32_t& count);
    void ReadCountCallback(const char* query, const wchar_t* logText,
                           const wchar_t* timeoutMessage,
                           std::function<void(int valid, uint32_t count)> callback);
    EtcError RunDecimalCommand(const std::string& command, int blocking, HANDLE event);

    EtcError StartDiagnostics(std::shared_ptr<CDiagnosticsRead> read);
    void GetDiagnosticsThread(std::shared_ptr<CDiagnosticsRead> read);
    void ClearDiagnosticsBusy();
    bool ReadDiagnostics(EtcDiagnosticsStruct& record);

    // Waits for a reply's event, or until the device is disconnected; true
    // when the reply was handled.
    bool WaitForReply(HANDLE event);

    // Wraps a reply handler so that it marks its thread as this device's
    // while it runs.
    template <typename Reply, typename Handler>
    SerialResponseCallback Bind(std::shared_ptr<Reply> reply, Handler handler);

    // Declared first: it must outlive every member that logs.
    driverlog::CDeviceLog m_log;

    mutable std::mutex m_mutex;  // guards the identification and the diagnostics busy mark
    EtcIdentificationStruct m_identification;
    int m_bIsValidDevice = 0;
    // True while a diagnostics read runs; a second read is refused as busy.
    bool m_bDiagnosticsBusy = false;

    // Set once the device is being disconnected; never cleared.
    platform::COwnedHandle m_hClosingEvent;
    // The record of a callback diagnostics read; only its thread touches it.
    EtcDiagnosticsStruct m_callbackDiagnostics;
    // The diagnostics reads' threads; the busy mark lets only one run its
    // read at a time.
    CWorkerThreads m_diagnosticsThreads;
};
