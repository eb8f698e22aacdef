// Connecting, serving, losing and reconnecting the three instruments.
#include "InstrumentHub.h"

#include <PsuDll/PsuDll.h>
#include <QuorvexDll/QuorvexDll.h>
#include <TallyDll/TallyDll.h>

#include <cstdio>
#include <future>

#include "AppPaths.h"
#include "CalibrationTransfer.h"
#include "LampRamp.h"
#include "PortErrorGate.h"
#include "SettingsStorageIniFile.h"
#include "serial/DriverLog.h"

namespace quorvexd {

namespace {

// How long an instrument may take to answer who it is before the connect
// counts as failed; the drivers' own time-outs end it sooner.
constexpr DWORD kConnectLimitMs = 20000;

std::wstring PortText(int port) { return L"COM" + std::to_wstring(port); }

// Waits for `event` (set by a connect that does not wait); false at the limit.
bool AwaitConnect(const platform::COwnedHandle& event) {
    return WaitForSingleObject(event.Get(), kConnectLimitMs) == WAIT_OBJECT_0;
}

}  // namespace

CInstrumentHub::CInstrumentHub(const PortSettings& ports, Log log, QObject* parent)
    : QObject(parent), m_log(std::move(log)) {
    m_head.settings = ports.head;
    m_supply.settings = ports.supply;
    m_counter.settings = ports.counter;
    m_retry.setInterval(kRetrySeconds * 1000);
    connect(&m_retry, &QTimer::timeout, this, &CInstrumentHub::RetryMissing);
    connect(this, &CInstrumentHub::ResultsPosted, this, &CInstrumentHub::RunPosted, Qt::QueuedConnection);
    // The gate calls on the thread that met the error; it is handled here,
    // on the server's thread, and dropped with the hub.
    porterrors::SetListener([this](const porterrors::PortError& error) {
        Post([this, port = error.port] { OnPortFailed(port); });
    });
}

CInstrumentHub::~CInstrumentHub() {
    porterrors::SetListener({});
    Shutdown();
    // The workers go before the members their jobs use.
    for (Device* device : {&m_counter, &m_supply, &m_head}) {
        device->operations.reset();
        device->commands.reset();
    }
}

CInstrumentHub::Device& CInstrumentHub::Of(scpi::Instrument instrument) {
    switch (instrument) {
        case scpi::Instrument::Supply: return m_supply;
        case scpi::Instrument::Counter: return m_counter;
        default: return m_head;
    }
}

const CInstrumentHub::Device& CInstrumentHub::Of(scpi::Instrument instrument) const {
    return const_cast<CInstrumentHub*>(this)->Of(instrument);
}

void CInstrumentHub::Post(std::function<void()> onServerThread) {
    bool first = false;
    {
        std::lock_guard lock(m_postedMutex);
        first = m_posted.empty();
        m_posted.push_back(std::move(onServerThread));
    }
    if (first) emit ResultsPosted();
}

void CInstrumentHub::RunPosted() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(m_postedMutex);
        batch.swap(m_posted);
    }
    for (const auto& call : batch) call();
}

void CInstrumentHub::Start() {
    LoadCalibration();
    for (Device* device : {&m_head, &m_supply, &m_counter}) Connect(*device);
    m_retry.start();
}

bool CInstrumentHub::Connected(scpi::Instrument instrument) const {
    return instrument == scpi::Instrument::None || Of(instrument).connected;
}

std::string CInstrumentHub::HeadSerialNumber() const { return m_head.connected ? m_headSerialNumber : "0"; }

namespace {
// The hub's results come back through its own queue (Post), so the worker's
// Finished signal carries nothing.
void PostTo(CWorker& worker, std::function<void()> job) {
    worker.Request([job = std::move(job)] {
        job();
        return QVariant();
    });
}
}  // namespace

void CInstrumentHub::Submit(CWorker& worker, Device& device, Work work, Done done) {
    if (!device.connected || m_shutDown) {
        done(Outcome::Error(scpi::code::kHardwareMissing, "the " + QString::fromWCharArray(device.name).toStdString() +
                                                       " is not connected"));
        return;
    }
    PostTo(worker, [this, &device, work = std::move(work), done = std::move(done)]() mutable {
        void* const handle = device.handle.load();
        Outcome outcome = handle ? work(handle)
                                 : Outcome::Error(scpi::code::kHardwareMissing, QString::fromWCharArray(device.name).toStdString() + " not connected");
        Post([done = std::move(done), outcome = std::move(outcome)] { done(outcome); });
    });
}

void CInstrumentHub::Run(scpi::Instrument instrument, Work work, Done done) {
    Device& device = Of(instrument);
    Submit(*device.commands, device, std::move(work), std::move(done));
}

void CInstrumentHub::Operate(scpi::Instrument instrument, Work work, Done done) {
    Device& device = Of(instrument);
    Submit(*device.operations, device, std::move(work), std::move(done));
}

void CInstrumentHub::RunShared(scpi::Instrument instrument, const std::string& key, Work work, Done done) {
    Device& device = Of(instrument);
    if (!device.connected || m_shutDown) return Submit(*device.commands, device, std::move(work), std::move(done));
    const std::pair<int, std::string> slot{static_cast<int>(instrument), key};
    std::shared_ptr<std::vector<Done>> waiters;
    {
        std::lock_guard lock(m_sharedMutex);
        std::shared_ptr<std::vector<Done>>& queued = m_sharedReads[slot];
        if (queued) {
            queued->push_back(std::move(done));
            return;
        }
        queued = waiters = std::make_shared<std::vector<Done>>();
        waiters->push_back(std::move(done));
    }
    Submit(
        *device.commands, device,
        [this, slot, work = std::move(work)](void* handle) {
            {
                // From here on a new request takes a reading of its own.
                std::lock_guard lock(m_sharedMutex);
                m_sharedReads.erase(slot);
            }
            return work(handle);
        },
        [waiters](const Outcome& outcome) {
            for (const Done& waiter : *waiters) waiter(outcome);
        });
}

// Connecting ---------------------------------------------------------------

void CInstrumentHub::RetryMissing() {
    for (Device* device : {&m_head, &m_supply, &m_counter})
        if (!device->connected && !device->connecting) Connect(*device);
}

void CInstrumentHub::Connect(Device& device) {
    if (m_shutDown || device.connecting) return;
    device.connecting = true;
    porterrors::Arm(device.settings.port);
    PostTo(*device.commands, [this, &device] {
        Connection connection = ConnectOnWorker(device);
        Post([this, &device, connection = std::move(connection)] { OnConnected(device, connection); });
    });
}

CInstrumentHub::Connection CInstrumentHub::ConnectOnWorker(Device& device) {
    Connection result;
    const SerialPortSettingsStruct& s = device.settings;
    if (s.port < 1) {
        result.why = L"no port is set";
        return result;
    }
    const platform::COwnedHandle answered = platform::COwnedHandle::NewEvent(true);
    void* handle = nullptr;
    int valid = 0;
    switch (device.kind) {
        case scpi::Instrument::Head: {
            if (Quorvex_Connect(s.port, s.baud, s.parity, s.dataBits, s.stopBits, s.flowControl, &handle, 0,
                                answered.Get()) != QuorvexSuccess || !handle)
                break;
            QuorvexIdentificationStruct id;
            if (AwaitConnect(answered) && Quorvex_IsValidDevice(handle, &valid) == QuorvexSuccess && valid &&
                Quorvex_GetIdentification(handle, &id) == QuorvexSuccess) {
                result.ok = true;
                result.serialNumber = id.serialNumber.empty() ? "0" : id.serialNumber;
            } else {
                Quorvex_Disconnect(&handle, 1, nullptr);
            }
            break;
        }
        case scpi::Instrument::Supply: {
            if (Agilent_Connect(s, &handle, 0, answered.Get()) != AgilentSuccess || !handle) break;
            if (AwaitConnect(answered) && Agilent_IsValidDevice(handle, &valid) == AgilentSuccess && valid) {
                result.ok = true;
                // A lamp left lit (by the panel, or before a restart) is
                // known as lit: no ramp-up may start from 0 A under it.
                AgilentOutput output = AgilentOutput_Off;
                double current = 0.0;
                result.lit = Agilent_GetOutput(handle, &output) == AgilentSuccess && output == AgilentOutput_On &&
                             Agilent_GetCurrent(handle, &current) == AgilentSuccess && current > 0.0;
            } else {
                Agilent_Disconnect(&handle, 1, nullptr);
            }
            break;
        }
        default: {
            if (Etc_Connect(s, &handle, 0, answered.Get()) != EtcSuccess || !handle) break;
            if (AwaitConnect(answered) && Etc_IsValidDevice(handle, &valid) == EtcSuccess && valid)
                result.ok = true;
            else
                Etc_Disconnect(&handle, 1, nullptr);
            break;
        }
    }
    if (!result.ok) {
        result.why = L"nothing answered on " + PortText(s.port);
        return result;
    }
    device.handle.store(handle);
    return result;
}

void CInstrumentHub::OnConnected(Device& device, const Connection& connection) {
    device.connecting = false;
    if (m_shutDown) return;
    if (!connection.ok) {
        if (!device.reportedMissing)
            m_log(driverlog::Warning, std::wstring(L"The ") + device.name + L" is missing (" + connection.why +
                                          L"); retrying every " + std::to_wstring(kRetrySeconds) + L" s");
        device.reportedMissing = true;
        return;
    }
    device.connected = true;
    device.reportedMissing = false;
    m_log(driverlog::Informational,
          std::wstring(L"Connected the ") + device.name + L" on " + PortText(device.settings.port));
    if (device.kind == scpi::Instrument::Head) {
        m_headSerialNumber = connection.serialNumber;
        CheckCalibration();
    } else if (device.kind == scpi::Instrument::Supply) {
        m_lamp = connection.lit ? Lamp::On : Lamp::Off;
        m_rampPercent = connection.lit ? 100 : 0;
    }
}

void CInstrumentHub::OnPortFailed(int port) {
    for (Device* device : {&m_head, &m_supply, &m_counter})
        if (device->connected && device->settings.port == port) Lose(*device, L"its port failed");
}

void CInstrumentHub::Lose(Device& device, const std::wstring& why) {
    device.connected = false;
    m_log(driverlog::Warning, std::wstring(L"Lost the ") + device.name + L" on " + PortText(device.settings.port) +
                                  L" (" + why + L"); reconnecting every " + std::to_wstring(kRetrySeconds) + L" s");
    if (device.kind == scpi::Instrument::Supply) SetEvent(m_rampAbort.Get());
    // After whatever its worker is doing: that call ends with an error.
    PostTo(*device.commands, [&device] { Disconnect(device); });
}

void CInstrumentHub::Disconnect(Device& device) {
    void* handle = device.handle.exchange(nullptr);
    if (!handle) return;
    switch (device.kind) {
        case scpi::Instrument::Head: Quorvex_Disconnect(&handle, 1, nullptr); break;
        case scpi::Instrument::Supply: Agilent_Disconnect(&handle, 1, nullptr); break;
        default: Etc_Disconnect(&handle, 1, nullptr); break;
    }
}

// Calibration ----------------------------------------------------------------

void CInstrumentHub::LoadCalibration() {
    std::wstring appData;
    if (!apppaths::GetApplicationDataFolder(appData)) {
        m_log(driverlog::Warning, L"There is no application data folder: the calibration copy is not kept");
        return;
    }
    m_calibrationFile = apppaths::JoinFile(apppaths::DataFolder(appData), L"Calibration.ini");
    CSettingsStorageIniFile storage(m_calibrationFile, L"CalibrationData");
    m_calibration.Load(storage);
}

void CInstrumentHub::SaveCalibration() {
    if (m_calibrationFile.empty()) return;
    const std::wstring folder = m_calibrationFile.substr(0, m_calibrationFile.rfind(L'/') + 1);
    const DWORD made = apppaths::CreateFolderTree(folder);
    CSettingsStorageIniFile storage(m_calibrationFile, L"CalibrationData");
    storage.SetLog(m_log);
    if ((made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) || !m_calibration.Save(storage))
        m_log(driverlog::Error, L"Cannot save the calibration copy to \"" + m_calibrationFile + L"\"");
}

void CInstrumentHub::CheckCalibration() {
    int serialNumber = -1;
    if (std::sscanf(m_headSerialNumber.c_str(), "%d", &serialNumber) != 1) serialNumber = -1;
    if (serialNumber == m_calibration.m_nSerialNumber && !m_calibration.m_apertureData.empty() &&
        !m_calibration.m_spectralData.empty())
        return;
    m_log(driverlog::Informational, L"The calibration copy is not the head unit's: downloading its tables");
    DownloadCalibration([](const Outcome&) {});
}

void CInstrumentHub::DownloadCalibration(Done done) {
    m_downloadWaiters.push_back(std::move(done));
    if (m_downloading) return;
    m_downloading = true;
    ResetEvent(m_downloadAbort.Get());
    auto tables = std::make_shared<std::pair<QuorvexApertureTable, QuorvexSpectralTable>>();
    const HANDLE abort = m_downloadAbort.Get();
    Operate(
        scpi::Instrument::Head,
        [tables, abort](void* head) {
            if (calibrationtransfer::Download(head, abort, [](const std::wstring&, int) {}) != calibrationtransfer::kCompleted)
                return Outcome::Error(scpi::code::kHardwareError, "the head unit did not send its tables");
            if (Quorvex_GetApertureCalibrationData(head, &tables->first) != QuorvexSuccess ||
                Quorvex_GetSpectralCalibrationData(head, &tables->second) != QuorvexSuccess ||
                tables->first.empty() || tables->second.empty())
                return Outcome::Error(scpi::code::kHardwareError, "the head unit sent no usable tables");
            return Outcome{};
        },
        [this, tables](const Outcome& outcome) {
            m_downloading = false;
            if (outcome.error == 0) {
                m_calibration.FillFromHead(tables->first, tables->second);
                int serialNumber = -1;
                if (std::sscanf(m_headSerialNumber.c_str(), "%d", &serialNumber) == 1)
                    m_calibration.m_nSerialNumber = serialNumber;
                SaveCalibration();
                m_log(driverlog::Informational, L"Downloaded the calibration of head unit S/N " +
                                                    std::to_wstring(m_calibration.m_nSerialNumber));
            } else {
                m_log(driverlog::Error, L"The calibration download failed: " +
                                            QString::fromStdString(outcome.detail).toStdWString());
            }
            std::vector<Done> waiters;
            waiters.swap(m_downloadWaiters);
            for (const Done& waiter : waiters) waiter(outcome);
        });
}

// The lamp -------------------------------------------------------------------

void CInstrumentHub::Ramp(bool up, Done done) {
    if (up && m_lamp != Lamp::Off) {
        done(Outcome::Error(scpi::code::kExecutionError, "the lamp is lit or ramping: ramp it down first"));
        return;
    }
    if (!up) {
        if (m_lamp == Lamp::Off) {
            done(Outcome{});
            return;
        }
        if (m_lamp != Lamp::On) {  // joins the running ramp, a ramp-up is cut short
            if (m_lamp == Lamp::RampingUp) SetEvent(m_rampAbort.Get());
            m_rampWaiters.push_back(std::move(done));
            return;
        }
    }
    if (!m_supply.connected) {
        done(Outcome::Error(scpi::code::kHardwareMissing, "the power supply is not connected"));
        return;
    }
    m_rampWaiters.push_back(std::move(done));
    m_lamp = up ? Lamp::RampingUp : Lamp::RampingDown;
    m_rampPercent = up ? 0 : 100;
    ResetEvent(m_rampAbort.Get());
    const HANDLE abort = m_rampAbort.Get();
    std::atomic<int>* const percent = &m_rampPercent;
    Operate(
        scpi::Instrument::Supply,
        [up, abort, percent](void* supply) {
            const auto track = [percent](int p) { percent->store(p); };
            int result = lampramp::RunPercent(supply, up ? lampramp::kUp : lampramp::kDown, up ? abort : nullptr, track);
            if (up && result == lampramp::kAborted) {
                // A lamp left part-way up is brought back down.
                result = lampramp::RunPercent(supply, lampramp::kDown, nullptr, track) == lampramp::kCompleted
                             ? lampramp::kAborted
                             : lampramp::kRefused;
            }
            Outcome outcome;
            outcome.reply = std::to_string(result);
            if (result == lampramp::kRefused)
                outcome = Outcome{scpi::code::kHardwareError, "the power supply refused the ramp", "3"};
            return outcome;
        },
        [this, up](const Outcome& outcome) {
            if (outcome.error == scpi::code::kHardwareMissing) {
                OnRampEnded(up, lampramp::kRefused);
                return;
            }
            OnRampEnded(up, outcome.reply.empty() ? lampramp::kRefused : std::stoi(outcome.reply));
        });
}

void CInstrumentHub::OnRampEnded(bool up, int result) {
    Outcome outcome;
    if (result == lampramp::kCompleted) {
        m_lamp = up ? Lamp::On : Lamp::Off;
    } else if (result == lampramp::kAborted) {
        m_lamp = Lamp::Off;  // cut short and ramped back down
        outcome = Outcome::Error(scpi::code::kExecutionError, "the ramp-up was aborted; the lamp was ramped back down");
    } else {
        // Refused, or the supply went: the lamp is where the supply left it,
        // read again on reconnecting.
        m_lamp = up ? Lamp::Off : Lamp::On;
        if (!m_supply.connected) m_lamp = Lamp::Off;
        outcome = Outcome::Error(scpi::code::kHardwareError, "the power supply did not complete the ramp");
    }
    m_log(driverlog::Informational, std::wstring(L"Lamp ramp ") + (up ? L"up" : L"down") +
                                        (result == lampramp::kCompleted ? L" completed" : L" ended early"));
    std::vector<Done> waiters;
    waiters.swap(m_rampWaiters);
    for (const Done& waiter : waiters) waiter(outcome);
}

void CInstrumentHub::AbortRamp() {
    if (m_lamp == Lamp::RampingUp) SetEvent(m_rampAbort.Get());
}

// Shutdown -------------------------------------------------------------------

void CInstrumentHub::Shutdown() {
    if (m_shutDown) return;
    m_shutDown = true;
    m_retry.stop();
    SetEvent(m_downloadAbort.Get());
    if (m_lamp == Lamp::RampingUp) SetEvent(m_rampAbort.Get());
    // Everything handed to the workers ends first (a ramp-up cut short ramps
    // itself back down, moves run to their end).
    auto drain = [](CWorker& worker) {
        auto idle = std::make_shared<std::promise<void>>();
        std::future<void> done = idle->get_future();
        PostTo(worker, [idle] { idle->set_value(); });
        done.wait();
    };
    for (Device* device : {&m_head, &m_supply, &m_counter}) {
        drain(*device->operations);
        drain(*device->commands);
    }
    // A lamp still lit is ramped down, as the panel's close does.
    if (void* supply = m_supply.handle.load()) {
        AgilentOutput output = AgilentOutput_Off;
        double current = 0.0;
        if (Agilent_GetOutput(supply, &output) == AgilentSuccess && output == AgilentOutput_On &&
            Agilent_GetCurrent(supply, &current) == AgilentSuccess && current > 0.0) {
            m_log(driverlog::Informational, L"Ramping the lamp down before stopping");
            lampramp::RunPercent(supply, lampramp::kDown, nullptr, [](int) {});
        }
    }
    // The panel's order; the supply's disconnect unlocks its front panel.
    for (Device* device : {&m_counter, &m_supply, &m_head}) {
        Disconnect(*device);
        device->connected = false;
    }
    m_log(driverlog::Informational, L"Disconnected the instruments");
}

}  // namespace quorvexd
