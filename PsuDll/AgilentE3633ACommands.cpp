// CAgilentE3633A: the SCPI set commands and the numeric queries, in their
// waiting, event and callback forms (see AgilentE3633A.h).
#include "AgilentE3633A.h"

#include "AgilentE3633AProtocol.h"

#include <serial/ReplyText.h>

#include <cmath>
#include <utility>

using driver::CPendingReply;
using driverlog::Debug;
using driverlog::Error;

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

struct SetPointText {
    const wchar_t* what;  // logged as "Setting <what> to <value><unit>."
    const char* command;
    const wchar_t* unit;
};
const SetPointText kSetPoints[] = {{L"the current", "CURR", L"A"},
                                   {L"the voltage", "VOLT", L"V"},
                                   {L"the current limit", "CURR:PROT", L"A"},
                                   {L"the voltage limit", "VOLT:PROT", L"V"}};

struct ReadingText {
    const char* command;
    const wchar_t* message;
};
const ReadingText kReadings[] = {{"CURR?", L": Getting the current setpoint."},
                                 {"VOLT?", L": Getting the voltage setpoint."},
                                 {"MEAS:CURR?", L": Getting the measured current value."},
                                 {"MEAS:VOLT?", L": Getting the measured voltage value."},
                                 {"OUTP?", L": Getting the output state."}};

}  // namespace

// ---- Set commands ---------------------------------------------------------

AgilentError CAgilentE3633A::SendSetCommand(const std::string& command, bool wait, HANDLE event) {
    // The port calls a no-reply command's handler once it has been written
    // (or the write failed); a close drops it, and the closing event ends
    // the wait then.
    std::shared_ptr<CPendingReply<bool>> written;
    if (wait) {
        written = CPendingReply<bool>::ForWaiter();
        if (!written->Valid()) return AgilentErrorFailed;
    }
    {
        std::lock_guard lock(m_sendMutex);
        if (m_bUnlockQueued) {
            Log().Log(Error, L": Not sending \"", command, L"\": the device is disconnecting.");
            return AgilentErrorCommandFailed;
        }
        if (wait)
            Port().SendCommand(command, "", 0, 0, 0, [written](const char*, int) { written->Complete(true); });
        else
            Port().SendCommand(command, "", 0, 0, 0, {}, event);
    }
    if (wait) Await(*written);
    return AgilentSuccess;
}

AgilentError CAgilentE3633A::SetOutput(AgilentOutput output, bool wait, HANDLE event) {
    if (!InTable(output, kOutputNames)) return AgilentErrorInvalidParameter;
    Log().Log(Debug, L": Setting output to ", kOutputNames[output], L".");
    return SendSetCommand(output == AgilentOutput_On ? "OUTP ON" : "OUTP OFF", wait, event);
}

AgilentError CAgilentE3633A::SetDisplay(AgilentDisplay display, bool wait, HANDLE event) {
    if (!InTable(display, kDisplayNames)) return AgilentErrorInvalidParameter;
    Log().Log(Debug, L": Setting display to ", kDisplayNames[display], L".");
    return SendSetCommand(display == AgilentDisplay_On ? "DISP ON" : "DISP OFF", wait, event);
}

AgilentError CAgilentE3633A::SetDisplayMessage(const char* text, bool wait, HANDLE event) {
    if (!text) return AgilentErrorInvalidParameter;
    // A line break inside the text would end the command and start another.
    const auto quoted = psudll::QuoteScpiString(text);
    if (!quoted) return AgilentErrorInvalidParameter;
    Log().Log(Debug, L": Setting custom display message to \"", text, L"\".");
    return SendSetCommand("DISP:TEXT " + *quoted, wait, event);
}

AgilentError CAgilentE3633A::ClearDisplayMessage(bool wait, HANDLE event) {
    Log().Log(Debug, L": Clearing custom display message.");
    return SendSetCommand("DISP:TEXT:CLE", wait, event);
}

AgilentError CAgilentE3633A::SetVoltageRange(AgilentVoltageRange range, bool wait, HANDLE event) {
    if (!InTable(range, kVoltageRangeNames)) return AgilentErrorInvalidParameter;
    Log().Log(Debug, L": Setting voltage range to ", kVoltageRangeNames[range], L".");
    const bool low = range == AgilentVoltageRange_P8V || range == AgilentVoltageRange_Low;
    return SendSetCommand(low ? "VOLT:RANG P8V" : "VOLT:RANG P20V", wait, event);
}

AgilentError CAgilentE3633A::Set(SetPoint setPoint, double value, bool wait, HANDLE event) {
    const SetPointText& text = kSetPoints[static_cast<int>(setPoint)];
    // "inf" or "nan" would go out as a command the supply cannot read.
    if (!std::isfinite(value)) {
        Log().Log(Error, L": Refusing to set ", text.what, L" to ", replytext::FormatFixedW(value, 3), L".");
        return AgilentErrorInvalidParameter;
    }
    Log().Log(Debug, L": Setting ", text.what, L" to ", replytext::FormatFixedW(value, 3), text.unit, L".");
    return SendSetCommand(std::string(text.command) + " " + replytext::FormatFixed(value, 3), wait, event);
}

AgilentError CAgilentE3633A::ResetOverCurrentProtection(bool wait, HANDLE event) {
    Log().Log(Debug, L": Resetting Over Current Protection.");
    return SendSetCommand("CURR:PROT:CLE", wait, event);
}

AgilentError CAgilentE3633A::ResetOverVoltageProtection(bool wait, HANDLE event) {
    Log().Log(Debug, L": Resetting Over Voltage Protection.");
    return SendSetCommand("VOLT:PROT:CLE", wait, event);
}

// ---- Numeric queries ------------------------------------------------------

void CAgilentE3633A::SendNumericQuery(Reading reading, std::shared_ptr<PendingNumber> reply) {
    const ReadingText& text = kReadings[static_cast<int>(reading)];
    Log().Log(Debug, text.message);
    // The reply travels with its own command, so nothing another query
    // receives can land in it.
    Send(psudll::QueryRequest(text.command), [this](const char* reply, bool timedOut) { return OnNumericReply(reply, timedOut); },
         std::move(reply));
}

CAgilentE3633A::NumericReply CAgilentE3633A::OnNumericReply(const char* text, bool timedOut) {
    const char* reply = text ? text : "";
    if (timedOut) {
        Log().Log(Error, L": Command timed out! Partial response received: \"", reply, L"\".");
    } else if (const auto value = replytext::ReadDouble(reply)) {
        m_dLastValue = *value;
        return {true, *value};
    } else {
        Log().Log(Error, L": Error converting response to double. Response = \"", reply, L"\".");
    }
    return {false, m_dLastValue};
}

AgilentError CAgilentE3633A::Read(Reading reading, double& value) {
    const std::optional<NumericReply> result = Transact<NumericReply>(
        [&](std::shared_ptr<PendingNumber> reply) { SendNumericQuery(reading, std::move(reply)); });
    if (!result || !result->valid) return AgilentErrorCommandFailed;
    value = result->value;
    return AgilentSuccess;
}

AgilentError CAgilentE3633A::Read(Reading reading, AgilentResponseCallback callback) {
    // The callable lives in its request: called once with that request's
    // reply and released with it. An empty one still sends the query.
    PendingNumber::Deliver deliver;
    if (callback)
        deliver = [callback = std::move(callback)](const NumericReply& reply) {
            callback(reply.valid ? 1 : 0, reply.value);
        };
    SendNumericQuery(reading, PendingNumber::ForCallback(std::move(deliver)));
    return AgilentSuccess;
}

