// CAgilentE3633A: connection, identification, SCPI commands, numeric
// queries and disconnection (ramps are in AgilentRamp.cpp).
#include "AgilentE3633A.h"

#include "Identification.h"
#include "ScpiText.h"

#include <memory>
#include <utility>

using driverlog::Debug;
using driverlog::Error;
using platform::COwnedHandle;

namespace {

// The value names, logged for each set command.
const wchar_t* const kOutputNames[] = {L"AgilentOutput_On", L"AgilentOutput_Off"};
const wchar_t* const kDisplayNames[] = {L"AgilentDisplay_On", L"AgilentDisplay_Off"};
const wchar_t* const kVoltageRangeNames[] = {L"AgilentVoltageRange_P8V", L"AgilentVoltageRange_P20V",
                                             L"AgilentVoltageRange_Low", L"AgilentVoltageRange_High"};

template <size_t N>
bool InTable(int value, const wchar_t* const (&)[N]) {
    return value >= 0 && static_cast<size_t>(value) < N;
}

const char* const kLineEnding = "\r\n";
constexpr int kReplyTimeoutMs = 1000;

}  // namespace

CAgilentE3633A::CAgilentE3633A()
    : CSerialPort(SerialPortOptions{/*lineEnding=*/"\r\n", /*dropUnsolicitedAfterPrefixLine=*/false}) {}

CAgilentE3633A::~CAgilentE3633A() {
    // Everything waiting for a command or a step pause gives up now.
    SetEvent(m_closedEvent.Get());
    JoinRampThread();
    Close();
}

// ---- Connecting -----------------------------------------------------------

int CAgilentE3633A::Connect(int blocking, HANDLE event, const SerialPortSettingsStruct& settings) {
    // Port errors and unsolicited data mean nothing to this driver.
    if (OpenAndStart(m_log, [](SerialPortError, const char*) {}, [](const char*, int) {}, '!', "",
                     settings) != 0)
        return 1;

    if (!event) {
        m_ownIdentificationEvent = COwnedHandle::NewEvent();
        event = m_ownIdentificationEvent.Get();
    }
    m_hIdentificationCompleteEvent = event;
    m_log.Log(Debug, L": Attempting to detect an Agilent E3633A on the serial port.");
    SendQuery("*IDN?", [this](const char* text, int timedOut) { OnIdentification(text, timedOut); });

    if (!blocking) return 0;

    WaitForSingleObject(m_hIdentificationCompleteEvent, INFINITE);
    // The caller's event is closed too: a blocking connect has always done so.
    if (m_ownIdentificationEvent)
        m_ownIdentificationEvent.Reset();
    else
        CloseHandle(m_hIdentificationCompleteEvent);
    m_hIdentificationCompleteEvent = nullptr;
    if (m_bIsValidDevice.load()) return 0;
    m_log.Log(Debug, L": No Agilent E3633A detected on the serial port.");
    Close();
    return 2;
}

void CAgilentE3633A::OnIdentification(const char* text, int timedOut) {
    HANDLE complete = m_hIdentificationCompleteEvent;
    if (!timedOut) {
        AgilentIdentificationStruct identification;
        {
            std::lock_guard lock(m_identificationMutex);
            psudll::ParseIdentification(text ? text : "", m_identification);
            identification = m_identification;
        }
        if (identification.model == psudll::kSupportedModel) {
            m_log.Log(Debug,
                      L": An Agilent E3633A Power Supply has been detected with the following "
                      L"properties: Manufacturer: ",
                      identification.manufacturer, L", Model: ", identification.model,
                      L", Main Power Supply Version: ", identification.mainVersion,
                      L", IO Processor Revision: ", identification.ioRevision,
                      L", Front Panel Revision: ", identification.frontPanelRevision);
            m_bIsValidDevice.store(1);
            SetEvent(complete);
            m_log.Log(Debug, L": Locking the front panel controls.");
            SendCommand("SYST:RWL", "", 0, 0, 0, {});
            return;
        }
    }
    m_bIsValidDevice.store(0);
    SetEvent(complete);
}

AgilentIdentificationStruct CAgilentE3633A::GetIdentification() const {
    std::lock_guard lock(m_identificationMutex);
    return m_identification;
}

// ---- Set commands ---------------------------------------------------------

bool CAgilentE3633A::WaitUnlessClosed(HANDLE event) {
    const HANDLE handles[] = {event, m_closedEvent.Get()};
    return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0;
}

AgilentError CAgilentE3633A::SendSetCommand(const std::string& command, int blocking,
                                            HANDLE event) {
    if (!blocking) {
        SendCommand(command, "", 0, 0, 0, {}, event);
        return AgilentSuccess;
    }
    COwnedHandle written = COwnedHandle::NewEvent();
    SendCommand(command, "", 0, 0, 0, {}, written.Get());
    WaitUnlessClosed(written.Get());
    return AgilentSuccess;
}

AgilentError CAgilentE3633A::SetOutput(AgilentOutput output, int blocking, HANDLE event) {
    if (!InTable(output, kOutputNames)) return AgilentErrorInvalidParameter;
    m_log.Log(Debug, L": Setting output to ", kOutputNames[output], L".");
    return SendSetCommand(output == AgilentOutput_On ? "OUTP ON" : "OUTP OFF", blocking, event);
}

AgilentError CAgilentE3633A::SetDisplay(AgilentDisplay display, int blocking, HANDLE event) {
    if (!InTable(display, kDisplayNames)) return AgilentErrorInvalidParameter;
    m_log.Log(Debug, L": Setting display to ", kDisplayNames[display], L".");
    return SendSetCommand(display == AgilentDisplay_On ? "DISP ON" : "DISP OFF", blocking, event);
}

AgilentError CAgilentE3633A::SetDisplayMessage(const char* text, int blocking, HANDLE event) {
    if (!text) return AgilentErrorInvalidParameter;
    // A line break inside the text would end the command and start another.
    const auto quoted = psudll::QuoteScpiString(text);
    if (!quoted) return AgilentErrorInvalidParameter;
    m_log.Log(Debug, L": Setting custom display message to \"", text, L"\".");
    return SendSetCommand("DISP:TEXT " + *quoted, blocking, event);
}

AgilentError CAgilentE3633A::ClearDisplayMessage(int blocking, HANDLE event) {
    m_log.Log(Debug, L": Clearing custom display message.");
    return SendSetCommand("DISP:TEXT:CLE", blocking, event);
}

AgilentError CAgilentE3633A::SetVoltageRange(AgilentVoltageRange range, int blocking, HANDLE event) {
    if (!InTable(range, kVoltageRangeNames)) return AgilentErrorInvalidParameter;
    m_log.Log(Debug, L": Setting voltage range to ", kVoltageRangeNames[range], L".");
    const bool low = range == AgilentVoltageRange_P8V || range == AgilentVoltageRange_Low;
    return SendSetCommand(low ? "VOLT:RANG P8V" : "VOLT:RANG P20V", blocking, event);
}

AgilentError CAgilentE3633A::SendSetPoint(const wchar_t* what, const char* command, double value,
                                          const wchar_t* unit, int blocking, HANDLE event) {
    m_log.Log(Debug, L": Setting ", what, L" to ", psudll::FormatFixedW(value, 3), unit, L".");
    return SendSetCommand(std::string(command) + " " + psudll::FormatFixed(value, 3), blocking,
                          event);
}

AgilentError CAgilentE3633A::SetCurrent(double amperes, int blocking, HANDLE event) {
    return SendSetPoint(L"the current", "CURR", amperes, L"A", blocking, event);
}

AgilentError CAgilentE3633A::SetVoltage(double volts, int blocking, HANDLE event) {
    return SendSetPoint(L"the voltage", "VOLT", volts, L"V", blocking, event);
}

AgilentError CAgilentE3633A::SetCurrentLimit(double amperes, int blocking, HANDLE event) {
    return SendSetPoint(L"the current limit", "CURR:PROT", amperes, L"A", blocking, event);
}

AgilentError CAgilentE3633A::SetVoltageLimit(double volts, int blocking, HANDLE event) {
    return SendSetPoint(L"the voltage limit", "VOLT:PROT", volts, L"V", blocking, event);
}

AgilentError CAgilentE3633A::ResetOverCurrentProtection(int blocking, HANDLE event) {
    m_log.Log(Debug, L": Resetting Over Current Protection.");
    return SendSetCommand("CURR:PROT:CLE", blocking, event);
}

AgilentError CAgilentE3633A::ResetOverVoltageProtection(int blocking, HANDLE event) {
    m_log.Log(Debug, L": Resetting Over Voltage Protection.");
    return SendSetCommand("VOLT:PROT:CLE", blocking, event);
}

// ---- Numeric queries ------------------------------------------------------

void CAgilentE3633A::SendQuery(const char* command, SerialResponseCallback handler) {
    SendCommand(command, kLineEnding, 1, kReplyTimeoutMs, 0, std::move(handler));
}

void CAgilentE3633A::OnNumericReply(const char* text, int timedOut,
                                    const AgilentResponseCallback& deliver) {
    const char* reply = text ? text : "";
    m_bResponseValid = 0;
    if (timedOut) {
        m_log.Log(Error, L": Command timed out! Partial response received: \"", reply, L"\".");
    } else if (const auto value = psudll::ParseReplyNumber(reply)) {
        m_dResponseValue = *value;
        m_bResponseValid = 1;
    } else {
        m_log.Log(Error, L": Error converting response to double. Response = \"", reply, L"\".");
    }
    if (deliver) deliver(m_bResponseValid, m_dResponseValue);
}

AgilentError CAgilentE3633A::BlockingQuery(const char* command, const wchar_t* message, double* out) {
    if (!out) return AgilentErrorInvalidParameter;
    std::lock_guard serialised(m_queryMutex);
    m_log.Log(Debug, message);

    // The reply travels with its own command, so nothing another query
    // receives can land here.
    struct Result {
        int valid = 0;
        double value = 0.0;
    };
    auto result = std::make_shared<Result>();
    COwnedHandle done = COwnedHandle::NewEvent();
    const HANDLE doneEvent = done.Get();
    SendQuery(command, [this, result, doneEvent](const char* text, int timedOut) {
        OnNumericReply(text, timedOut, [&](int valid, double value) {
            result->valid = valid;
            result->value = value;
        });
        SetEvent(doneEvent);
    });
    if (!WaitUnlessClosed(doneEvent) || !result->valid) return AgilentErrorCommandFailed;
    *out = result->value;
    return AgilentSuccess;
}

AgilentError CAgilentE3633A::CallbackQuery(const char* command, const wchar_t* message,
                                           AgilentResponseCallback callback) {
    m_log.Log(Debug, message);
    // The callable lives in its command: called once with that command's
    // reply and released with it.
    SendQuery(command, [this, callback = std::move(callback)](const char* text, int timedOut) {
        OnNumericReply(text, timedOut, callback);
    });
    return AgilentSuccess;
}

AgilentError CAgilentE3633A::GetCurrent(double* amperes) {
    return BlockingQuery("CURR?", L": Getting the current setpoint.", amperes);
}
AgilentError CAgilentE3633A::GetVoltage(double* volts) {
    return BlockingQuery("VOLT?", L": Getting the voltage setpoint.", volts);
}
AgilentError CAgilentE3633A::MeasureCurrent(double* amperes) {
    return BlockingQuery("MEAS:CURR?", L": Getting the measured current value.", amperes);
}
AgilentError CAgilentE3633A::MeasureVoltage(double* volts) {
    return BlockingQuery("MEAS:VOLT?", L": Getting the measured voltage value.", volts);
}
AgilentError CAgilentE3633A::GetCurrent(AgilentResponseCallback callback) {
    return CallbackQuery("CURR?", L": Getting the current setpoint.", std::move(callback));
}
AgilentError CAgilentE3633A::GetVoltage(AgilentResponseCallback callback) {
    return CallbackQuery("VOLT?", L": Getting the voltage setpoint.", std::move(callback));
}
AgilentError CAgilentE3633A::MeasureCurrent(AgilentResponseCallback callback) {
    return CallbackQuery("MEAS:CURR?", L": Getting the measured current value.", std::move(callback));
}
AgilentError CAgilentE3633A::MeasureVoltage(AgilentResponseCallback callback) {
    return CallbackQuery("MEAS:VOLT?", L": Getting the measured voltage value.", std::move(callback));
}

// ---- Disconnecting --------------------------------------------------------

void CAgilentE3633A::UnlockForDisconnect() {
    m_log.Log(Debug, L": Unlocking the front panel controls.");
    SendCommand("SYST:LOC", "", 0, 0, 0,
                [this](const char*, int) { m_log.Log(Debug, L": Disconnecting from serial port."); },
                m_unlockedEvent.Get());
}

void CAgilentE3633A::CloseAfterUnlock() {
    if (WaitForSingleObject(m_unlockedEvent.Get(), INFINITE) != WAIT_OBJECT_0)
        m_log.Log(Error, L": Failed waiting for disconnection to complete.");
    Close();
    SetEvent(m_closedEvent.Get());
}
