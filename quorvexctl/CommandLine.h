// quorvexctl's command line: the subcommand, its operands and the options,
// checked before any instrument is touched, and the help text that explains
// them.
//
// Pure functions on the main thread; a bad command line throws CFailure
// with kExitBadArgument and a one-line reason.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvexctl {

enum class Command { Help, Ports, Identify, Status, RampUp, RampDown, Move, Home,
                     CalibrationDownload, CalibrationUpload, CalibrationSave, Display };

struct Invocation {
    Command command = Command::Help;

    // Port numbers given on the command line; the others come from the
    // control panel's settings.
    std::optional<int> headPort, supplyPort, counterPort;

    bool json = false;
    int verbosity = 0;      // -v 1, -vv 2
    std::string logFile;    // --log FILE, empty for none

    // ramp up / ramp down
    std::optional<double> current, voltage;
    std::optional<int> seconds;

    // move
    unsigned primary = 0, secondary = 0;

    // calibration download (csv, aperture, spectral) and upload (aperture, spectral)
    std::string csvPath, aperturePath, spectralPath;
    bool force = false;  // download: overwrite existing files

    // display
    std::string displayText;
    bool clearDisplay = false;
};

// Ramp overrides are held inside the lamp's own limits.
constexpr double kMaxRampCurrent = 8.5;  // A
constexpr double kMaxRampVoltage = 15.0; // V
constexpr int kMaxRampSeconds = 3600;
constexpr int kMaxPort = 127;
constexpr unsigned kPrimaryPositions = 3, kSecondaryPositions = 12;

// `args` without the program name.
Invocation Parse(const std::vector<std::string>& args);

// "COM7", "com7" or "7" -> 7; nothing when it is none of them or outside 1..127.
std::optional<int> ParsePort(const std::string& text);

std::string HelpText();

}  // namespace quorvexctl
