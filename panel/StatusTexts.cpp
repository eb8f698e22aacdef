// Status pane and notice texts.
#include "StatusTexts.h"

#include "DisplayUnits.h"

namespace statustexts {

std::string Connected(const std::string& model, const std::string& serialNumber) {
    return "Connected to Vandrel " + model + " S/N " + serialNumber;
}

std::string LampText(Lamp lamp) {
    switch (lamp) {
        case Lamp::On: return "Lamp: ON";
        case Lamp::Error: return "Lamp: ERROR";
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
