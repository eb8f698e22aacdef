// The texts of the main window's status panes and notice bar, apart from
// any widget. Pure functions, callable from any thread.
#pragma once

#include <string>

namespace statustexts {

inline constexpr const char* kDisconnected = "Disconnected";
inline constexpr const char* kConnecting = "Connecting\u2026";
inline constexpr const char* kDisconnecting = "Disconnecting\u2026";

enum class Lamp { Off, On, Error };

// "Connected to Vandrel QUORVEX S/N 10427".
std::string Connected(const std::string& model, const std::string& serialNumber);
// "Lamp: OFF", "Lamp: ON", "Lamp: ERROR".
std::string LampText(Lamp lamp);
// "Lamp Hours: 1.00" for 3600 s; "Lamp Hours: \u2014" without a value.
std::string LampHours(bool valid, double seconds);
// "Bulb Temperature: 41.3 \u00B0C"; "Bulb Temperature: \u2013 \u00B0C" without a value.
std::string BulbTemperature(bool valid, double celsius);
// The notice bar's text for the calibration tables' state; empty when both
// tables hold data (the bar is hidden then).
std::string Notice(bool apertureTableEmpty, bool spectralTableEmpty, bool connected);

}  // namespace statustexts
