// The three instruments as quorvexd holds them for all its clients: the
// connections (made as the control panel makes them, retried every 5 s
// while an instrument is missing or after it was lost), one command worker
// per instrument that runs short library calls one at a time in the order
// they were handed in, one operation worker per instrument for what takes
// seconds (moves, homing, ramps, table downloads), the calibration copy it
// shares with the control panel (Calibration.ini, replaced by a download
// when the head's serial number is not the stored one), and the lamp's
// state between ramps.
//
// Ownership and threads: created, used and destroyed on the server's
// thread, which runs a Qt event loop; every Done callable is called there,
// never after the hub has gone. Work callables run on the instrument's
// workers, get the handle as it is when they start, and must touch
// nothing of the hub but what they are given. Workers are members and are
// joined in the destructor, after Shutdown (which the destructor calls when
// the owner did not) has brought the lamp down and disconnected everything.
#pragma once

#include <platform/OwnedHandle.h>
#include <serial/SerialPort.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QObject>
#include <QTimer>

#include "CalibrationData.h"
#include "CommandTable.h"
#include "Worker.h"

namespace quorvexd {

// What a piece of work found: an SCPI error code (0 for none) with why, and
// the reply text of a query.
struct Outcome {
    int error = 0;
    std::string detail;
    std::string reply;

    static Outcome Error(int error, std::string detail) { return Outcome{error, std::move(detail), {}}; }
};

struct PortSettings {
    SerialPortSettingsStruct head{}, supply{}, counter{};
};

enum class Lamp { Off, RampingUp, On, RampingDown };

class CInstrumentHub : public QObject {
    Q_OBJECT
public:
    using Work = std::function<Outcome(void* handle)>;
    using Done = std::function<void(const Outcome& outcome)>;
    using Log = std::function<void(int severity, const std::wstring& message)>;

    static constexpr int kRetrySeconds = 5;

    CInstrumentHub(const PortSettings& ports, Log log, QObject* parent = nullptr);
    ~CInstrumentHub() override;

    // Loads the calibration copy and starts connecting: at once, then every
    // kRetrySeconds for whatever is not connected.
    void Start();

    // `work` on the instrument's command worker, or its operation worker;
    // -241 without running it when the instrument is not connected.
    void Run(scpi::Instrument instrument, Work work, Done done);
    void Operate(scpi::Instrument instrument, Work work, Done done);
    // Run for a reading that changes nothing: while one with the same `key`
    // (the same work) waits in the queue, not yet started, the new one
    // joins it and gets its reading, which is taken after both arrived.
    // Many clients polling one instrument then share its round trips.
    void RunShared(scpi::Instrument instrument, const std::string& key, Work work, Done done);

    bool Connected(scpi::Instrument instrument) const;
    // The connected head's serial number, "0" while none is connected.
    std::string HeadSerialNumber() const;
    const CCalibrationData& Calibration() const { return m_calibration; }

    // Both tables read from the head again, stored and saved; `done` once
    // that has ended.
    void DownloadCalibration(Done done);

    Lamp LampState() const { return m_lamp; }
    int RampPercent() const { return m_rampPercent.load(); }
    // A ramp-up (refused with -200 unless the lamp is off) or a ramp-down
    // (nothing to do when off; joins a running one). `done` when the lamp
    // has come to rest.
    void Ramp(bool up, Done done);
    // A running ramp-up is cut short and ramped back down; a ramp-down is
    // never cut short.
    void AbortRamp();

    // Blocks: aborts a ramp-up and a download, lets moves end, ramps a lit
    // lamp down, disconnects the counter, the supply (unlocking its front
    // panel) and the head. Nothing runs on the workers afterwards.
    void Shutdown();

signals:
    // Emitted by a worker when the first of a batch of results is posted.
    void ResultsPosted();

private:
    struct Device {
        scpi::Instrument kind;
        const wchar_t* name;
        SerialPortSettingsStruct settings;
        std::atomic<void*> handle{nullptr};
        bool connected = false;   // server thread
        bool connecting = false;  // server thread
        bool reportedMissing = false;
        std::unique_ptr<CWorker> commands = std::make_unique<CWorker>();
        std::unique_ptr<CWorker> operations = std::make_unique<CWorker>();
    };
    struct Connection {
        bool ok = false;
        std::wstring why;
        std::string serialNumber;  // head
        bool lit = false;          // supply
    };

    Device& Of(scpi::Instrument instrument);
    const Device& Of(scpi::Instrument instrument) const;
    void Submit(CWorker& worker, Device& device, Work work, Done done);
    // Any thread: `onServerThread` runs there. The callables go through a
    // queue of our own, so each is created, run and destroyed under its
    // lock's ordering; Qt's queued signal only wakes the server's thread.
    void Post(std::function<void()> onServerThread);
    void RunPosted();
    void RetryMissing();
    void Connect(Device& device);
    // Device worker: connects and checks who answered.
    static Connection ConnectOnWorker(Device& device);
    void OnConnected(Device& device, const Connection& connection);
    void OnPortFailed(int port);
    void Lose(Device& device, const std::wstring& why);
    void CheckCalibration();
    void LoadCalibration();
    void SaveCalibration();
    void OnRampEnded(bool up, int result);
    static void Disconnect(Device& device);

    Log m_log;
    Device m_head{scpi::Instrument::Head, L"head unit", {}};
    Device m_supply{scpi::Instrument::Supply, L"power supply", {}};
    Device m_counter{scpi::Instrument::Counter, L"elapsed-time counter", {}};
    QTimer m_retry;
    bool m_shutDown = false;

    CCalibrationData m_calibration;
    std::wstring m_calibrationFile;
    std::string m_headSerialNumber = "0";
    bool m_downloading = false;
    std::vector<Done> m_downloadWaiters;

    // Readings queued and not started, by instrument and key; the server's
    // thread adds to them, a worker takes one out as it starts it.
    std::mutex m_postedMutex;
    std::deque<std::function<void()>> m_posted;
    std::mutex m_sharedMutex;
    std::map<std::pair<int, std::string>, std::shared_ptr<std::vector<Done>>> m_sharedReads;

    Lamp m_lamp = Lamp::Off;
    std::atomic<int> m_rampPercent{0};
    std::vector<Done> m_rampWaiters;
    platform::COwnedHandle m_rampAbort = platform::COwnedHandle::NewEvent(true);
    platform::COwnedHandle m_downloadAbort = platform::COwnedHandle::NewEvent(true);
};

}  // namespace quorvexd
