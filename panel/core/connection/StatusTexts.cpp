// Status pane and notice texts.
#include "StatusTexts.h"

#include "DisplayUnits.h"

namespace statustexts {

std::string Connected(const std::string& model, const std::string& serialNumber) {
    return "Connected to Vandrel " + model + " S/N " + serialNumber;
}

std::string InstrumentName(Instrument instrument) {
    switch (instrument) {
        case Instrument::Supply: return "power supply";
        case Instrument::Counter: return "elapsed-time counter";
        case Instrument::Head: break;
    }
    return "head unit";
}

std::string ConnectFailed(Instrument instrument, int port, ConnectFailure reason) {
    const char* why = "no answer";
    switch (reason) {
        case ConnectFailure::NotPresent: why = "not present"; break;
        case ConnectFailure::InUse: why = "in use"; break;
        case ConnectFailure::NoPermission: why = "no permission: add your user to the dialout group"; break;
        case ConnectFailure::NoAnswer: break;
    }
    return "Could not connect to the " + InstrumentName(instrument) + " on COM" + std::to_string(port) + ": " +
           why + ".";
}

std::string Lost(Instrument instrument, int port) {
    return "Lost the connection to the " + InstrumentName(instrument) + " on COM" + std::to_string(port);
}

std::string LampText(Lamp lamp) {
    switch (lamp) {
        case Lamp::On: return "Lamp: ON";
        case Lamp::Error: return "Lamp: ERROR";
        case Lamp::Unknown: return "Lamp: UNKNOWN";
        case Lamp::Off: break;
    }
    return "Lamp: OFF";
}

std::string LampHours(bool valid, double seconds) {
    return valid ? "Lamp Hours: " + displayunits::Format("%.2f", seconds / 3600.0) : "Lamp Hours: \u2014";
}

std::string BulbTemperature(bool valid, double celsius) {
    return valid ? "Bulb Temperature: " + displayunits::Format("%.1f", celsius) + " \u00B0C"
                 : "Bulb Temperature: \u2013 \u00B0C";
}

std::string Notice(bool apertureEmpty, bool spectralEmpty, bool connected) {
    if (!apertureEmpty && !spectralEmpty) return {};
    if (!apertureEmpty) return "No spectral calibration data found in Quorvex.";
    if (!spectralEmpty) return "No aperture calibration data found in Quorvex.";
    return connected ? "No calibration data found in Quorvex. Please upload the calibration data using the "
                       "upload button."
                     : "No calibration data found. Connect to the Quorvex to download the calibration data.";
}

}  // namespace statustexts
