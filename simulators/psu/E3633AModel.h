// The state of a simulated E3633A supply feeding a lamp: set points,
// protection levels and their trips, output, display and remote/local state,
// and what a resistive lamp load draws. Plain data with rules, no I/O and no
// locking; the simulator guards it.
#pragma once

#include <string>

namespace sim {

// What the supply delivers into the lamp.
struct PsuOutput {
    bool on = false;  // output switched on and not tripped
    double amps = 0.0;
    double volts = 0.0;
};

class CE3633AModel {
public:
    // The power-on state (*RST): output off, set points 0, protection at its
    // maximum, display on, no text, local control, 20 V range.
    void Reset();

    void SetCurrent(double amps);
    void SetVoltage(double volts);
    void SetCurrentLimit(double amps);
    void SetVoltageLimit(double volts);
    void SetCurrentProtectionEnabled(bool enabled);
    // Clearing a trip brings the output back, unless its cause is still
    // there, in which case it trips again at once.
    void ClearCurrentTrip();
    void ClearVoltageTrip();
    void SetOutput(bool on);
    void SetDisplay(bool on) { m_displayOn = on; }
    void SetDisplayText(std::string text) { m_displayText = std::move(text), m_textShown = true; }
    void ClearDisplayText() { m_displayText.clear(), m_textShown = false; }
    void SetRemoteLocked(bool locked) { m_remoteLocked = locked; }
    void SetLowRange(bool low) { m_lowRange = low; }
    // The lamp filament as a fixed resistance.
    void SetLoadResistance(double ohms);

    double CurrentSetPoint() const { return m_current; }
    double VoltageSetPoint() const { return m_voltage; }
    double CurrentLimit() const { return m_currentLimit; }
    double VoltageLimit() const { return m_voltageLimit; }
    bool CurrentProtectionEnabled() const { return m_ocpEnabled; }
    bool CurrentTripped() const { return m_ocpTripped; }
    bool VoltageTripped() const { return m_ovpTripped; }
    bool OutputEnabled() const { return m_outputOn; }
    bool DisplayOn() const { return m_displayOn; }
    const std::string& DisplayText() const { return m_displayText; }
    bool DisplayTextShown() const { return m_textShown; }
    bool RemoteLocked() const { return m_remoteLocked; }
    bool LowRange() const { return m_lowRange; }

    // Constant current up to the voltage set point, then constant voltage;
    // nothing with the output off or tripped.
    PsuOutput Output() const;

private:
    // What the output would be with the trips ignored.
    PsuOutput Unprotected() const;
    void CheckProtection();

    double m_current = 0.0;
    double m_voltage = 0.0;
    double m_currentLimit = kMaxProtection;
    double m_voltageLimit = kMaxProtection;
    bool m_ocpEnabled = true;
    bool m_ocpTripped = false;
    bool m_ovpTripped = false;
    bool m_outputOn = false;
    bool m_displayOn = true;
    std::string m_displayText;
    bool m_textShown = false;
    bool m_remoteLocked = false;
    bool m_lowRange = false;
    double m_loadOhms = 1.5;

    static constexpr double kMaxProtection = 22.0;
};

}  // namespace sim
