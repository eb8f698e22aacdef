// CQuorvex: connection, identification, acknowledgements, notifications and
// the end of a device's life.
#include "Quorvex.h"

#include "HeadProtocol.h"
#include "TextScan.h"

#include <platform/text.h>

using driverlog::Debug;
using driverlog::Error;
using driverlog::Warning;

CQuorvex::CQuorvex() = default;

CQuorvex::~CQuorvex() { Shutdown(); }

void CQuorvex::Shutdown() {
    std::lock_guard lock(m_mutexShutdown);
    if (m_bShutdown) return;
    m_bShutdown = true;
    // Wake every blocked request first, so the workers can end; then the
    // port, whose queued commands are dropped without their handlers.
    if (m_closingEvent) SetEvent(m_closingEvent.Get());
    m_workers.StopAndJoin();
    Close();
}

void CQuorvex::SendToHead(const std::string& text, SerialResponseCallback handler) {
    SendCommand(text, "\r", 1, 1000, 0, std::move(handler));
}

int CQuorvex::Connect(bool wait, HANDLE event, const SerialPortSettingsStruct& settings) {
    if (OpenAndStart(
            m_log, [this](SerialPortError code, const char* text) { OnSerialError(code, text); },
            [this](const char* text, int timedOut) { OnUnsolicited(text, timedOut); }, '!', "\r",
            settings) != 0)
        return 1;

    // Waiting needs an event; without waiting only the caller's (if any) is
    // signalled, so none is made that nobody would close. A waiting connect
    // consumes the caller's event: it is closed once the wait is over.
    platform::COwnedHandle waitEvent;
    if (wait) waitEvent = event ? platform::COwnedHandle(event) : platform::COwnedHandle::NewEvent();
    const HANDLE identified = wait ? waitEvent.Get() : event;
    {
        std::lock_guard lock(m_mutexState);
        m_hIdentificationCompleteEvent = identified;
    }
    m_log.Log(Debug, L": Attempting to detect an Quorvex on the serial port.");
    SendToHead("I?", [this](const char* text, int timedOut) { OnIdentification(text, timedOut); });

    if (!wait) return 0;

    // The "I?" command times out after 1000 ms, so this wait ends; a
    // disconnect from another thread ends it too.
    HANDLE handles[2] = {identified, m_closingEvent.Get()};
    const DWORD result = WaitForMultipleObjects(m_closingEvent ? 2 : 1, handles, FALSE, INFINITE);
    // Cleared under the lock before closing: the handler signals only a
    // member it finds set, so it can never signal the closed handle.
    {
        std::lock_guard lock(m_mutexState);
        m_hIdentificationCompleteEvent = nullptr;
    }
    waitEvent.Reset();
    if (result != WAIT_OBJECT_0 || !m_bIsValidDevice.load()) {
        m_log.Log(Debug, L": No Quorvex detected on the serial port.");
        Close();
        return 2;
    }
    return 0;
}

QuorvexIdentificationStruct CQuorvex::GetIdentification() const {
    std::lock_guard lock(m_mutexState);
    return m_identification;
}

void CQuorvex::SignalIdentificationComplete() {
    std::lock_guard lock(m_mutexState);
    if (m_hIdentificationCompleteEvent) SetEvent(m_hIdentificationCompleteEvent);
    m_hIdentificationCompleteEvent = nullptr;
}

void CQuorvex::OnIdentification(const char* text, int timedOut) {
    bool valid = false;
    QuorvexIdentificationStruct identification;
    if (!timedOut) {
        std::lock_guard lock(m_mutexState);
        quorvex::ParseIdentification(text, m_identification);
        identification = m_identification;
        valid = identification.model == "QUORVEX";
    }
    if (valid) {
        if (m_log.Passes(Debug)) {
            m_log.Log(Debug, platform::Format(
                                 ": A Vandrel Quorvex Low Brightness Source has been detected with the "
                                 "following properties: Manufacturer: %s, Model: %s, Firmware: %s, "
                                 "Serial Number: %s",
                                 identification.manufacturer.c_str(), identification.model.c_str(),
                                 identification.firmware.c_str(), identification.serialNumber.c_str()));
        }
        m_bIsValidDevice = 1;
        SendToHead("S?", [this](const char* reply, int replyTimedOut) { OnStatus(reply, replyTimedOut); });
    } else {
        m_bIsValidDevice = 0;
    }
    SignalIdentificationComplete();
}

void CQuorvex::OnStatus(const char* text, int timedOut) {
    if (timedOut) {
        m_bIsValidDevice = 0;
        return;
    }
    int status = 0;
    if (quorvex::ScanInts(text, &status, 1) != 1)
        m_log.Log(Error, L": Failed to convert response into status. Response = \"", text, L"\".");
}

CQuorvex::Acknowledgement CQuorvex::OnAcknowledge(const char* text, int timedOut) {
    Acknowledgement ack;
    if (timedOut) {
        m_log.Log(Error, L": Command timed out! Partial response received: \"", text, L"\".");
        return ack;
    }
    int code = 0;
    if (quorvex::ScanInts(text, &code, 1) != 1) {
        m_log.Log(Error, L": Error converting response to integer. Response = \"", text, L"\".");
        return ack;
    }
    ack.code = code;
    if (code == 1) {
        ack.acknowledged = true;
    } else if (m_log.Passes(Error)) {
        m_log.Log(Error, platform::FormatW(L": Error Code = %d, Message = ", code),
                  quorvex::DeviceErrorMessage(code));
    }
    return ack;
}

void CQuorvex::OnUnsolicited(const char* text, int timedOut) {
    if (timedOut) {
        m_log.Log(Error, L": Unknown response timed out! Partial response received: \"", text, L"\".");
        return;
    }
    const std::string_view line(text);
    if (line == "!H:1") {
        m_homeComplete.Fire();
    } else if (line == "!P:1") {
        m_moveComplete.Fire();
    } else {
        m_log.Log(Warning, L": Unexpected response received. \"", text, L"\".");
    }
}

void CQuorvex::OnSerialError(SerialPortError code, const char* text) {
    m_log.Log(Error, L": Error code = ", static_cast<int>(code), L", message = \"", text, L"\".");
}

CQuorvex::AckEnd CQuorvex::SendAcknowledged(const std::string& command, HANDLE abortEvent) {
    quorvex::WaitEnd end = quorvex::WaitEnd::Reply;
    const Acknowledgement ack = AskHead<Acknowledgement>(
        command, [this](const char* text, int timedOut) { return OnAcknowledge(text, timedOut); },
        Acknowledgement{}, abortEvent, &end);
    if (end != quorvex::WaitEnd::Reply) return AckEnd::Aborted;
    return ack.acknowledged ? AckEnd::Acknowledged : AckEnd::Refused;
}
