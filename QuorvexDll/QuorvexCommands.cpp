// CQuorvex: homing, moves, position, temperatures and parameters, in their
// blocking, event and callback forms.
#include "Quorvex.h"

#include "TextScan.h"

#include <platform/text.h>

using driverlog::Debug;
using driverlog::Error;

namespace {
// How long a home or a move may take after it was acknowledged.
constexpr DWORD kMotionTimeoutMs = 20000;
}  // namespace

QuorvexError CQuorvex::StartWorker(std::function<void(CQuorvex&)> work, const wchar_t* failureMessage) {
    if (m_workers.Start([self = shared_from_this(), work = std::move(work)] { work(*self); }))
        return QuorvexSuccess;
    m_log.Log(Error, failureMessage);
    return QuorvexErrorThreadFailed;
}

QuorvexError CQuorvex::RunAction(const std::string& command, bool wait, HANDLE event,
                                 quorvex::CNotificationSlot& slot, QuorvexError timeoutError,
                                 const wchar_t* timeoutMessage) {
    if (!wait) {
        // The caller's event (or none) hears of the notification; the
        // acknowledgement is only logged, so no event is made for it.
        slot.Arm(event);
        SendToHead(command, [this](const char* text, int timedOut) { OnAcknowledge(text, timedOut); });
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
    HANDLE handles[2] = {complete.Get(), m_closingEvent.Get()};
    const DWORD result = WaitForMultipleObjects(m_closingEvent ? 2 : 1, handles, FALSE, kMotionTimeoutMs);
    slot.Disarm(complete.Get());
    if (result != WAIT_OBJECT_0) {
        m_log.Log(Error, timeoutMessage);
        return timeoutError;
    }
    return QuorvexSuccess;
}

QuorvexError CQuorvex::Home(bool wait, HANDLE event) {
    m_log.Log(Debug, L": Starting a homing routine.");
    return RunAction("H!", wait, event, m_homeComplete, QuorvexErrorHomeTimeout,
                     L": No home complete response received.");
}

QuorvexError CQuorvex::SetPosition(unsigned primary, unsigned secondary, bool wait, HANDLE event) {
    m_log.Log(Debug, L": Moving aperture wheels to (", primary, L",", secondary, L").");
    return RunAction(platform::Format("P(%u,%u)", primary, secondary), wait, event, m_moveComplete,
                     QuorvexErrorMoveTimeout, L": No move complete response received.");
}

// ---- Position ------------------------------------------------------------

CQuorvex::PositionReading CQuorvex::OnPosition(const char* text, int timedOut) {
    PositionReading reading;
    if (timedOut) {
        m_log.Log(Error, L": Get position command timed out! Partial response received: \"", text, L"\".");
        return reading;
    }
    if (quorvex::ScanInts(text, reading.position, 2) == 2) {
        reading.valid = true;
        std::lock_guard lock(m_mutexState);
        m_nPosition[0] = reading.position[0];
        m_nPosition[1] = reading.position[1];
    } else {
        m_log.Log(Error, L": GetPosition response parsing failed. Response = \"", text, L"\".");
    }
    return reading;
}

CQuorvex::PositionReading CQuorvex::ReadPosition() {
    return AskHead<PositionReading>(
        "P?", [this](const char* text, int timedOut) { return OnPosition(text, timedOut); },
        PositionReading{});
}

QuorvexError CQuorvex::GetPosition(int* position) {
    const PositionReading reading = ReadPosition();
    if (!reading.valid) {
        m_log.Log(Error, L": GetPosition command received an invalid response.");
        return QuorvexErrorCommandFailed;
    }
    position[0] = reading.position[0];
    position[1] = reading.position[1];
    return QuorvexSuccess;
}

void CQuorvex::GetPositionThread(QuorvexPositionCallback callback, HANDLE event) {
    const PositionReading reading = ReadPosition();
    if (!reading.valid) m_log.Log(Error, L": GetPosition command received an invalid response.");
    int last[2];
    {
        std::lock_guard lock(m_mutexState);
        last[0] = m_nPosition[0];
        last[1] = m_nPosition[1];
    }
    if (callback) callback(reading.valid ? 1 : 0, last[0], last[1]);
    callback = nullptr;
    if (event) SetEvent(event);
}

QuorvexError CQuorvex::GetPositionCallback(QuorvexPositionCallback callback, HANDLE event) {
    return StartWorker(
        [callback = std::move(callback), event](CQuorvex& self) mutable {
            self.GetPositionThread(std::move(callback), event);
        },
        L": Failed to create the GetPositionThread worker thread.");
}

// ---- Temperatures --------------------------------------------------------

CQuorvex::TemperatureReading CQuorvex::OnTemperature(const char* text, int timedOut) {
    TemperatureReading reading;
    if (timedOut) {
        m_log.Log(Error, L": Get Temperature command timed out! Partial response received: \"", text, L"\".");
        return reading;
    }
    // Wire order: motor enclosure, bulb enclosure, primary motor, secondary
    // motor. Kept as primary, secondary, bulb, motor enclosure.
    double wire[4];
    if (quorvex::ScanDoubles(text, wire, 4) == 4) {
        reading.valid = true;
        reading.temperatures = {wire[2], wire[3], wire[1], wire[0]};
        std::lock_guard lock(m_mutexState);
        m_dTemperatures = reading.temperatures;
    } else {
        m_log.Log(Error, L": GetTemperature response parsing failed. Response = \"", text, L"\".");
    }
    return reading;
}

CQuorvex::TemperatureReading CQuorvex::ReadTemperatures() {
    return AskHead<TemperatureReading>(
        "T?", [this](const char* text, int timedOut) { return OnTemperature(text, timedOut); },
        TemperatureReading{});
}

QuorvexError CQuorvex::GetTemperature(double* temperatures) {
    const TemperatureReading reading = ReadTemperatures();
    if (!reading.valid) {
        m_log.Log(Error, L": GetTemperature command received an invalid response.");
        return QuorvexErrorCommandFailed;
    }
    for (size_t i = 0; i < 4; ++i) temperatures[i] = reading.temperatures[i];
    return QuorvexSuccess;
}

void CQuorvex::GetTemperatureThread(QuorvexTemperatureCallback callback, HANDLE event) {
    const TemperatureReading reading = ReadTemperatures();
    if (!reading.valid) m_log.Log(Error, L": GetTemperature command received an invalid response.");
    std::array<double, 4> last;
    {
        std::lock_guard lock(m_mutexState);
        last = m_dTemperatures;
    }
    if (callback) callback(reading.valid ? 1 : 0, last[0], last[1], last[2], last[3]);
    callback = nullptr;
    if (event) SetEvent(event);
}

QuorvexError CQuorvex::GetTemperatureCallback(QuorvexTemperatureCallback callback, HANDLE event) {
    return StartWorker(
        [callback = std::move(callback), event](CQuorvex& self) mutable {
            self.GetTemperatureThread(std::move(callback), event);
        },
        L": Failed to create the GetTemperatureThread worker thread.");
}

// ---- Parameters ----------------------------------------------------------

QuorvexError CQuorvex::SetParameter(unsigned number, int value, bool wait) {
    m_log.Log(Debug, L": Setting parameter ", number, L" to ", value, L".");
    const std::string command = platform::Format("C%u(%d)", number, value);
    if (!wait) {
        SendToHead(command, [this](const char* text, int timedOut) { OnAcknowledge(text, timedOut); });
        return QuorvexSuccess;
    }
    return SendAcknowledged(command) == AckEnd::Acknowledged ? QuorvexSuccess : QuorvexErrorCommandFailed;
}

CQuorvex::ParameterReading CQuorvex::OnParameter(const char* text, int timedOut) {
    ParameterReading reading;
    if (timedOut) {
        m_log.Log(Error, L": GetParameter command timed out! Partial response received: \"", text, L"\".");
        return reading;
    }
    if (quorvex::ScanInts(text, &reading.value, 1) == 1) {
        reading.valid = true;
        std::lock_guard lock(m_mutexState);
        m_nParameterValue = reading.value;
    } else {
        m_log.Log(Error, L": GetParameter response parsing failed. Response = \"", text, L"\".");
    }
    return reading;
}

CQuorvex::ParameterReading CQuorvex::ReadParameter(unsigned parameter) {
    m_log.Log(Debug, L": Getting parameter ", parameter, L".");
    return AskHead<ParameterReading>(
        platform::Format("C%u?", parameter),
        [this](const char* text, int timedOut) { return OnParameter(text, timedOut); },
        ParameterReading{});
}

QuorvexError CQuorvex::GetParameter(unsigned number, int* value) {
    const ParameterReading reading = ReadParameter(number);
    if (!reading.valid) {
        m_log.Log(Error, L": GetParameter command received an invalid response.");
        return QuorvexErrorCommandFailed;
    }
    *value = reading.value;
    return QuorvexSuccess;
}

void CQuorvex::GetParameterThread(unsigned parameter, QuorvexParameterCallback callback, HANDLE event) {
    const ParameterReading reading = ReadParameter(parameter);
    if (!reading.valid) m_log.Log(Error, L": GetParameter command received an invalid response.");
    int last;
    {
        std::lock_guard lock(m_mutexState);
        last = m_nParameterValue;
    }
    if (callback) callback(reading.valid ? 1 : 0, last);
    callback = nullptr;
    if (event) SetEvent(event);
}

QuorvexError CQuorvex::GetParameterCallback(unsigned number, QuorvexParameterCallback callback,
                                            HANDLE event) {
    return StartWorker(
        [number, callback = std::move(callback), event](CQuorvex& self) mutable {
            self.GetParameterThread(number, std::move(callback), event);
        },
        L": Failed to create the GetParameterThread worker thread.");
}
