// quorvexctl's command line: the subcommand, its operands and the options,
// checked before any instrument is touched, and the help text that explains
// them.
//
// Pure functions on the main thread (ApplyEnvironment reads the
// environment); a bad command line throws CFailure with kExitBadArgument and
// a one-line reason.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "LampRamp.h"

namespace quorvexctl {

enum class Command { Help, Version, Ports, Scan, Identify, Status, RampUp, RampDown, Move, Home,
                     CalibrationDownload, CalibrationUpload, CalibrationSave, Display, Batch };

struct Invocation {
    Command command = Command::Help;

    // help SUBCOMMAND: the subcommand's name ("ramp", "calibration"); empty
    // for the whole help.
    std::string helpTopic;

    // Port numbers given on the command line or in QUORVEX_HEAD,
    // QUORVEX_SUPPLY and QUORVEX_COUNTER; the others come from the control
    // panel's settings.
    std::optional<int> headPort, supplyPort, counterPort;

    bool json = false;
    bool quiet = false;     // no progress, no informational lines
    int verbosity = 0;      // -v 1, -vv 2
    std::string logFile;    // --log FILE, empty for none

    // batch: go on after a failing line
    bool keepGoing = false;

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

// Ramp overrides are held inside the limits the panel sets before a ramp-up.
constexpr double kMaxRampCurrent = lampramp::kCurrentLimit;  // A
constexpr double kMaxRampVoltage = lampramp::kVoltageLimit;  // V
constexpr int kMaxRampSeconds = 3600;
// The transport opens COM1..COM127 only, so that is the range of every
// port option, of `ports` and of `scan`.
constexpr int kMaxPort = 127;
// The E3633A's front panel shows 11 characters of a message.
constexpr std::size_t kDisplayCharacters = 11;
constexpr unsigned kPrimaryPositions = 3, kSecondaryPositions = 12;

// `args` without the program name. No subcommand at all is a usage error.
Invocation Parse(const std::vector<std::string>& args);

// A line of a batch: a subcommand as on the command line, without the
// global options (ports, --json, --quiet, --log, -v), which it takes from
// `global`. Blank lines and # comments give nothing.
std::optional<Invocation> ParseBatchLine(const std::string& line, const Invocation& global);

// The words of a batch line, split at blanks; '...' and "..." quote, a
// backslash takes the next character as it is.
std::vector<std::string> SplitWords(const std::string& line);

// The ports of QUORVEX_HEAD, QUORVEX_SUPPLY and QUORVEX_COUNTER for those
// the command line did not give.
void ApplyEnvironment(Invocation& inv);

// "COM7", "com7" or "7" -> 7; nothing when it is none of them or outside 1..127.
std::optional<int> ParsePort(const std::string& text);

// The whole help (Help.cpp).
std::string HelpText();
// The help of one subcommand ("ramp", "calibration", "batch", ...);
// nothing for an unknown name.
std::optional<std::string> SubcommandHelp(const std::string& name);

}  // namespace quorvexctl
