// CElapsedTimeCounter: connection and identification of one elapsed-time
// counter (see ElapsedTimeCounter.h).
#include "ElapsedTimeCounter.h"

#include "ElapsedTimeCounterProtocol.h"

#include <utility>

using driverlog::Debug;
using driverlog::Error;

CElapsedTimeCounter::CElapsedTimeCounter(driverlog::CLibraryLog& library)
    : CDriverDevice(library, L"CElapsedTimeCounter", SerialPortOptions{"\r", false}) {}

// The reply handlers use the members below the base: the port must be
// closed before they go.
CElapsedTimeCounter::~CElapsedTimeCounter() { Shutdown(); }

driver::ConnectResult CElapsedTimeCounter::Connect(const SerialPortSettingsStruct& settings, bool wait,
                                                   HANDLE event) {
    SerialPortHandlers handlers;
    handlers.errorCallback = [this](SerialPortError code, const char* text) {
        Log().Log(Error, L": Error code = ", static_cast<int>(code), L", message = \"", text ? text : "",
                  L"\".");
    };
    handlers.defaultCallback = [](const char*, int) {};
    handlers.defaultTerminator = "";
    return OpenAndIdentify(settings, wait, event, std::move(handlers), tallydll::LineRequest("I?"),
                           [this](const char* text, bool timedOut) { return Identify(text, timedOut); },
                           {L": Attempting to detect a Vandrel Elapsed Time Counter on the serial port.",
                            L": No Vandrel Elapsed Time Counter detected on the serial port."});
}

bool CElapsedTimeCounter::Identify(const char* text, bool timedOut) {
    bool valid = false;
    EtcIdentificationStruct identification;
    {
        std::lock_guard lock(m_mutex);
        if (!timedOut) {
            m_identification.response = text;
            tallydll::SplitIdentification(m_identification.response, m_identification);
            valid = m_identification.model == tallydll::kCounterModel;
        }
        m_bIsValidDevice = valid;
        identification = m_identification;
    }
    if (valid) {
        Log().Log(Debug,
                  L": A Vandrel Elapsed Time Counter has been detected with the following "
                  L"properties: Manufacturer: ",
                  identification.manufacturer, L", Model: ", identification.model,
                  L", Firmware Revision: ", identification.firmwareRevision);
    }
    return valid;
}

EtcIdentificationStruct CElapsedTimeCounter::GetIdentification() const {
    std::lock_guard lock(m_mutex);
    return m_identification;
}

bool CElapsedTimeCounter::IsValidDevice() const {
    std::lock_guard lock(m_mutex);
    return m_bIsValidDevice;
}
