// CQuorvex: one connected Quorvex head unit. Owns the conversation with the
// unit over its serial port: identification, acknowledgement codes,
// notifications, the motion, read and parameter commands, and the transfers
// of the two calibration tables. Created and destroyed by the library's
// exports, which hold it by shared_ptr; its worker threads hold it too while
// they run.
#pragma once

#include "NotificationSlot.h"
#include "PendingReply.h"
#include "QuorvexDll.h"

#include <platform/OwnedHandle.h>
#include <serial/DriverLog.h>
#include <serial/SerialPort.h>
#include <serial/WorkerThreads.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern driverlog::CLibraryLog g_log;

class CQuorvex : public CSerialPort, public std::enable_shared_from_this<CQuorvex> {
public:
    CQuorvex();
    ~CQuorvex() override;

    // ---- Connection and identification --------------------------------
    // 0 connected (identification sent; with wait also identified); 1 the
    // port or its service thread failed; 2 no Quorvex head answered (wait).
    int Connect(bool wait, HANDLE event, const SerialPortSettingsStruct& settings);
    int IsValidDevice() const { return m_bIsValidDevice.load(); }
    QuorvexIdentificationStruct GetIdentification() const;

    // Ends every wait of the object, stops its worker threads and closes the
    // port. Safe to repeat; called by disconnecting and by the destructor,
    // from any thread but the serial service thread.
    void Shutdown();

    driverlog::CDeviceLog& Log() { return m_log; }

    // ---- Commands ------------------------------------------------------
    QuorvexError Home(bool wait, HANDLE event);
    QuorvexError SetPosition(unsigned primary, unsigned secondary, bool wait, HANDLE event);
    QuorvexError GetPosition(int* position);
    QuorvexError GetPositionCallback(QuorvexPositionCallback callback, HANDLE event);
    QuorvexError GetTemperature(double* temperatures);
    QuorvexError GetTemperatureCallback(QuorvexTemperatureCallback callback, HANDLE event);
    // Parameters by their number on the wire: the exports convert the
    // enumeration once, since callers may pass numbers it does not name.
    QuorvexError SetParameter(unsigned number, int value, bool wait);
    QuorvexError GetParameter(unsigned number, int* value);
    QuorvexError GetParameterCallback(unsigned number, QuorvexParameterCallback callback,
                                      HANDLE event);

    // ---- Calibration tables --------------------------------------------
    QuorvexError UploadSpectralData(const std::wstring& path, bool blocking, HANDLE abortEvent,
                                    HANDLE doneEvent, QuorvexProgressCallback progress);
    QuorvexError UploadApertureData(const std::wstring& path, bool blocking, HANDLE abortEvent,
                                    HANDLE doneEvent, QuorvexProgressCallback progress);
    QuorvexError DownloadSpectralData(bool blocking, HANDLE abortEvent, HANDLE doneEvent);
    QuorvexError DownloadApertureData(bool blocking, HANDLE abortEvent, HANDLE doneEvent);

    void SetSpectralData(QuorvexSpectralTable table);
    QuorvexSpectralTable GetSpectralData() const;
    void SetApertureData(QuorvexApertureTable table);
    QuorvexApertureTable GetApertureData() const;
    QuorvexError SaveSpectralData(const std::wstring& path);
    QuorvexError SaveApertureData(const std::wstring& path);

private:
    struct Acknowledgement {
        bool acknowledged = false;
        int code = 0;
    };
    struct PositionReading {
        bool valid = false;
        int position[2] = {0, 0};
    };
    struct TemperatureReading {
        bool valid = false;
        std::array<double, 4> temperatures{};
    };
    struct ParameterReading {
        bool valid = false;
        int value = 0;
    };
    template <typename Table>
    struct DownloadResult {
        bool ok = false;
        Table table;
    };
    // What a calibration transfer thread is given when it starts.
    struct TransferJob {
        std::wstring path;
        HANDLE abortEvent = nullptr;
        HANDLE doneEvent = nullptr;
        QuorvexProgressCallback progress;
    };
    // How an upload's log entries name it and the values it sends.
    struct UploadNames {
        const wchar_t* thread;         // ": Aborting <thread>."
        const wchar_t* refusedThread;  // ": Bad command acknowledgment, aborting <refusedThread>."
        const wchar_t* value;          // ": Sending <value> to Quorvex (...)"
    };
    // How a download's log entries name its table and the values it counts.
    struct DownloadNames {
        const wchar_t* table;     // ": Download <table> data results not enough data. ..."
        const wchar_t* counted;   // ": Error parsing number of <counted> ..."
        const wchar_t* received;  // ": Incorrect number of <received> received. ..."
    };
    enum class AckEnd { Acknowledged, Refused, Aborted };
    using TransferThread = void (CQuorvex::*)(TransferJob&);
    template <typename Table>
    using LinesParser = DownloadResult<Table> (CQuorvex::*)(const std::vector<std::string>&);

    // Queues a command with terminator CR, one reply line, 1000 ms, no retry.
    void SendToHead(const std::string& text, SerialResponseCallback handler);

    // Sends `command` and waits for its parsed reply; `failed` when the wait
    // ends otherwise (abort, disconnect) or the request cannot be made.
    template <typename Result, typename Parse>
    Result AskHead(const std::string& command, Parse parse, const Result& failed,
                   HANDLE abortEvent = nullptr, quorvex::WaitEnd* end = nullptr);
    // An action command and its acknowledgement.
    AckEnd SendAcknowledged(const std::string& command, HANDLE abortEvent = nullptr);
    QuorvexError RunAction(const std::string& command, bool wait, HANDLE event,
                           quorvex::CNotificationSlot& slot, QuorvexError timeoutError,
                           const wchar_t* timeoutMessage);

    // Reply handlers (serial service thread).
    void OnIdentification(const char* text, int timedOut);
    void OnStatus(const char* text, int timedOut);
    Acknowledgement OnAcknowledge(const char* text, int timedOut);
    void OnUnsolicited(const char* text, int timedOut);
    void OnSerialError(SerialPortError code, const char* text);
    PositionReading OnPosition(const char* text, int timedOut);
    TemperatureReading OnTemperature(const char* text, int timedOut);
    ParameterReading OnParameter(const char* text, int timedOut);
    // The count that heads a download reply when the lines that follow hold
    // that many values; -1, logged, otherwise.
    int DownloadCount(const std::vector<std::string>& lines, const DownloadNames& names);
    DownloadResult<QuorvexSpectralTable> OnSpectralLines(const std::vector<std::string>& lines);
    DownloadResult<QuorvexApertureTable> OnApertureLines(const std::vector<std::string>& lines);

    void SignalIdentificationComplete();

    // Blocking reads shared by the plain and the callback forms.
    PositionReading ReadPosition();
    TemperatureReading ReadTemperatures();
    ParameterReading ReadParameter(unsigned parameter);

    void GetPositionThread(QuorvexPositionCallback callback, HANDLE event);
    void GetTemperatureThread(QuorvexTemperatureCallback callback, HANDLE event);
    void GetParameterThread(unsigned parameter, QuorvexParameterCallback callback, HANDLE event);

    // Runs `work` on a worker thread that keeps the object alive meanwhile;
    // logs `failureMessage` when the thread cannot be started.
    QuorvexError StartWorker(std::function<void(CQuorvex&)> work, const wchar_t* failureMessage);

    QuorvexError StartTransfer(std::atomic<bool>& busy, TransferThread thread, TransferJob job,
                               bool blocking, const wchar_t* failureMessage);
    void UploadSpectralDataThread(TransferJob& job);
    void UploadApertureDataThread(TransferJob& job);
    void DownloadSpectralDataThread(TransferJob& job);
    void DownloadApertureDataThread(TransferJob& job);
    static void EndTransfer(std::atomic<bool>& busy, const TransferJob& job);
    static void ReportProgress(const TransferJob& job, double percent);

    // The steps the two tables' transfers share; `table` names the table in
    // the log entries ("spectral", "aperture").
    template <typename File>
    bool LoadTableFile(File& file, const wchar_t* table);
    template <typename File>
    QuorvexError SaveTableFile(File file, const wchar_t* table);
    // Sends `header`, then `values` one by one, each acknowledged before the
    // next; false when the upload ended early (its end logged).
    bool SendUpload(const TransferJob& job, const std::string& header,
                    const std::vector<std::string>& values, const UploadNames& names);
    template <typename Table>
    void DownloadTable(TransferJob& job, const char* command, LinesParser<Table> parse,
                       void (CQuorvex::*store)(Table), const wchar_t* table, const wchar_t* thread);

    driverlog::CDeviceLog m_log{g_log, L"CQuorvex", this};

    // Set by Shutdown: every wait of the object ends on it.
    platform::COwnedHandle m_closingEvent = platform::COwnedHandle::NewEvent(true);
    std::mutex m_mutexShutdown;
    bool m_bShutdown = false;

    mutable std::mutex m_mutexState;  // guards the members below up to the tables
    QuorvexIdentificationStruct m_identification;
    HANDLE m_hIdentificationCompleteEvent = nullptr;  // signalled once, then cleared
    int m_nPosition[2] = {0, 0};
    std::array<double, 4> m_dTemperatures{};  // primary, secondary, bulb, motor enclosure
    int m_nParameterValue = 0;

    std::atomic<int> m_bIsValidDevice{0};

    quorvex::CNotificationSlot m_homeComplete;  // "!H:1"
    quorvex::CNotificationSlot m_moveComplete;  // "!P:1"

    mutable std::mutex m_mutexTables;
    QuorvexSpectralTable m_spectralData;
    QuorvexApertureTable m_apertureData;
    // The busy marks: a transfer of that table is running.
    std::atomic<bool> m_bSpectralTransferRunning{false};
    std::atomic<bool> m_bApertureTransferRunning{false};

    // Declared last: stopped (joined) in Shutdown before anything above goes.
    CWorkerThreads m_workers;
};

template <typename Result, typename Parse>
Result CQuorvex::AskHead(const std::string& command, Parse parse, const Result& failed,
                         HANDLE abortEvent, quorvex::WaitEnd* end) {
    auto reply = std::make_shared<quorvex::CPendingReply<Result>>();
    if (!reply->Valid()) {
        if (end) *end = quorvex::WaitEnd::Closing;
        return failed;
    }
    SendToHead(command, [reply, parse](const char* text, int timedOut) {
        reply->Complete(parse(text, timedOut));
    });
    const quorvex::WaitEnd how = reply->Wait(m_closingEvent.Get(), abortEvent);
    if (end) *end = how;
    if (how != quorvex::WaitEnd::Reply) return failed;
    return reply->Take();
}
