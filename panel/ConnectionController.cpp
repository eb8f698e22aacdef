// The connection sequences and the timer readings.
#include "ConnectionController.h"

#include <cstdio>
#include <mutex>

#include "InstrumentHandles.h"
#include "PsuDll/PsuDll.h"
#include "QuorvexDll/QuorvexDll.h"
#include "TallyDll/TallyDll.h"
#include "serial/DriverLog.h"

namespace {

constexpr int kHoursIntervalMs = 10000;
constexpr int kTemperatureIntervalMs = 1000;

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.c_str()); }

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
    connect(this, &CConnectionController::SequenceReturned, this, &CConnectionController::OnSequenceEnded,
            Qt::QueuedConnection);
    // Connected first, so the state is kept before any other receiver hears
    // of it.
    connect(this, &CConnectionController::StateChanged, this, [this](SessionState state) { m_state = state; });
}

CConnectionController::~CConnectionController() {
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
    emit SequenceStarted(sequence);
    if (paneText) emit ConnectionText(FromUtf8(paneText));
    m_connectionWorker.Post([this, sequence, work = std::move(work)] {
        work();
        // A signal, not a queued functor: Qt copies the value itself.
        emit SequenceReturned(sequence);
    });
    return true;
}

void CConnectionController::OnSequenceEnded(Sequence sequence) {
    m_bBusy = false;
    emit SequenceEnded(sequence);
}

bool CConnectionController::Connect(const ConnectRequest& request) {
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

bool CConnectionController::IsConnected() {
    int head = 0, supply = 0, counter = 0;
    const bool headValid = Quorvex_IsValidDevice(g_hQuorvex.load(), &head) == QuorvexSuccess && head;
    const bool supplyValid = Agilent_IsValidDevice(g_hAgilent.load(), &supply) == AgilentSuccess && supply;
    const bool counterValid = Etc_IsValidDevice(g_hEtc.load(), &counter) == EtcSuccess && counter;
    return headValid || supplyValid || counterValid;
}

SessionState CConnectionController::ReadState() {
    SessionState state;
    state.connected = IsConnected();
    if (!state.connected) return state;
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
        if (headResult == QuorvexSuccess) {
            if (ConnectInto(g_hAgilent, [&](void** handle) {
                    return Agilent_Connect(request.supply, handle, 1, nullptr);
                }) != AgilentSuccess) {
                DisconnectFrom(g_hQuorvex, [](void** handle) { Quorvex_Disconnect(handle, 0, nullptr); });
                PublishState();
                emit ConnectionText(FromUtf8(statustexts::kDisconnected));
                return;
            }
            if (ConnectInto(g_hEtc, [&](void** handle) { return Etc_Connect(request.counter, handle, 1, nullptr); }) !=
                EtcSuccess) {
                DisconnectFrom(g_hAgilent, [](void** handle) { Agilent_Disconnect(handle, 0, nullptr); });
                DisconnectFrom(g_hQuorvex, [](void** handle) { Quorvex_Disconnect(handle, 0, nullptr); });
                PublishState();
                emit ConnectionText(FromUtf8(statustexts::kDisconnected));
                return;
            }
            m_log(driverlog::Informational, L"Successfully connected to the Quorvex hardware.");
        }
    }

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

bool CConnectionController::DownloadTables(CalibrationTables& tables) {
    {
        std::shared_lock shared(m_session);
        if (m_host.RunDownload(g_hQuorvex.load()) == IDialogHost::kCancel) {
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
    if (DownloadTables(tables)) emit CalibrationDownloaded(tables, -1);
    PublishState();
}

void CConnectionController::RunUpload() {
    m_bUploading = true;
    int result;
    {
        std::shared_lock shared(m_session);
        result = m_host.RunUpload(g_hQuorvex.load());
    }
    if (result == IDialogHost::kCancel) DisconnectAll(true);
    m_bUploading = false;
    PublishState();
}

void CConnectionController::RunRamp(bool up) {
    {
        std::shared_lock shared(m_session);
        void* supply = g_hAgilent.load();
        if (up) {
            // An aborted or refused ramp-up must not leave the lamp half lit.
            if (m_host.RunLampRamp(0, supply) == IDialogHost::kCancel) m_host.RunLampRamp(1, supply);
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

void CConnectionController::StartReadings() {
    TickLampHours();
    TickTemperature();
}

void CConnectionController::TickLampHours() {
    m_lampHoursWorker.PostIfIdle([this] {
        std::shared_lock shared(m_session, std::try_to_lock);
        if (!shared.owns_lock()) return;
        if (!IsConnected()) {
            emit LampHoursRead(false, 0.0);
            return;
        }
        double seconds = -1.0;
        if (Etc_GetElapsedTime(g_hEtc.load(), &seconds) == EtcSuccess) emit LampHoursRead(true, seconds);
    });
}

void CConnectionController::TickTemperature() {
    m_temperatureWorker.PostIfIdle([this] {
        std::shared_lock shared(m_session, std::try_to_lock);
        if (!shared.owns_lock()) return;
        const SessionState state = ReadState();
        emit StateChanged(state);
        if (!state.connected || m_bUploading) {
            emit TemperatureRead(false, 0.0);
            return;
        }
        double temperatures[4] = {};
        if (Quorvex_GetTemperature(g_hQuorvex.load(), temperatures) == QuorvexSuccess)
            emit TemperatureRead(true, temperatures[2]);
    });
}
