// CQuorvex: homing, moves, position, temperatures and parameters, in their
// blocking, event and callback forms.
#include "Quorvex.h"

#include <platform/text.h>
#include <serial/ReplyText.h>

#include <algorithm>

using driverlog::Debug;
using driverlog::Error;

namespace {

// How long a home or a move may take after it was acknowledged.
constexpr DWORD kMotionTimeoutMs = 20000;

// Replies of comma-separated integers, all of which must convert.
template <size_t N>
bool ScanAllInts(const char* text, std::array<int, N>& values) {
    return replytext::ScanInts(text, values.data(), static_cast<int>(N)) == static_cast<int>(N);
}

// The blocking forms write their output only for a valid reading.
template <typename T, size_t N>
QuorvexError CopyOut(const std::array<T, N>& values, bool valid, T* out) {
    if (!valid) return QuorvexErrorCommandFailed;
    std::copy(values.begin(), values.end(), out);
    return QuorvexSuccess;
}

}  // namespace

// ---- Actions ---------------------------------------------------------------

QuorvexError CQuorvex::RunAction(const std::string& command, bool wait, HANDLE event,
                                 quorvexdll::CNotificationSlot& slot, QuorvexError timeoutError,
                                 const wchar_t* timeoutMessage) {
    if (!wait) {
        // The caller's event (or none) hears of the notification; the
        // acknowledgement is only logged, so no event is made for it.
        slot.Arm(event);
        SendToHead(command, [this](const char* text, int timedOut) { OnAcknowledge(text, timedOut != 0); });
        return QuorvexSuccess;
    }

    const platform::COwnedHandle complete = platform::COwnedHandle::NewEvent();
    if (!complete) return QuorvexErrorCommandFailed;
    // Armed before the command goes out: the notification follows the
    // acknowledgement on the wire and must find the event. Disarmed before
    // the event is closed, so the slot never signals a closed handle.
    slot.Arm(complete.Get());
    if (SendAcknowledged(command) != AckEnd::Acknowledged) {
        slot.Disarm(complete.Get());
        return QuorvexErrorCommandFailed;
    }
    HANDLE handles[2] = {complete.Get(), ClosingEvent()};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, kMotionTimeoutMs);
    slot.Disarm(complete.Get());
    if (result != WAIT_OBJECT_0) {
        Log().Log(Error, timeoutMessage);
        return timeoutError;
    }
    return QuorvexSuccess;
}

QuorvexError CQuorvex::Home(bool wait, HANDLE event) {
    Log().Log(Debug, L": Starting a homing routine.");
    return RunAction("H!", wait, event, m_homeComplete, QuorvexErrorHomeTimeout,
                     L": No home complete response received.");
}

QuorvexError CQuorvex::SetPosition(unsigned primary, unsigned secondary, bool wait, HANDLE event) {
    Log().Log(Debug, L": Moving aperture wheels to (", primary, L",", secondary, L").");
    return RunAction(platform::Format("P(%u,%u)", primary, secondary), wait, event, m_moveComplete,
                     QuorvexErrorMoveTimeout, L": No move complete response received.");
}

QuorvexError CQuorvex::SetParameter(unsigned number, int value, bool wait) {
    Log().Log(Debug, L": Setting parameter ", number, L" to ", value, L".");
    const std::string command = platform::Format("C%u(%d)", number, value);
    if (!wait) {
        SendToHead(command, [this](const char* text, int timedOut) { OnAcknowledge(text, timedOut != 0); });
        return QuorvexSuccess;
    }
    return SendAcknowledged(command) == AckEnd::Acknowledged ? QuorvexSuccess : QuorvexErrorCommandFailed;
}

// ---- Reads -----------------------------------------------------------------

template <typename Values, typename Scan>
CQuorvex::Reading<Values> CQuorvex::Read(const std::string& command, ReadFamily family, Values& last, Scan scan) {
    const std::optional<Reading<Values>> reply = Ask(
        HeadRequest(command), [this, family, scan](const char* text, bool timedOut) {
            Reading<Values> reading;
            if (timedOut) {
                Log().Log(Error, L": ", family.timeoutName, L" command timed out! Partial response received: \"",
                          text, L"\".");
            } else if (scan(text, reading.values)) {
                reading.valid = true;
            } else {
                Log().Log(Error, L": ", family.name, L" response parsing failed. Response = \"", text, L"\".");
            }
            return reading;
        });
    Reading<Values> reading = reply.value_or(Reading<Values>{});
    if (!reading.valid) Log().Log(Error, L": ", family.name, L" command received an invalid response.");
    std::lock_guard lock(m_stateMutex);
    if (reading.valid) {
        last = reading.values;
    } else {
        reading.values = last;
    }
    return reading;
}

CQuorvex::PositionReading CQuorvex::ReadPosition() {
    return Read("P?", {L"GetPosition", L"Get position"}, m_nLastPosition, ScanAllInts<2>);
}

CQuorvex::TemperatureReading CQuorvex::ReadTemperatures() {
    return Read("T?", {L"GetTemperature", L"Get Temperature"}, m_dLastTemperatures,
                [](const char* text, std::array<double, 4>& values) {
                    // Wire order: motor enclosure, bulb enclosure, primary
                    // motor, secondary motor.
                    double wire[4];
                    if (replytext::ScanDoubles(text, wire, 4) != 4) return false;
                    values = {wire[2], wire[3], wire[1], wire[0]};
                    return true;
                });
}

CQuorvex::ParameterReading CQuorvex::ReadParameter(unsigned number) {
    Log().Log(Debug, L": Getting parameter ", number, L".");
    return Read(platform::Format("C%u?", number), {L"GetParameter", L"GetParameter"}, m_nLastParameter,
                ScanAllInts<1>);
}

QuorvexError CQuorvex::GetPosition(int* position) {
    const PositionReading reading = ReadPosition();
    return CopyOut(reading.values, reading.valid, position);
}

QuorvexError CQuorvex::GetTemperature(double* temperatures) {
    const TemperatureReading reading = ReadTemperatures();
    return CopyOut(reading.values, reading.valid, temperatures);
}

QuorvexError CQuorvex::GetParameter(unsigned number, int* value) {
    const ParameterReading reading = ReadParameter(number);
    return CopyOut(reading.values, reading.valid, value);
}

// ---- Callback reads ----------------------------------------------------------

template <typename Result>
QuorvexError CQuorvex::StartCallbackRead(std::function<Result()> read,
                                         typename driver::CPendingReply<Result>::Deliver deliver, HANDLE event,
                                         const wchar_t* family) {
    // The reply record calls the callable and then signals the caller's
    // event, both on the worker once the reply handler is done with it; the
    // callable is released before the event is signalled.
    auto reply = driver::CPendingReply<Result>::ForCallback(std::move(deliver), event);
    if (Workers().Start([reply, read = std::move(read)] { reply->Complete(read()); })) return QuorvexSuccess;
    Log().Log(Error, L": Failed to create the ", family, L"Thread worker thread.");
    return QuorvexErrorThreadFailed;
}

QuorvexError CQuorvex::GetPositionCallback(QuorvexPositionCallback callback, HANDLE event) {
    return StartCallbackRead<PositionReading>(
        [this] { return ReadPosition(); },
        [callback = std::move(callback)](const PositionReading& reading) {
            if (callback) callback(reading.valid, reading.values[0], reading.values[1]);
        },
        event, L"GetPosition");
}

QuorvexError CQuorvex::GetTemperatureCallback(QuorvexTemperatureCallback callback, HANDLE event) {
    return StartCallbackRead<TemperatureReading>(
        [this] { return ReadTemperatures(); },
        [callback = std::move(callback)](const TemperatureReading& reading) {
            const auto& t = reading.values;
            if (callback) callback(reading.valid, t[0], t[1], t[2], t[3]);
        },
        event, L"GetTemperature");
}

QuorvexError CQuorvex::GetParameterCallback(unsigned number, QuorvexParameterCallback callback, HANDLE event) {
    return StartCallbackRead<ParameterReading>(
        [this, number] { return ReadParameter(number); },
        [callback = std::move(callback)](const ParameterReading& reading) {
            if (callback) callback(reading.valid, reading.values[0]);
        },
        event, L"GetParameter");
}
