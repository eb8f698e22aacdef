// CQuorvex: one connected Quorvex head unit. Owns the conversation with the
// unit: identification, acknowledgement codes, notifications, the motion,
// read and parameter commands, and the transfers of the two calibration
// tables. The serial port, log, closing event and worker threads are the
// device base's (serial/DriverDevice.h).
//
// Ownership: made and destroyed only by the library's CDriverLibrary, which
// holds it by shared_ptr and shuts it down before it goes. Workers and reply
// handlers use the object without a reference of their own: shutting down
// joins the workers and closes the port (ending the service thread) before
// anything here is destroyed.
//
// Threads: the exports call the public members from any thread; reply
// handlers (On...) run on the port's service thread; callback reads and
// transfers run on the device's workers, where the caller's callables are
// called too.
#pragma once

#include "NotificationSlot.h"
#include "QuorvexDll.h"
#include "QuorvexProtocol.h"

#include <serial/DriverDevice.h>
#include <serial/PendingReply.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CQuorvex : public driver::CDriverDevice {
public:
    explicit CQuorvex(driverlog::CLibraryLog& library);
    ~CQuorvex() override;

    // ---- Connection and identification --------------------------------
    // Connected: identification sent (and, with wait, a Quorvex head
    // answered it). A waiting connect consumes the caller's event.
    driver::ConnectResult Connect(const SerialPortSettingsStruct& settings, bool wait, HANDLE event);
    bool IsValidDevice() const { return m_bIsValidDevice.load(); }
    // The code of the unit's last refusal; nothing after a success or silence.
    std::optional<int> LastDeviceError() const;
    QuorvexIdentificationStruct GetIdentification() const;

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
    QuorvexError UploadSpectralData(const std::wstring& path, bool wait, HANDLE abortEvent,
                                    HANDLE doneEvent, QuorvexProgressCallback progress);
    QuorvexError UploadApertureData(const std::wstring& path, bool wait, HANDLE abortEvent,
                                    HANDLE doneEvent, QuorvexProgressCallback progress);
    QuorvexError DownloadSpectralData(bool wait, HANDLE abortEvent, HANDLE doneEvent);
    QuorvexError DownloadApertureData(bool wait, HANDLE abortEvent, HANDLE doneEvent);

    void SetSpectralData(QuorvexSpectralTable table);
    QuorvexSpectralTable GetSpectralData() const;
    void SetApertureData(QuorvexApertureTable table);
    QuorvexApertureTable GetApertureData() const;
    QuorvexError SaveSpectralData(const std::wstring& path);
    QuorvexError SaveApertureData(const std::wstring& path);

private:
    // A read's result; an invalid one carries the family's last values.
    template <typename Values>
    struct Reading {
        bool valid = false;
        Values values{};
    };
    using PositionReading = Reading<std::array<int, 2>>;
    using TemperatureReading = Reading<std::array<double, 4>>;  // primary, secondary, bulb, motor enclosure
    using ParameterReading = Reading<std::array<int, 1>>;
    // How a read family's log entries name it.
    struct ReadFamily {
        const wchar_t* name;         // ": <name> response parsing failed. ..."
        const wchar_t* timeoutName;  // ": <timeoutName> command timed out! ..."
    };
    // What a calibration transfer thread is given when it starts.
    struct TransferJob {
        std::wstring path;
        HANDLE abortEvent = nullptr;
        QuorvexProgressCallback progress;
        // An upload's table, read from the file before the transfer started.
        QuorvexSpectralTable spectralTable;
        QuorvexApertureTable apertureTable;
    };
    // How an upload's log entries name it and the values it sends.
    struct UploadNames {
        const wchar_t* thread;         // ": Aborting <thread>."
        const wchar_t* refusedThread;  // ": Bad command acknowledgment, aborting <refusedThread>."
        const wchar_t* value;          // ": Sending <value> to Quorvex (...)"
    };
    enum class AckEnd { Acknowledged, Refused, Aborted };
    using TransferThread = void (CQuorvex::*)(TransferJob&);
    template <typename Table>
    using LinesParser = quorvexdll::DownloadResult<Table> (*)(driverlog::CDeviceLog&, const std::vector<std::string>&);

    // Every command of the head: terminator CR, one reply line, 1000 ms.
    static driver::Request HeadRequest(std::string text) { return {std::move(text), "\r", 1000, 1}; }
    // Queues a command whose reply only `handler` hears of.
    void SendToHead(const std::string& text, SerialResponseCallback handler);

    // An action command and its acknowledgement.
    AckEnd SendAcknowledged(const std::string& command, HANDLE abortEvent = nullptr);
    QuorvexError RunAction(const std::string& command, bool wait, HANDLE event,
                           quorvexdll::CNotificationSlot& slot, QuorvexError timeoutError,
                           const wchar_t* timeoutMessage);

    // Reply handlers (serial service thread).
    bool OnIdentification(const char* text, bool timedOut);
    void OnStatus(const char* text, bool timedOut);
    bool OnAcknowledge(const char* text, bool timedOut);
    void OnUnsolicited(const char* text, bool timedOut);
    void OnSerialError(SerialPortError code, const char* text);

    // The blocking read every form of a family shares: sends `command`,
    // converts the reply with `scan`, logs what went wrong and keeps the
    // last valid values in `last`.
    template <typename Values, typename Scan>
    Reading<Values> Read(const std::string& command, ReadFamily family, Values& last, Scan scan);
    PositionReading ReadPosition();
    TemperatureReading ReadTemperatures();
    ParameterReading ReadParameter(unsigned number);
    // Runs `read` on a worker, then `deliver` with its result, then signals
    // the caller's event; `family` names the worker in the log.
    template <typename Result>
    QuorvexError StartCallbackRead(std::function<Result()> read,
                                   typename driver::CPendingReply<Result>::Deliver deliver,
                                   HANDLE event, const wchar_t* family);

    QuorvexError StartTransfer(driver::CExclusiveJob& busy, TransferThread thread, TransferJob job,
                               bool wait, HANDLE doneEvent, const wchar_t* failureMessage);
    void UploadSpectralDataThread(TransferJob& job);
    void UploadApertureDataThread(TransferJob& job);
    void DownloadSpectralDataThread(TransferJob& job);
    void DownloadApertureDataThread(TransferJob& job);
    static void ReportProgress(const TransferJob& job, double percent);

    // The steps the two tables' transfers share; `table` names the table in
    // the log entries ("spectral", "aperture").
    // Reads an upload's file on the caller's thread, logging its problems:
    // a file that does not read cleanly is refused before any transfer.
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

    mutable std::mutex m_stateMutex;  // guards the identification and the last readings
    QuorvexIdentificationStruct m_identification;
    std::array<int, 2> m_nLastPosition{};
    std::array<double, 4> m_dLastTemperatures{};
    std::array<int, 1> m_nLastParameter{};

    std::atomic<bool> m_bIsValidDevice{false};
    // The code of the last acknowledgement that was a refusal, kNoRefusal
    // after a success or silence; written by the acknowledgement handler.
    static constexpr long long kNoRefusal = 1LL << 40;
    std::atomic<long long> m_nLastDeviceError{kNoRefusal};

    quorvexdll::CNotificationSlot m_homeComplete;  // "!H:1"
    quorvexdll::CNotificationSlot m_moveComplete;  // "!P:1"

    mutable std::mutex m_tablesMutex;
    QuorvexSpectralTable m_spectralData;
    QuorvexApertureTable m_apertureData;
    // Held while a transfer of that table runs: one at a time per table.
    driver::CExclusiveJob m_spectralTransfer;
    driver::CExclusiveJob m_apertureTransfer;
};
