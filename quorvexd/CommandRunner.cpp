// The commands' actions on the instruments.
#include "CommandRunner.h"

#include <PsuDll/PsuDll.h>
#include <QuorvexDll/QuorvexDll.h>
#include <TallyDll/TallyDll.h>

#include <QString>

#include <cmath>
#include <cstdio>

#include "ApertureItems.h"
#include "Radiance.h"
#include "Version.h"
#include "serial/DriverLog.h"

namespace quorvexd {

namespace {

using scpi::CommandId;
using scpi::Instrument;
namespace code = scpi::code;

Outcome Reply(std::string text) { return Outcome{0, {}, std::move(text)}; }
Outcome Fail(int error, std::string detail) { return Outcome{error, std::move(detail), {}}; }

// A library's failure: 5 is a handle the library no longer holds (the
// instrument went), anything else a fault of the instrument.
Outcome LibraryFailure(int result, const char* what) {
    if (result == 5) return Fail(code::kHardwareMissing, std::string(what) + ": the instrument is gone");
    return Fail(code::kHardwareError, std::string(what) + " failed (driver code " + std::to_string(result) + ")");
}

std::string Fixed(double value, int decimals) { return scpi::FormatFixed(value, decimals); }

// A whole number parameter in [low, high].
bool IntegerParameter(const scpi::Parameter& parameter, int low, int high, int& value, Outcome& failure) {
    double number = 0;
    if (parameter.quoted || !scpi::ParseNumber(parameter.text, number) || number != std::floor(number)) {
        failure = Fail(code::kIllegalParameterValue, "\"" + parameter.text + "\" is not a whole number");
        return false;
    }
    if (number < low || number > high) {
        failure = Fail(code::kDataOutOfRange,
                       parameter.text + " is outside " + std::to_string(low) + " to " + std::to_string(high));
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

// Reads the head's position; `then` gets it on the server's thread.
using PositionThen = std::function<Outcome(int primary, int secondary)>;
CInstrumentHub::Work ReadPosition() {
    return [](void* head) {
        int position[2] = {0, 0};
        const int result = Quorvex_GetPosition(head, position);
        if (result != QuorvexSuccess) return LibraryFailure(result, "reading the aperture position");
        return Reply(std::to_string(position[0]) + "," + std::to_string(position[1]));
    };
}
bool SplitPosition(const std::string& reply, int& primary, int& secondary) {
    return std::sscanf(reply.c_str(), "%d,%d", &primary, &secondary) == 2;
}

}  // namespace

CCommandRunner::CCommandRunner(CInstrumentHub& hub, bool readOnly, Log log)
    : m_hub(hub), m_readOnly(readOnly), m_log(std::move(log)) {}

void CCommandRunner::ClientGone(int id) {
    if (m_lockHolder == id) m_lockHolder = 0;
}

void CCommandRunner::Execute(CClientSession& session, const scpi::Command& command,
                             std::function<void(const Outcome&)> complete) {
    const scpi::Match match = scpi::Lookup(command);
    if (!match.spec) return complete(Fail(match.error, match.detail));
    const scpi::CommandSpec& spec = *match.spec;
    if (spec.changes) {
        if (m_readOnly) return complete(Fail(code::kCommandProtected, "the server is read-only"));
        if (m_lockHolder != 0 && m_lockHolder != session.Id())
            return complete(Fail(code::kCommandProtected, "another client holds the control lock"));
        m_log(driverlog::Informational, QString::fromStdString(session.Peer() + ": " + command.text).toStdWString());
    }
    if (!m_hub.Connected(spec.instrument)) {
        static const char* const names[] = {"", "head unit", "power supply", "elapsed-time counter"};
        return complete(Fail(code::kHardwareMissing,
                             std::string("the ") + names[static_cast<int>(spec.instrument)] + " is not connected"));
    }
    Dispatch(session, command, spec.id, complete);
}

void CCommandRunner::Dispatch(CClientSession& session, const scpi::Command& command, CommandId id,
                              const Complete& complete) {
    switch (id) {
        case CommandId::Identify:
            return complete(Reply("Vandrel Scientific Ltd,Quorvex Light Source," + m_hub.HeadSerialNumber() + "," +
                                  QString::fromStdWString(GetFileVersion()).toStdString()));
        case CommandId::ClearStatus:
            session.Errors().Clear();
            return complete(Outcome{});
        case CommandId::OperationComplete:
            return session.AfterOperations([complete] { complete(Reply("1")); });
        case CommandId::Wait:
            return session.AfterOperations([complete] { complete(Outcome{}); });
        case CommandId::ErrorNext: return complete(Reply(session.Errors().Pop()));
        case CommandId::Version: return complete(Reply("1999.0"));
        case CommandId::Connected:
            return complete(Reply(std::string(m_hub.Connected(Instrument::Head) ? "1" : "0") + "," +
                                  (m_hub.Connected(Instrument::Supply) ? "1" : "0") + "," +
                                  (m_hub.Connected(Instrument::Counter) ? "1" : "0")));
        case CommandId::LockRequest:
            if (m_lockHolder == 0 || m_lockHolder == session.Id()) {
                if (m_lockHolder == 0)
                    m_log(driverlog::Informational,
                          QString::fromStdString(session.Peer() + ": took the control lock").toStdWString());
                m_lockHolder = session.Id();
                return complete(Reply("1"));
            }
            return complete(Reply("0"));
        case CommandId::LockRelease:
            if (m_lockHolder == session.Id()) {
                m_lockHolder = 0;
                m_log(driverlog::Informational,
                      QString::fromStdString(session.Peer() + ": released the control lock").toStdWString());
            }
            return complete(Outcome{});
        case CommandId::AperturePosition:
            if (command.query) return m_hub.RunShared(Instrument::Head, "P?", ReadPosition(), complete);
            return Move(session, command, complete);
        case CommandId::ApertureHome:
            m_hub.Operate(
                Instrument::Head,
                [](void* head) {
                    const int result = Quorvex_Home(head, 1, nullptr);
                    return result == QuorvexSuccess ? Outcome{} : LibraryFailure(result, "homing the apertures");
                },
                session.BeginOperation());
            return complete(Outcome{});
        case CommandId::ApertureFactor:
            return m_hub.RunShared(Instrument::Head, "P?", ReadPosition(), [this, complete](const Outcome& position) {
                int p = 0, s = 0;
                if (position.error || !SplitPosition(position.reply, p, s)) return complete(position);
                const double factor = apertureitems::FactorAt(m_hub.Calibration().m_apertureData, p, s);
                if (factor < 0)
                    return complete(Fail(code::kExecutionError, "the calibration has no factor for position " +
                                                                    position.reply));
                complete(Reply(scpi::FormatScientific(factor)));
            });
        case CommandId::Radiance: return Radiance(command, complete);
        case CommandId::Output:
            if (command.query) return complete(Reply(m_hub.LampState() == Lamp::On ? "1" : "0"));
            return Output(session, command, complete);
        case CommandId::OutputRampProgress: return complete(Reply(std::to_string(m_hub.RampPercent())));
        case CommandId::Abort:
            m_hub.AbortRamp();
            return complete(Outcome{});
        case CommandId::MeasureCurrent:
        case CommandId::MeasureVoltage: {
            const bool current = id == CommandId::MeasureCurrent;
            return m_hub.RunShared(Instrument::Supply, current ? "MEAS:CURR?" : "MEAS:VOLT?",
                             [current](void* supply) {
                                 double value = 0;
                                 const int result = current ? Agilent_MeasureCurrent(supply, &value)
                                                            : Agilent_MeasureVoltage(supply, &value);
                                 if (result != AgilentSuccess)
                                     return LibraryFailure(result, current ? "measuring the current" : "measuring the voltage");
                                 return Reply(scpi::FormatScientific(value));
                             },
                             complete);
        }
        case CommandId::MeasureTemperature: return Temperature(command, complete);
        case CommandId::MeasureHours:
            return m_hub.RunShared(Instrument::Counter, "T?",
                             [](void* counter) {
                                 double seconds = 0;
                                 const int result = Etc_GetElapsedTime(counter, &seconds);
                                 if (result != EtcSuccess) return LibraryFailure(result, "reading the lamp hours");
                                 return Reply(Fixed(seconds / 3600.0, 4));
                             },
                             complete);
        case CommandId::MeasureCycles:
            return m_hub.RunShared(Instrument::Counter, "P?",
                             [](void* counter) {
                                 uint32_t cycles = 0;
                                 const int result = Etc_GetPowerCycleCount(counter, &cycles);
                                 if (result != EtcSuccess) return LibraryFailure(result, "reading the power cycles");
                                 return Reply(std::to_string(cycles));
                             },
                             complete);
        case CommandId::CalibrationSpectral:
            if (m_hub.Calibration().m_spectralData.empty())
                return complete(Fail(code::kExecutionError, "there is no spectral calibration"));
            return complete(Reply(CalibrationSpectral()));
        case CommandId::CalibrationAperture:
            if (m_hub.Calibration().m_apertureData.empty())
                return complete(Fail(code::kExecutionError, "there is no aperture calibration"));
            return complete(Reply(CalibrationAperture()));
        case CommandId::CalibrationSerial:
            return complete(Reply(std::to_string(m_hub.Calibration().m_nSerialNumber)));
        case CommandId::CalibrationDownload:
            m_hub.DownloadCalibration(session.BeginOperation());
            return complete(Outcome{});
        case CommandId::DisplayText:
        case CommandId::DisplayClear: return Display(command, complete);
    }
}

void CCommandRunner::Move(CClientSession& session, const scpi::Command& command, const Complete& complete) {
    int primary = 0, secondary = 0;
    Outcome failure;
    if (!IntegerParameter(command.parameters[0], 0, 2, primary, failure) ||
        !IntegerParameter(command.parameters[1], 0, 11, secondary, failure))
        return complete(failure);
    m_hub.Operate(
        Instrument::Head,
        [primary, secondary](void* head) {
            const int result = Quorvex_SetPosition(head, static_cast<unsigned>(primary),
                                                   static_cast<unsigned>(secondary), 1, nullptr);
            return result == QuorvexSuccess ? Outcome{} : LibraryFailure(result, "moving the apertures");
        },
        session.BeginOperation());
    complete(Outcome{});
}

void CCommandRunner::Radiance(const scpi::Command& command, const Complete& complete) {
    double wavelength = 0;
    const scpi::Parameter& parameter = command.parameters[0];
    if (parameter.quoted || !scpi::ParseNumber(parameter.text, wavelength))
        return complete(Fail(code::kIllegalParameterValue, "\"" + parameter.text + "\" is not a wavelength in nm"));
    const auto& table = m_hub.Calibration().m_spectralData;
    const auto range = radiance::Range(table);
    if (!range) return complete(Fail(code::kExecutionError, "there is no spectral calibration"));
    const std::optional<double> radiance = radiance::TableRadiance(table, wavelength);
    if (!radiance)
        return complete(Fail(code::kDataOutOfRange, "the calibration covers " + Fixed(range->first, 1) + " to " +
                                                        Fixed(range->second, 1) + " nm"));
    m_hub.RunShared(Instrument::Head, "P?", ReadPosition(), [this, complete, value = *radiance](const Outcome& position) {
        int p = 0, s = 0;
        if (position.error || !SplitPosition(position.reply, p, s)) return complete(position);
        const double factor = apertureitems::FactorAt(m_hub.Calibration().m_apertureData, p, s);
        if (factor < 0)
            return complete(Fail(code::kExecutionError, "the calibration has no factor for position " + position.reply));
        complete(Reply(scpi::FormatScientific(value * factor / 100.0)));
    });
}

void CCommandRunner::Temperature(const scpi::Command& command, const Complete& complete) {
    // The head's own order of its sensors, and the index of each in the
    // library's array.
    static const struct {
        const char* shortForm;
        const char* longForm;
        int index;
    } sensors[] = {{"MOT", "MOTOR", 3}, {"BULB", "BULB", 2}, {"PRIM", "PRIMARY", 0}, {"SEC", "SECONDARY", 1}};
    int only = -1;
    if (!command.parameters.empty()) {
        const QString name = QString::fromStdString(command.parameters[0].text).toUpper();
        for (const auto& sensor : sensors)
            if (!command.parameters[0].quoted && (name == sensor.shortForm || name == sensor.longForm))
                only = sensor.index;
        if (only < 0)
            return complete(Fail(code::kIllegalParameterValue, "the sensors are BULB, MOTor, PRIMary and SECondary"));
    }
    m_hub.RunShared(Instrument::Head, "T?" + std::to_string(only),
              [only](void* head) {
                  double t[4] = {0, 0, 0, 0};
                  const int result = Quorvex_GetTemperature(head, t);
                  if (result != QuorvexSuccess) return LibraryFailure(result, "reading the temperatures");
                  if (only >= 0) return Reply(Fixed(t[only], 2));
                  std::string text;
                  for (const auto& sensor : sensors) text += (text.empty() ? "" : ",") + Fixed(t[sensor.index], 2);
                  return Reply(text);
              },
              complete);
}

void CCommandRunner::Output(CClientSession& session, const scpi::Command& command, const Complete& complete) {
    const scpi::Parameter& parameter = command.parameters[0];
    const QString value = QString::fromStdString(parameter.text).toUpper();
    bool up = false;
    if (!parameter.quoted && (value == "ON" || value == "1"))
        up = true;
    else if (parameter.quoted || (value != "OFF" && value != "0"))
        return complete(Fail(code::kIllegalParameterValue, "OUTPut takes ON, OFF, 1 or 0"));
    if (up && m_hub.LampState() != Lamp::Off)
        return complete(Fail(code::kExecutionError, "the lamp is lit or ramping: ramp it down first"));
    m_hub.Ramp(up, session.BeginOperation());
    complete(Outcome{});
}

void CCommandRunner::Display(const scpi::Command& command, const Complete& complete) {
    std::string text;
    if (!command.parameters.empty()) {
        text = command.parameters[0].text;
        for (char c : text)
            if (c < 0x20 || c > 0x7e || c == '"')
                return complete(Fail(code::kIllegalParameterValue,
                                     "the display shows printable ASCII characters other than '\"' only"));
    }
    const bool clear = command.parameters.empty();
    m_hub.Run(Instrument::Supply,
              [clear, text](void* supply) {
                  const int result = clear ? Agilent_ClearDisplayMessage(supply, 1, nullptr)
                                           : Agilent_SetDisplayMessage(supply, text.c_str(), 1, nullptr);
                  return result == AgilentSuccess ? Outcome{} : LibraryFailure(result, "setting the display");
              },
              complete);
}

std::string CCommandRunner::CalibrationSpectral() const {
    std::string text;
    for (const CSpectralData& point : m_hub.Calibration().m_spectralData)
        text += (text.empty() ? "" : ",") + Fixed(point.m_dWavelength, 2) + "," +
                scpi::FormatScientific(point.m_dRadiance);
    return text;
}

std::string CCommandRunner::CalibrationAperture() const {
    std::string text;
    for (const CApertureData& entry : m_hub.Calibration().m_apertureData)
        text += (text.empty() ? "" : ",") + std::to_string(entry.m_nPrimaryPosition) + "," +
                std::to_string(entry.m_nSecondaryPosition) + "," + scpi::FormatScientific(entry.m_dAttenuationFactor);
    return text;
}

}  // namespace quorvexd
