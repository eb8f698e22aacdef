// CAgilentE3633A: connection, identification and disconnection (set
// commands and queries are in AgilentE3633ACommands.cpp, ramps in
// AgilentE3633AJobs.cpp).
#include "AgilentE3633A.h"

#include "AgilentE3633AProtocol.h"

#include <utility>

using driver::ConnectResult;
using driverlog::Debug;
using driverlog::Error;

namespace {

// How long a disconnect waits for the unlock to be written: long enough for
// a few queued queries to time out ahead of it, short enough that a port
// which no longer writes cannot hold the disconnect for ever.
constexpr DWORD kUnlockLimitMs = 5000;

}  // namespace

CAgilentE3633A::CAgilentE3633A(driverlog::CLibraryLog& library)
    : CDriverDevice(library, L"CAgilentE3633A",
                    SerialPortOptions{/*lineEnding=*/psudll::kLineEnding, /*dropUnsolicitedAfterPrefixLine=*/false}) {}

CAgilentE3633A::~CAgilentE3633A() { Shutdown(); }

// ---- Connecting -----------------------------------------------------------

ConnectResult CAgilentE3633A::Connect(const SerialPortSettingsStruct& settings, bool wait, HANDLE event) {
    // Port errors and unsolicited data mean nothing to this driver.
    return OpenAndIdentify(settings, wait, event, SerialPortHandlers{{}, {}, '!', ""}, psudll::QueryRequest("*IDN?"),
                           [this](const char* text, bool timedOut) { return OnIdentification(text, timedOut); },
                           {L": Attempting to detect an Agilent E3633A on the serial port.",
                            L": No Agilent E3633A detected on the serial port."});
}

bool CAgilentE3633A::OnIdentification(const char* text, bool timedOut) {
    AgilentIdentificationStruct identification;
    if (!timedOut) {
        std::lock_guard lock(m_identificationMutex);
        psudll::ParseIdentification(text ? text : "", m_identification);
        identification = m_identification;
    }
    const bool valid = !timedOut && identification.model == psudll::kSupportedModel;
    m_bIsValidDevice.store(valid);
    if (!valid) return false;
    Log().Log(Debug,
              L": An Agilent E3633A Power Supply has been detected with the following "
              L"properties: Manufacturer: ",
              identification.manufacturer, L", Model: ", identification.model,
              L", Main Power Supply Version: ", identification.mainVersion,
              L", IO Processor Revision: ", identification.ioRevision,
              L", Front Panel Revision: ", identification.frontPanelRevision);
    Log().Log(Debug, L": Locking the front panel controls.");
    Port().SendCommand("SYST:RWL", "", 0, 0, 0, {});
    return true;
}

AgilentIdentificationStruct CAgilentE3633A::GetIdentification() const {
    std::lock_guard lock(m_identificationMutex);
    return m_identification;
}

// ---- Disconnecting --------------------------------------------------------

void CAgilentE3633A::BeginDisconnect() {
    Log().Log(Debug, L": Unlocking the front panel controls.");
    std::lock_guard lock(m_sendMutex);
    m_bUnlockQueued = true;
    Port().SendCommand("SYST:LOC", "", 0, 0, 0,
                       [this](const char*, int) { Log().Log(Debug, L": Disconnecting from serial port."); },
                       m_unlockedEvent.Get());
}

void CAgilentE3633A::BeforeClose() {
    // A connect that failed never locked the panel and queued no unlock.
    {
        std::lock_guard lock(m_sendMutex);
        if (!m_bUnlockQueued) return;
    }
    if (WaitForSingleObject(m_unlockedEvent.Get(), kUnlockLimitMs) != WAIT_OBJECT_0)
        Log().Log(Error, L": Failed waiting for disconnection to complete.");
}
