// The enabling rules of the main window's commands.
#include "CommandRules.h"

namespace commandrules {

Enabled Decide(const Inputs& in) {
    const bool idle = !in.sequenceRunning && !in.uploadRunning;
    // A lamp that reads as an error, or that was lost while lit, offers no
    // ramp: neither direction is known to be the right one.
    const bool lampKnown = in.connected && in.lamp != statustexts::Lamp::Error &&
                           in.lamp != statustexts::Lamp::Unknown;
    const bool instruments = idle && in.connected;

    Enabled out;
    out.setup = true;
    out.about = true;
    out.connect = idle && in.portsConfigured && !in.connected;
    out.disconnect = idle && in.portsConfigured && in.connected;
    out.rampUp = idle && lampKnown && !in.rampedUp;
    out.rampDown = idle && lampKnown && in.rampedUp;
    out.upload = instruments;
    out.download = instruments;
    out.exportData = instruments;
    out.information = instruments;
    out.viewPicks = instruments;
    return out;
}

bool PortsConfigured(const CAppSettings& settings) {
    return settings.m_quorvexSerialSettings.port >= 1 && settings.m_agilentSerialSettings.port >= 1 &&
           settings.m_etcSerialSettings.port >= 1;
}

}  // namespace commandrules
