// The instrument connection of the main window, apart from any widget: the
// connect and disconnect sequences and the commands that talk to the
// instruments, run one at a time on a connection worker; the lamp-hours and
// bulb-temperature readings, each on a worker of its own; and what they
// find, sent back by value in queued signals.
//
// Ownership and threads: created, driven and destroyed on the GUI thread
// (its signals arrive there). The sequences run on the connection worker;
// dialogs they need come from the IDialogHost, which must not wait for that
// worker. A session lock keeps the readings apart from connect and
// disconnect: those hold it exclusively while the handles change, every
// other sequence and every reading holds it shared, and a reading that
// cannot get it at once skips its tick. The destructor waits for the
// workers, so no worker outlives the controller; the owner must not destroy
// it while a sequence waits on a dialog (see Busy()).
//
// A lost instrument (the port-error gate's first failure on one of the
// session's ports) is reported once, in the log and by ErrorReport; the
// dialog of a running sequence is aborted, and when the sequence has ended
// (or at once when none runs) the session ends as Disconnect ends it, the
// lamp ramped down first when the supply still answers. The readings skip
// their ticks meanwhile, and Connect starts afresh.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include "CalibrationData.h"
#include "DialogHost.h"
#include "StatusTexts.h"
#include "Worker.h"
#include "serial/SerialPort.h"

// The command-relevant state of the instruments, as last seen by a worker.
struct SessionState {
    bool connected = false;  // at least one library reports a valid device
    statustexts::Lamp lamp = statustexts::Lamp::Off;
    bool rampedUp = false;
};

// Both tables as the head library hands them over.
struct CalibrationTables {
    CCalibrationData::HeadApertureTable apertureRows;
    CCalibrationData::HeadSpectralTable spectralPairs;
};

// What Connect needs from the settings and the calibration copy, taken on
// the GUI thread when the command is given.
struct ConnectRequest {
    SerialPortSettingsStruct head{};
    SerialPortSettingsStruct supply{};
    SerialPortSettingsStruct counter{};
    bool disableSupplyDisplay = false;
    int storedSerialNumber = -1;
    bool apertureTableEmpty = true;
    bool spectralTableEmpty = true;
};

Q_DECLARE_METATYPE(SessionState)
Q_DECLARE_METATYPE(CalibrationTables)

class CConnectionController : public QObject {
    Q_OBJECT
public:
    // Lost: the end of a session whose instrument was lost while no other
    // sequence ran.
    enum class Sequence { Connect, Disconnect, Download, Upload, RampUp, RampDown, SupplyDisplay, Lost };
    Q_ENUM(Sequence)

    using LogFunction = std::function<void(int severity, const std::wstring& message)>;

    CConnectionController(IDialogHost& host, LogFunction log, QObject* parent = nullptr);
    ~CConnectionController() override;

    // Each starts its sequence on the connection worker and returns false,
    // starting nothing, while another sequence runs.
    bool Connect(const ConnectRequest& request);
    bool Disconnect();
    bool Download();
    bool Upload();
    bool RampUp();
    bool RampDown();
    // The supply's display message and switch, as after connecting.
    bool ApplySupplyDisplay(bool disableSupplyDisplay);
    // The window is to close: the running sequence's dialog ends as its
    // Cancel ends it, so a ramp-up is cut short and ramped down and a
    // download or upload is cancelled; a ramp-down runs on to its end.
    // Nothing when no sequence runs.
    void CancelForClose();

    // A sequence runs (from the command until SequenceEnded arrives).
    bool Busy() const { return m_bBusy; }
    // The upload dialog's sequence runs.
    bool Uploading() const { return m_bUploading; }
    // The last state a worker sent.
    const SessionState& State() const { return m_state; }

    // The 10 s and 1 s timers of the readings.
    void StartTimers();
    // One tick of each reading: skipped while the previous reading of the
    // same kind still runs or connect or disconnect holds the session. Any
    // thread.
    void TickLampHours();
    void TickTemperature();

signals:
    void SequenceStarted(CConnectionController::Sequence sequence);
    void SequenceEnded(CConnectionController::Sequence sequence);
    void StateChanged(SessionState state);
    // The connection pane's text.
    void ConnectionText(QString text);
    // What the error bar is to say of a failure: a connect that failed, an
    // instrument that was lost (its details are in the log).
    void ErrorReport(QString text);
    void LampHoursRead(bool valid, double seconds);
    void TemperatureRead(bool valid, double bulbCelsius);
    // New tables from the head; a serial number >= 0 is the connected
    // head's, to be stored with them and saved.
    void CalibrationDownloaded(CalibrationTables tables, int serialNumberToStore);
    void HeadPositionRead(int primary, int secondary);

private:
    // A sequence's work has returned on the connection worker.
    void OnSequenceEnded(Sequence sequence);

    bool Start(Sequence sequence, std::function<void()> work, const char* paneText = nullptr);

    // Connection worker only.
    void RunConnect(const ConnectRequest& request);
    void RunDisconnect();
    void RunDownloadCommand();
    void RunUpload();
    void RunRamp(bool up);
    void RunSupplyDisplay(bool disable);
    // Runs the download dialog and reads the tables; false when cancelled
    // (the instruments are then disconnected).
    bool DownloadTables(CalibrationTables& tables);
    void DisconnectAll(bool wait);
    void PublishState();
    void StartReadings();
    // Logs and reports which instrument could not be connected, and why.
    void ReportConnectFailure(statustexts::Instrument instrument, int port);
    // The end of a session after a loss: the lamp down if the supply still
    // answers, all three disconnected, the pane naming what was lost.
    void EndLostSession();

    static bool IsConnected();
    SessionState ReadState() const;

    // GUI thread: the gate's report of a failed port.
    void OnPortFailed(int port, const std::wstring& operation, const std::wstring& systemText);
    // GUI thread: a new session's ports are armed and its loss state cleared.
    void BeginSession(const ConnectRequest& request);

    enum Loss { NoLoss, LossPending, LossHandled };

    IDialogHost& m_host;
    LogFunction m_log;
    std::shared_mutex m_session;
    std::atomic<bool> m_bUploading{false};
    // Written by the GUI thread, read by the workers.
    std::atomic<int> m_loss{NoLoss};
    std::atomic<bool> m_bSupplyLost{false};
    std::atomic<bool> m_bLampUnknown{false};
    // Written by the GUI thread before m_loss becomes LossPending, read by
    // the connection worker after it has seen that.
    std::string m_strLostPane;

    // GUI thread only.
    bool m_bBusy = false;
    Sequence m_running = Sequence::Connect;
    int m_sessionPorts[3] = {0, 0, 0};  // head, supply, counter
    SessionState m_state;
    QTimer m_hoursTimer;
    QTimer m_temperatureTimer;

    // Last: destroyed first, so every job has ended before the members it
    // uses go.
    CWorker m_lampHoursWorker;
    CWorker m_temperatureWorker;
    CWorker m_connectionWorker;
};
