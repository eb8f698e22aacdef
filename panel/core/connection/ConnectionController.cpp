// The connection sequences and the timer readings.
#include "ConnectionController.h"

#include <cstdio>
#include <mutex>

#include "InstrumentHandles.h"
#include "PortDiscovery.h"
#include "PortErrorGate.h"
#include "PsuDll/PsuDll.h"
#include "QuorvexDll/QuorvexDll.h"
#include "TallyDll/TallyDll.h"
#include "Utf8Text.h"
#include "serial/DriverLog.h"

namespace {

constexpr int kHoursIntervalMs = 10000;
constexpr int kTemperatureIntervalMs = 1000;

std::wstring Wide(const std::string& text) { return QString::fromUtf8(text.c_str()).toStdWString(); }

// The library writes the handle through the pointer; the program's copy is
// published whole.
template <typename ConnectCall>
int ConnectInto(std::atomic<void*>& published, ConnectCall connect) {
    void* handle = nullptr;
    const int result = connect(&handle);
    published.store(handle);
    return result;
}

template <typename DisconnectCall>
void DisconnectFrom(std::atomic<void*>& published, DisconnectCall disconnect) {
    void* handle = published.load();
    disconnect(&handle);
    published.store(handle);
}

}  // namespace

CConnectionController::CConnectionController(IDialogHost& host, LogFunction log, QObject* parent)
    : QObject(parent), m_host(host), m_log(std::move(log)) {
    qRegisterMetaType<SessionState>();
    qRegisterMetaType<CalibrationTables>();
    qRegisterMetaType<CConnectionController::Sequence>();
    m_hoursTimer.setInterval(kHoursIntervalMs);
    m_temperatureTimer.setInterval(kTemperatureIntervalMs);
    connect(&m_hoursTimer, &QTimer::timeout, this, &CConnectionController::TickLampHours);
    connect(&m_temperatureTimer, &QTimer::timeout, this, &CConnectionController::TickTemperature);
    connect(&m_connectionWorker, &CWorker::Finished, this,
            [this](const QVariant& sequence) { OnSequenceEnded(sequence.value<Sequence>()); });
    // Connected first, so the state is kept before any other receiver hears
    // of it.
    connect(this, &CConnectionController::StateChanged, this, [this](SessionState state) { m_state = state; });
    // The gate calls on the thread that met the error; the report is
    // handled on this object's thread (and dropped with it).
    porterrors::SetListener([this](const porterrors::PortError& error) {
        QMetaObject::invokeMethod(
            this,
            [this, port = error.port, operation = error.operation, text = error.systemText] {
                OnPortFailed(port, operation, text);
            },
            Qt::QueuedConnection);
    });
}

CConnectionController::~CConnectionController() {
    porterrors::SetListener({});
    m_hoursTimer.stop();
    m_temperatureTimer.stop();
}

void CConnectionController::StartTimers() {
    m_hoursTimer.start();
    m_temperatureTimer.start();
    TickLampHours();
    TickTemperature();
}

bool CConnectionController::Start(Sequence sequence, std::function<void()> work, const char* paneText) {
    if (m_bBusy) return false;
    m_bBusy = true;
    m_running = sequence;
    emit SequenceStarted(sequence);
    if (paneText) emit ConnectionText(FromUtf8(paneText));
    m_connectionWorker.Request([this, sequence, work = std::move(work)] {
        work();
        // An instrument lost during the sequence ends the session now.
        if (m_loss.load() == LossPending) EndLostSession();
        return QVariant::fromValue(sequence);
    });
    return true;
}

void CConnectionController::OnSequenceEnded(Sequence sequence) {
    m_bBusy = false;
    emit SequenceEnded(sequence);
    // A loss that came in after the sequence's last look.
    if (m_loss.load() == LossPending) Start(Sequence::Lost, [] {});
}

void CConnectionController::BeginSession(const ConnectRequest& request) {
    m_sessionPorts[0] = request.head.port;
    m_sessionPorts[1] = request.supply.port;
    m_sessionPorts[2] = request.counter.port;
    for (int port : m_sessionPorts) porterrors::Arm(port);
    m_loss = NoLoss;
    m_bSupplyLost = false;
    m_bLampUnknown = false;
}

void CConnectionController::OnPortFailed(int port, const std::wstring& operation, const std::wstring& systemText) {
    // Only a port of a session that is open or being opened, and one report
    // per loss.
    if ((!m_bBusy && !m_state.connected) || m_loss.load() != NoLoss) return;
    int index = 0;
    while (index < 3 && m_sessionPorts[index] != port) ++index;
    if (index == 3) return;
    const auto instrument = static_cast<statustexts::Instrument>(index);
    m_strLostPane = statustexts::Lost(instrument, port);
    if (instrument == statustexts::Instrument::Supply) {
        m_bSupplyLost = true;
        if (m_state.rampedUp || (m_bBusy && (m_running == Sequence::RampUp || m_running == Sequence::RampDown)))
            m_bLampUnknown = true;
    }
    m_loss = LossPending;
    m_log(driverlog::Error, Wide(m_strLostPane) + L": " + operation + L" failed: " + systemText);
    emit ErrorReport(FromUtf8(m_strLostPane + "."));
    if (m_bBusy)
        m_host.AbortDialog();
    else
        Start(Sequence::Lost, [] {});
}

bool CConnectionController::Connect(const ConnectRequest& request) {
    if (m_bBusy) return false;
    BeginSession(request);
    return Start(Sequence::Connect, [this, request] { RunConnect(request); }, statustexts::kConnecting);
}

bool CConnectionController::Disconnect() {
    return Start(Sequence::Disconnect, [this] { RunDisconnect(); }, statustexts::kDisconnecting);
}

bool CConnectionController::Download() {
    return Start(Sequence::Download, [this] { RunDownloadCommand(); });
}

bool CConnectionController::Upload() { return Start(Sequence::Upload, [this] { RunUpload(); }); }

bool CConnectionController::RampUp() { return Start(Sequence::RampUp, [this] { RunRamp(true); }); }

bool CConnectionController::RampDown() { return Start(Sequence::RampDown, [this] { RunRamp(false); }); }

bool CConnectionController::ApplySupplyDisplay(bool disable) {
    return Start(Sequence::SupplyDisplay, [this, disable] { RunSupplyDisplay(disable); });
}

void CConnectionController::CancelForClose() {
    if (m_bBusy) m_host.AbortDialog();
}

bool CConnectionController::IsConnected() {
    int head = 0, supply = 0, counter = 0;
    const bool headValid = Quorvex_IsValidDevice(g_hQuorvex.load(), &head) == QuorvexSuccess && head;
    const bool supplyValid = Agilent_IsValidDevice(g_hAgilent.load(), &supply) == AgilentSuccess && supply;
    const bool counterValid = Etc_IsValidDevice(g_hEtc.load(), &counter) == EtcSuccess && counter;
    return headValid || supplyValid || counterValid;
}

SessionState CConnectionController::ReadState() const {
    SessionState state;
    state.connected = IsConnected();
    // A lost supply's own word no longer counts: the lamp is what it last
    // confirmed, or unknown when it was lit or on its way.
    const bool lampUnknown = m_bLampUnknown.load();
    if (!state.connected || m_bSupplyLost.load()) {
        if (lampUnknown) state.lamp = statustexts::Lamp::Unknown;
        return state;
    }
    int rampedUp = 0;
    if (Agilent_IsRampedUp(g_hAgilent.load(), &rampedUp) != AgilentSuccess) {
        state.lamp = statustexts::Lamp::Error;
    } else {
        state.rampedUp = rampedUp != 0;
        state.lamp = state.rampedUp ? statustexts::Lamp::On : statustexts::Lamp::Off;
    }
    return state;
}

void CConnectionController::PublishState() { emit StateChanged(ReadState()); }

void CConnectionController::RunConnect(const ConnectRequest& request) {
    bool connectedTextShown = false;
    {
        std::unique_lock exclusive(m_session);
        m_log(driverlog::Informational, L"Connecting to the Quorvex hardware.");
        const SerialPortSettingsStruct& h = request.head;
        const int headResult = ConnectInto(g_hQuorvex, [&](void** handle) {
            return Quorvex_Connect(h.port, h.baud, h.parity, h.dataBits, h.stopBits, h.flowControl, handle, 1,
                                   nullptr);
        });
        if (headResult != QuorvexSuccess) ReportConnectFailure(statustexts::Instrument::Head, h.port);
        if (headResult == QuorvexSuccess) {
            if (ConnectInto(g_hAgilent, [&](void** handle) {
                    return Agilent_Connect(request.supply, handle, 1, nullptr);
                }) != AgilentSuccess) {
                ReportConnectFailure(statustexts::Instrument::Supply, request.supply.port);
                // Waiting (on this worker, not the window): a port still
                // being closed would make the next Connect find it in use.
                DisconnectFrom(g_hQuorvex, [](void** handle) { Quorvex_Disconnect(handle, 1, nullptr); });
                PublishState();
                emit ConnectionText(FromUtf8(statustexts::kDisconnected));
                return;
            }
            if (ConnectInto(g_hEtc, [&](void** handle) { return Etc_Connect(request.counter, handle, 1, nullptr); }) !=
                EtcSuccess) {
                ReportConnectFailure(statustexts::Instrument::Counter, request.counter.port);
                DisconnectFrom(g_hAgilent, [](void** handle) { Agilent_Disconnect(handle, 1, nullptr); });
                DisconnectFrom(g_hQuorvex, [](void** handle) { Quorvex_Disconnect(handle, 1, nullptr); });
                PublishState();
                emit ConnectionText(FromUtf8(statustexts::kDisconnected));
                return;
            }
            m_log(driverlog::Informational, L"Successfully connected to the Quorvex hardware.");
        }
    }

    // A loss while connecting ends the session instead.
    if (m_loss.load() != NoLoss) return;
    {
        std::shared_lock shared(m_session);
        QuorvexIdentificationStruct identification;
        int serialNumber = 0;
        if (Quorvex_GetIdentification(g_hQuorvex.load(), &identification) == QuorvexSuccess &&
            std::sscanf(identification.serialNumber.c_str(), "%d", &serialNumber) == 1) {
            if (serialNumber != request.storedSerialNumber || request.apertureTableEmpty ||
                request.spectralTableEmpty) {
                CalibrationTables tables;
                shared.unlock();
                const bool downloaded = DownloadTables(tables);
                shared.lock();
                if (!downloaded) {
                    // The instruments are gone: the sequence ends here.
                    PublishState();
                    emit ConnectionText(FromUtf8(statustexts::kDisconnected));
                    return;
                }
                emit CalibrationDownloaded(tables, serialNumber);
            }
            int position[2] = {0, 0};
            if (Quorvex_GetPosition(g_hQuorvex.load(), position) == QuorvexSuccess)
                emit HeadPositionRead(position[0], position[1]);
            emit ConnectionText(FromUtf8(statustexts::Connected(identification.model, identification.serialNumber)));
            connectedTextShown = true;
        }

        if (IsConnected()) RunSupplyDisplay(request.disableSupplyDisplay);
        StartReadings();
        if (Agilent_ResetOCP(g_hAgilent.load(), 1, nullptr) == AgilentSuccess)
            Agilent_ResetOVP(g_hAgilent.load(), 1, nullptr);
        PublishState();
    }
    if (!connectedTextShown) emit ConnectionText(FromUtf8(statustexts::kDisconnected));
}

void CConnectionController::ReportConnectFailure(statustexts::Instrument instrument, int port) {
    using statustexts::ConnectFailure;
    portdiscovery::PortInfo info;
    ConnectFailure reason = ConnectFailure::NoAnswer;
    if (!portdiscovery::Probe(port, info))
        reason = ConnectFailure::NotPresent;
    else if (info.state == portdiscovery::PortState::Busy)
        reason = ConnectFailure::InUse;
    else if (info.state == portdiscovery::PortState::NoPermission)
        reason = ConnectFailure::NoPermission;
    const std::string text = statustexts::ConnectFailed(instrument, port, reason);
    m_log(driverlog::Error, Wide(text));
    emit ErrorReport(FromUtf8(text));
}

bool CConnectionController::DownloadTables(CalibrationTables& tables) {
    {
        std::shared_lock shared(m_session);
        const int result = m_host.RunDownload(g_hQuorvex.load());
        // Tables cut short by a loss must not replace the stored ones.
        if (m_loss.load() != NoLoss) return false;
        if (result == IDialogHost::kCancel) {
            shared.unlock();
            DisconnectAll(true);
            return false;
        }
        if (Quorvex_GetApertureCalibrationData(g_hQuorvex.load(), &tables.apertureRows) != QuorvexSuccess)
            m_log(driverlog::Error, L"Error getting the aperture calibration data from the Quorvex object.");
        if (Quorvex_GetSpectralCalibrationData(g_hQuorvex.load(), &tables.spectralPairs) != QuorvexSuccess)
            m_log(driverlog::Error, L"Error getting the spectral calibration data from the Quorvex object.");
    }
    return true;
}

void CConnectionController::RunDownloadCommand() {
    CalibrationTables tables;
    // A cancelled download keeps the program's tables as they were.
    if (DownloadTables(tables)) {
        emit CalibrationDownloaded(tables, -1);
        PublishState();
        return;
    }
    PublishState();
    if (!IsConnected()) emit ConnectionText(FromUtf8(statustexts::kDisconnected));
}

void CConnectionController::RunUpload() {
    m_bUploading = true;
    int result;
    {
        std::shared_lock shared(m_session);
        result = m_host.RunUpload(g_hQuorvex.load());
    }
    m_bUploading = false;
    if (result == IDialogHost::kCancel && m_loss.load() == NoLoss) {
        DisconnectAll(true);
        PublishState();
        emit ConnectionText(FromUtf8(statustexts::kDisconnected));
        return;
    }
    PublishState();
}

void CConnectionController::RunRamp(bool up) {
    {
        std::shared_lock shared(m_session);
        void* supply = g_hAgilent.load();
        if (up) {
            // An aborted or refused ramp-up must not leave the lamp half lit,
            // unless the supply is gone and can do nothing about it.
            if (m_host.RunLampRamp(0, supply) == IDialogHost::kCancel && !m_bSupplyLost.load())
                m_host.RunLampRamp(1, supply);
        } else {
            m_host.RunLampRamp(1, supply);
        }
    }
    PublishState();
}

void CConnectionController::RunSupplyDisplay(bool disable) {
    void* supply = g_hAgilent.load();
    if (Agilent_SetDisplayMessage(supply, "VANDREL QUORVEX", 1, nullptr) == AgilentSuccess)
        Agilent_SetDisplay(supply, disable ? AgilentDisplay_Off : AgilentDisplay_On, 1, nullptr);
}

void CConnectionController::DisconnectAll(bool wait) {
    std::unique_lock exclusive(m_session);
    const int blocking = wait ? 1 : 0;
    DisconnectFrom(g_hEtc, [&](void** handle) { Etc_Disconnect(handle, blocking, nullptr); });
    DisconnectFrom(g_hAgilent, [&](void** handle) { Agilent_Disconnect(handle, blocking, nullptr); });
    DisconnectFrom(g_hQuorvex, [&](void** handle) { Quorvex_Disconnect(handle, blocking, nullptr); });
}

void CConnectionController::RunDisconnect() {
    {
        std::shared_lock shared(m_session);
        // With nothing connected there is no lamp to ask about.
        if (IsConnected()) {
            int rampedUp = 0;
            if (Agilent_IsRampedUp(g_hAgilent.load(), &rampedUp) != AgilentSuccess)
                m_log(driverlog::Error, L"Error checking if ramped up.");
            else if (rampedUp)
                m_host.RunLampRamp(1, g_hAgilent.load());
        }
    }
    DisconnectAll(true);
    StartReadings();
    PublishState();
    emit ConnectionText(FromUtf8(statustexts::kDisconnected));
}

void CConnectionController::EndLostSession() {
    {
        std::shared_lock shared(m_session);
        int rampedUp = 0;
        // The lamp is not left lit with nobody watching, as on Disconnect.
        if (!m_bSupplyLost.load() && IsConnected() &&
            Agilent_IsRampedUp(g_hAgilent.load(), &rampedUp) == AgilentSuccess && rampedUp)
            m_host.RunLampRamp(1, g_hAgilent.load());
    }
    DisconnectAll(true);
    m_loss = LossHandled;
    StartReadings();
    PublishState();
    emit ConnectionText(FromUtf8(m_strLostPane));
}

void CConnectionController::StartReadings() {
    TickLampHours();
    TickTemperature();
}

void CConnectionController::TickLampHours() {
    m_lampHoursWorker.Request(
        [this] {
            std::shared_lock shared(m_session, std::try_to_lock);
            // Nothing is asked of a session whose instrument was lost.
            if (!shared.owns_lock() || m_loss.load() == LossPending) return QVariant();
            if (!IsConnected()) {
                emit LampHoursRead(false, 0.0);
                return QVariant();
            }
            double seconds = -1.0;
            if (Etc_GetElapsedTime(g_hEtc.load(), &seconds) == EtcSuccess) emit LampHoursRead(true, seconds);
            return QVariant();
        },
        CWorker::IfBusy::Skip);
}

void CConnectionController::TickTemperature() {
    m_temperatureWorker.Request(
        [this] {
            std::shared_lock shared(m_session, std::try_to_lock);
            if (!shared.owns_lock() || m_loss.load() == LossPending) return QVariant();
            const SessionState state = ReadState();
            emit StateChanged(state);
            if (!state.connected || m_bUploading) {
                emit TemperatureRead(false, 0.0);
                return QVariant();
            }
            double temperatures[4] = {};
            if (Quorvex_GetTemperature(g_hQuorvex.load(), temperatures) == QuorvexSuccess)
                emit TemperatureRead(true, temperatures[2]);
            return QVariant();
        },
        CWorker::IfBusy::Skip);
}
