// Connecting and disconnecting the instruments a subcommand needs.
#include "Instruments.h"

#include <PsuDll/PsuDll.h>
#include <QuorvexDll/QuorvexDll.h>
#include <TallyDll/TallyDll.h>
#include <platform/OwnedHandle.h>

#include "AppSettings.h"
#include "Failure.h"
#include "PortDiscovery.h"
#include "SettingsStorageRegistry.h"

namespace quorvexctl {

namespace {

// Finds out before connecting why a port cannot be used, which the
// libraries' Connect reports only as a failure.
void CheckPort(int number, const char* instrument, const char* option) {
    if (number < 1)
        throw CFailure(kExitBadArgument, std::string("no port is set for the ") + instrument + ": give " + option +
                                             " COMn or choose one in the control panel's settings");
    portdiscovery::PortInfo info;
    if (!portdiscovery::Probe(number, info))
        throw CFailure(kExitNoInstrument, "COM" + std::to_string(number) + ": no such port (for the " + instrument + ")");
    const std::string name = "COM" + std::to_string(number) + " (" + info.device + ")";
    if (info.state == portdiscovery::PortState::NoPermission)
        throw CFailure(kExitPermission, name + ": permission denied: add your user to the dialout group");
    if (info.state == portdiscovery::PortState::Busy)
        throw CFailure(kExitBusy, name + ": in use by another program");
}

[[noreturn]] void NothingAnswered(int number, const char* instrument) {
    throw CFailure(kExitNoInstrument, "no " + std::string(instrument) + " answered on " + PortName(number));
}

}  // namespace

std::string PortName(int number) {
    portdiscovery::PortInfo info;
    if (portdiscovery::Probe(number, info) && !info.device.empty())
        return "COM" + std::to_string(number) + " (" + info.device + ")";
    return "COM" + std::to_string(number);
}

PortSettings LoadPortSettings(const Invocation& inv) {
    CAppSettings app;
    app.Reset();
    // A missing key leaves the defaults, as it does for the control panel.
    app.Load(*CSettingsStorageRegistry::ForApplicationSettings());
    PortSettings settings;
    settings.head = app.m_quorvexSerialSettings;
    settings.supply = app.m_agilentSerialSettings;
    settings.counter = app.m_etcSerialSettings;
    if (inv.headPort) settings.head.port = *inv.headPort;
    if (inv.supplyPort) settings.supply.port = *inv.supplyPort;
    if (inv.counterPort) settings.counter.port = *inv.counterPort;
    return settings;
}

CInstruments::CInstruments(const PortSettings& settings, unsigned needs, HANDLE abortEvent)
    : m_settings(settings), m_abortEvent(abortEvent) {
    try {
        Need(needs);
    } catch (...) {
        DisconnectAll();
        throw;
    }
}

void CInstruments::Need(unsigned needs) {
    const PortSettings& s = m_settings;
    if (m_head) needs &= ~kHead;
    if (m_supply) needs &= ~kSupply;
    if (m_counter) needs &= ~kCounter;
    // Every port first: a typing error fails before any instrument is touched.
    if (needs & kHead) CheckPort(s.head.port, "head unit", "--head");
    if (needs & kSupply) CheckPort(s.supply.port, "power supply", "--supply");
    if (needs & kCounter) CheckPort(s.counter.port, "elapsed-time counter", "--counter");
    // A connect that does not wait, waited for together with the abort
    // event. The event outlives a failed connect's disconnect, after which no
    // library thread can signal it. One that fails is closed again; those
    // connected before stay.
    auto connectOne = [this](void*& handle, int port, const char* instrument, auto connect, auto isValid,
                             auto disconnect) {
        const platform::COwnedHandle answered = platform::COwnedHandle::NewEvent(true);
        if (!answered) throw CFailure(kExitFailed, "cannot make an event");
        try {
            if (!connect(answered.Get()) || !handle) NothingAnswered(port, instrument);
            const HANDLE handles[] = {answered.Get(), m_abortEvent};
            if (WaitForMultipleObjects(m_abortEvent ? 2 : 1, handles, FALSE, INFINITE) != WAIT_OBJECT_0)
                throw CFailure(kExitInterrupted, "interrupted while connecting");
            if (!isValid()) NothingAnswered(port, instrument);
        } catch (...) {
            if (handle) disconnect();
            handle = nullptr;
            throw;
        }
    };
    if (needs & kHead) {
        const SerialPortSettingsStruct& h = s.head;
        connectOne(
            m_head, h.port, "head unit",
            [&](HANDLE answered) {
                return Quorvex_Connect(h.port, h.baud, h.parity, h.dataBits, h.stopBits, h.flowControl, &m_head, 0,
                                       answered) == QuorvexSuccess;
            },
            [&] {
                int valid = 0;
                return Quorvex_IsValidDevice(m_head, &valid) == QuorvexSuccess && valid;
            },
            [&] { Quorvex_Disconnect(&m_head, 1, nullptr); });
    }
    if (needs & kSupply) {
        connectOne(
            m_supply, s.supply.port, "power supply",
            [&](HANDLE answered) { return Agilent_Connect(s.supply, &m_supply, 0, answered) == AgilentSuccess; },
            [&] {
                int valid = 0;
                return Agilent_IsValidDevice(m_supply, &valid) == AgilentSuccess && valid;
            },
            [&] { Agilent_Disconnect(&m_supply, 1, nullptr); });
    }
    if (needs & kCounter) {
        connectOne(
            m_counter, s.counter.port, "elapsed-time counter",
            [&](HANDLE answered) { return Etc_Connect(s.counter, &m_counter, 0, answered) == EtcSuccess; },
            [&] {
                int valid = 0;
                return Etc_IsValidDevice(m_counter, &valid) == EtcSuccess && valid;
            },
            [&] { Etc_Disconnect(&m_counter, 1, nullptr); });
    }
}

CInstruments::~CInstruments() { DisconnectAll(); }

void CInstruments::DisconnectAll() {
    if (m_counter) Etc_Disconnect(&m_counter, 1, nullptr);
    if (m_supply) Agilent_Disconnect(&m_supply, 1, nullptr);
    if (m_head) Quorvex_Disconnect(&m_head, 1, nullptr);
    m_counter = m_supply = m_head = nullptr;
}

}  // namespace quorvexctl
