// The texts of the main window's status panes and notice bar, apart from
// any widget. Pure functions, callable from any thread.
#pragma once

#include <string>

namespace statustexts {

inline constexpr const char* kDisconnected = "Disconnected";
inline constexpr const char* kConnecting = "Connecting\u2026";
inline constexpr const char* kDisconnecting = "Disconnecting\u2026";

// Unknown: the supply was lost while the lamp was lit or ramping, so what
// it does now is not known.
enum class Lamp { Off, On, Error, Unknown };

enum class Instrument { Head, Supply, Counter };

// Why an instrument could not be connected, in the words of the settings
// sheet's port list.
enum class ConnectFailure { NotPresent, InUse, NoPermission, NoAnswer };

// "Connected to Vandrel QUORVEX S/N 10427".
std::string Connected(const std::string& model, const std::string& serialNumber);
// "head unit", "power supply", "elapsed-time counter".
std::string InstrumentName(Instrument instrument);
// "Could not connect to the power supply on COM2: no answer."
std::string ConnectFailed(Instrument instrument, int port, ConnectFailure reason);
// The connection pane after a loss: "Lost the connection to the head unit on COM1".
std::string Lost(Instrument instrument, int port);
// "Lamp: OFF", "Lamp: ON", "Lamp: ERROR", "Lamp: UNKNOWN".
std::string LampText(Lamp lamp);
// "Lamp Hours: 1.00" for 3600 s; "Lamp Hours: \u2014" without a value.
std::string LampHours(bool valid, double seconds);
// "Bulb Temperature: 41.3 \u00B0C"; "Bulb Temperature: \u2013 \u00B0C" without a value.
std::string BulbTemperature(bool valid, double celsius);
// The notice bar's text for the calibration tables' state; empty when both
// tables hold data (the bar is hidden then).
std::string Notice(bool apertureTableEmpty, bool spectralTableEmpty, bool connected);

}  // namespace statustexts
