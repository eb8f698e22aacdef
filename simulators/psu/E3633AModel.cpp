// The simulated E3633A's state and lamp load (see E3633AModel.h).
#include "E3633AModel.h"

#include <algorithm>

namespace sim {

void CE3633AModel::Reset() {
    const double ohms = m_loadOhms;
    *this = CE3633AModel();
    m_loadOhms = ohms;
}

void CE3633AModel::SetCurrent(double amps) {
    m_current = std::max(0.0, amps);
    CheckProtection();
}

void CE3633AModel::SetVoltage(double volts) {
    m_voltage = std::max(0.0, volts);
    CheckProtection();
}

void CE3633AModel::SetCurrentLimit(double amps) {
    m_currentLimit = amps;
    CheckProtection();
}

void CE3633AModel::SetVoltageLimit(double volts) {
    m_voltageLimit = volts;
    CheckProtection();
}

void CE3633AModel::SetCurrentProtectionEnabled(bool enabled) {
    m_ocpEnabled = enabled;
    CheckProtection();
}

void CE3633AModel::ClearCurrentTrip() {
    m_ocpTripped = false;
    CheckProtection();
}

void CE3633AModel::ClearVoltageTrip() {
    m_ovpTripped = false;
    CheckProtection();
}

void CE3633AModel::SetOutput(bool on) {
    m_outputOn = on;
    CheckProtection();
}

void CE3633AModel::SetLoadResistance(double ohms) {
    if (ohms > 0.0) m_loadOhms = ohms;
    CheckProtection();
}

PsuOutput CE3633AModel::Unprotected() const {
    PsuOutput out;
    if (!m_outputOn) return out;
    out.on = true;
    if (m_current * m_loadOhms <= m_voltage) {
        out.amps = m_current;  // constant current
        out.volts = m_current * m_loadOhms;
    } else {
        out.volts = m_voltage;  // constant voltage: the load limits the current
        out.amps = m_voltage / m_loadOhms;
    }
    return out;
}

PsuOutput CE3633AModel::Output() const {
    if (m_ocpTripped || m_ovpTripped) return {};
    return Unprotected();
}

void CE3633AModel::CheckProtection() {
    if (m_ocpTripped || m_ovpTripped) return;  // the output is already off
    const PsuOutput out = Unprotected();
    if (out.volts > m_voltageLimit) m_ovpTripped = true;
    if (m_ocpEnabled && out.amps > m_currentLimit) m_ocpTripped = true;
}

}  // namespace sim
