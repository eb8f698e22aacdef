// CQuorvex: connection, identification, acknowledgements and notifications.
#include "Quorvex.h"

#include "QuorvexProtocol.h"

#include <platform/text.h>

using driverlog::Debug;
using driverlog::Error;
using driverlog::Warning;

CQuorvex::CQuorvex(driverlog::CLibraryLog& library) : CDriverDevice(library, L"CQuorvex", SerialPortOptions{}) {}

// The workers and the service thread use this object's members until the
// port is closed, so that happens before any of them goes.
CQuorvex::~CQuorvex() { Shutdown(); }

void CQuorvex::SendToHead(const std::string& text, SerialResponseCallback handler) {
    const driver::Request request = HeadRequest(text);
    Port().SendCommand(request.text, request.terminator, request.lines, request.timeoutMs, 0, std::move(handler));
}

driver::ConnectResult CQuorvex::Connect(const SerialPortSettingsStruct& settings, bool wait, HANDLE event) {
    SerialPortHandlers handlers{[this](SerialPortError code, const char* text) { OnSerialError(code, text); },
                                [this](const char* text, int timedOut) { OnUnsolicited(text, timedOut != 0); }, '!',
                                "\r"};
    return OpenAndIdentify(settings, wait, event, std::move(handlers), HeadRequest("I?"),
                           [this](const char* text, bool timedOut) { return OnIdentification(text, timedOut); },
                           {L": Attempting to detect an Quorvex on the serial port.",
                            L": No Quorvex detected on the serial port."});
}

QuorvexIdentificationStruct CQuorvex::GetIdentification() const {
    std::lock_guard lock(m_stateMutex);
    return m_identification;
}

bool CQuorvex::OnIdentification(const char* text, bool timedOut) {
    bool valid = false;
    QuorvexIdentificationStruct identification;
    if (!timedOut) {
        std::lock_guard lock(m_stateMutex);
        quorvexdll::ParseIdentification(text, m_identification);
        identification = m_identification;
        valid = identification.model == "QUORVEX";
    }
    m_bIsValidDevice = valid;
    if (!valid) return false;
    if (Log().Passes(Debug)) {
        Log().Log(Debug, platform::Format(": A Vandrel Quorvex Low Brightness Source has been detected with the "
                                          "following properties: Manufacturer: %s, Model: %s, Firmware: %s, "
                                          "Serial Number: %s",
                                          identification.manufacturer.c_str(), identification.model.c_str(),
                                          identification.firmware.c_str(), identification.serialNumber.c_str()));
    }
    SendToHead("S?", [this](const char* reply, int replyTimedOut) { OnStatus(reply, replyTimedOut != 0); });
    return true;
}

void CQuorvex::OnStatus(const char* text, bool timedOut) {
    if (timedOut) {
        m_bIsValidDevice = false;
        return;
    }
    if (!quorvexdll::ParseCode(text))
        Log().Log(Error, L": Failed to convert response into status. Response = \"", text, L"\".");
}

std::optional<int> CQuorvex::LastDeviceError() const {
    const long long code = m_nLastDeviceError.load();
    if (code == kNoRefusal) return std::nullopt;
    return static_cast<int>(code);
}

bool CQuorvex::OnAcknowledge(const char* text, bool timedOut) {
    m_nLastDeviceError.store(kNoRefusal);
    if (timedOut) {
        Log().Log(Error, L": Command timed out! Partial response received: \"", text, L"\".");
        return false;
    }
    const std::optional<int> parsed = quorvexdll::ParseCode(text);
    if (!parsed) {
        Log().Log(Error, L": Error converting response to integer. Response = \"", text, L"\".");
        return false;
    }
    const int code = *parsed;
    if (code == 1) return true;
    m_nLastDeviceError.store(code);
    if (Log().Passes(Error)) {
        Log().Log(Error, platform::FormatW(L": Error Code = %d, Message = ", code),
                  quorvexdll::DeviceErrorMessage(code));
    }
    return false;
}

void CQuorvex::OnUnsolicited(const char* text, bool timedOut) {
    if (timedOut) {
        Log().Log(Error, L": Unknown response timed out! Partial response received: \"", text, L"\".");
        return;
    }
    const std::string_view line(text);
    if (line == "!H:1") {
        m_homeComplete.Fire();
    } else if (line == "!P:1") {
        m_moveComplete.Fire();
    } else {
        Log().Log(Warning, L": Unexpected response received. \"", text, L"\".");
    }
}

void CQuorvex::OnSerialError(SerialPortError code, const char* text) {
    Log().Log(Error, L": Error code = ", static_cast<int>(code), L", message = \"", text, L"\".");
}

CQuorvex::AckEnd CQuorvex::SendAcknowledged(const std::string& command, HANDLE abortEvent) {
    const std::optional<bool> acknowledged = Ask(
        HeadRequest(command), [this](const char* text, bool timedOut) { return OnAcknowledge(text, timedOut); },
        abortEvent);
    if (!acknowledged) return AckEnd::Aborted;
    return *acknowledged ? AckEnd::Acknowledged : AckEnd::Refused;
}
