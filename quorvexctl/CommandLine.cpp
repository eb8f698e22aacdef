// Parsing and checking quorvexctl's command line.
#include "CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "Failure.h"

namespace quorvexctl {

namespace {

[[noreturn]] void Bad(const std::string& message) { throw CFailure(kExitBadArgument, message); }

double ParseNumber(const std::string& option, const std::string& text, double low, double high) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value))
        Bad(option + " wants a number, not \"" + text + "\"");
    if (!(value > low && value <= high)) {
        char range[64];
        std::snprintf(range, sizeof range, " must be above %g and at most %g", low, high);
        Bad(option + range);
    }
    return value;
}

long ParseInteger(const std::string& what, const std::string& text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || text[0] == '+' || text[0] == ' ')
        Bad(what + " wants a whole number, not \"" + text + "\"");
    if (value < low || value > high)
        Bad(what + " must be from " + std::to_string(low) + " to " + std::to_string(high));
    return value;
}

// The display shows printable ASCII; a quote or a line break would end the
// supply's command early and start another.
void CheckDisplayText(const std::string& text) {
    for (const unsigned char c : text)
        if (c < 0x20 || c > 0x7e || c == '"')
            Bad("the display text may hold printable ASCII characters other than '\"' only");
}

const std::map<std::string, Command>& Subcommands() {
    static const std::map<std::string, Command> table = {
        {"help", Command::Help},         {"ports", Command::Ports},   {"identify", Command::Identify},
        {"status", Command::Status},     {"move", Command::Move},     {"home", Command::Home},
        {"display", Command::Display},
    };
    return table;
}

}  // namespace

std::optional<int> ParsePort(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 3 && (digits.compare(0, 3, "COM") == 0 || digits.compare(0, 3, "com") == 0))
        digits = digits.substr(3);
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int number = std::stoi(digits);
    if (number < 1 || number > kMaxPort) return std::nullopt;
    return number;
}

Invocation Parse(const std::vector<std::string>& args) {
    Invocation inv;
    std::vector<std::string> operands;
    bool helpAsked = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> attached;
        if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                attached = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        auto value = [&]() -> std::string {
            if (attached) return *attached;
            if (i + 1 >= args.size()) Bad(arg + " wants a value");
            return args[++i];
        };
        auto port = [&](std::optional<int>& into) {
            const std::string text = value();
            into = ParsePort(text);
            if (!into) Bad(arg + " wants a port from COM1 to COM" + std::to_string(kMaxPort) + ", not \"" + text + "\"");
        };

        if (arg == "-h" || arg == "--help") helpAsked = true;
        else if (arg == "--json") inv.json = true;
        else if (arg == "-v" || arg == "--verbose") inv.verbosity += 1;
        else if (arg == "-vv") inv.verbosity += 2;
        else if (arg == "--log") inv.logFile = value();
        else if (arg == "--head") port(inv.headPort);
        else if (arg == "--supply") port(inv.supplyPort);
        else if (arg == "--counter") port(inv.counterPort);
        else if (arg == "--current") inv.current = ParseNumber(arg, value(), 0.0, kMaxRampCurrent);
        else if (arg == "--voltage") inv.voltage = ParseNumber(arg, value(), 0.0, kMaxRampVoltage);
        else if (arg == "--seconds") inv.seconds = static_cast<int>(ParseInteger(arg, value(), 1, kMaxRampSeconds));
        else if (arg == "--csv") inv.csvPath = value();
        else if (arg == "--aperture") inv.aperturePath = value();
        else if (arg == "--spectral") inv.spectralPath = value();
        else if (arg == "--clear") inv.clearDisplay = true;
        else if (arg == "--force") inv.force = true;
        else if (arg == "--") {
            operands.insert(operands.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-' && operands.empty()) Bad("unknown option " + arg);
        else if (arg.size() > 1 && arg[0] == '-' && arg.find_first_not_of("0123456789", 1) != std::string::npos)
            Bad("unknown option " + arg);
        else operands.push_back(args[i]);
    }

    if (helpAsked || operands.empty()) {
        inv.command = Command::Help;
        return inv;
    }
    const std::string name = operands[0];
    std::vector<std::string> rest(operands.begin() + 1, operands.end());
    auto expect = [&](std::size_t count, const char* usage) {
        if (rest.size() != count) Bad(std::string("usage: quorvexctl ") + usage);
    };

    if (name == "ramp") {
        if (rest.size() != 1 || (rest[0] != "up" && rest[0] != "down")) Bad("usage: quorvexctl ramp up|down");
        inv.command = rest[0] == "up" ? Command::RampUp : Command::RampDown;
        if (inv.command == Command::RampDown && (inv.current || inv.voltage))
            Bad("--current and --voltage apply to ramp up only");
    } else if (name == "calibration") {
        if (rest.empty()) Bad("usage: quorvexctl calibration download|upload|save");
        const std::string action = rest[0];
        rest.erase(rest.begin());
        if (action == "download") {
            expect(0, "calibration download [--csv FILE] [--aperture FILE] [--spectral FILE] [--force]");
            if (inv.csvPath.empty() && inv.aperturePath.empty() && inv.spectralPath.empty())
                Bad("calibration download wants --csv, --aperture or --spectral");
            inv.command = Command::CalibrationDownload;
        } else if (action == "upload") {
            expect(0, "calibration upload [--aperture FILE] [--spectral FILE]");
            if (!inv.csvPath.empty()) Bad("--csv applies to calibration download only");
            if (inv.aperturePath.empty() && inv.spectralPath.empty())
                Bad("calibration upload wants --aperture or --spectral");
            inv.command = Command::CalibrationUpload;
        } else if (action == "save") {
            expect(0, "calibration save");
            inv.command = Command::CalibrationSave;
        } else {
            Bad("usage: quorvexctl calibration download|upload|save");
        }
    } else if (const auto found = Subcommands().find(name); found != Subcommands().end()) {
        inv.command = found->second;
        switch (inv.command) {
            case Command::Move:
                expect(2, "move PRIMARY SECONDARY");
                inv.primary = static_cast<unsigned>(ParseInteger("the primary position", rest[0], 0, kPrimaryPositions - 1));
                inv.secondary = static_cast<unsigned>(ParseInteger("the secondary position", rest[1], 0, kSecondaryPositions - 1));
                break;
            case Command::Display:
                if (inv.clearDisplay) {
                    expect(0, "display --clear");
                } else {
                    expect(1, "display \"TEXT\" | display --clear");
                    inv.displayText = rest[0];
                    CheckDisplayText(inv.displayText);
                }
                break;
            default:
                if (!rest.empty()) Bad(name + " takes no operands");
                break;
        }
    } else {
        Bad("unknown subcommand \"" + name + "\"");
    }

    const bool ramp = inv.command == Command::RampUp || inv.command == Command::RampDown;
    if (!ramp && (inv.current || inv.voltage || inv.seconds)) Bad("--current, --voltage and --seconds apply to ramp only");
    if (inv.clearDisplay && inv.command != Command::Display) Bad("--clear applies to display only");
    if (inv.force && inv.command != Command::CalibrationDownload) Bad("--force applies to calibration download only");
    const bool files = inv.command == Command::CalibrationDownload || inv.command == Command::CalibrationUpload;
    if (!files && (!inv.csvPath.empty() || !inv.aperturePath.empty() || !inv.spectralPath.empty()))
        Bad("--csv, --aperture and --spectral apply to calibration download and upload only");
    return inv;
}

}  // namespace quorvexctl

namespace quorvexctl {

std::string HelpText() {
    return R"(Usage: quorvexctl [OPTIONS] SUBCOMMAND [OPERANDS]

Drives the Quorvex light source's three instruments from a shell: the head
unit (aperture wheels, temperatures, calibration tables), the lamp's power
supply and the elapsed-time counter. Each subcommand connects to the
instruments it needs and disconnects them again before it ends.

Subcommands:
  ports                     List the serial ports COM1..COM255 present and
                            what is behind each, as the control panel's
                            settings list them. Touches no instrument.
  identify                  The identification of the head unit, the power
                            supply and the counter.
  status                    The four head temperatures, the lamp current and
                            voltage, lamp hours, power cycles and the
                            aperture position.
  ramp up                   Ramp the lamp up as the control panel does: limits
                            15.0 V and 8.5 A, then to 8.333 A at 15.0 V over
                            15 s. --current A (above 0, at most 8.5),
                            --voltage V (above 0, at most 15.0) and
                            --seconds N (1 to 3600) change the target and the
                            time. Refused while the lamp is ramped up
                            (output on, current above 0). Ctrl-C aborts the
                            ramp and ramps the lamp back down.
  ramp down                 Ramp the lamp down to zero over 5 s (--seconds N).
                            A ramp-down always runs to its end; a signal
                            that comes meanwhile is acted on after it.
  move PRIMARY SECONDARY    Move the aperture wheels: primary 0..2,
                            secondary 0..11. Prints the position reached.
  home                      Home both wheels. Prints the position reached.
  calibration download      Download both calibration tables from the head
                            unit and write them: --csv FILE (the control
                            panel's CSV export), --aperture FILE and
                            --spectral FILE (the calibration text files the
                            upload reads). At least one is needed. A file
                            that exists is refused before anything is
                            downloaded, unless --force is given.
  calibration upload        Upload calibration text files to the head unit:
                            --aperture FILE and/or --spectral FILE (aperture
                            first). Both are read and checked before
                            anything is sent. Ctrl-C aborts the transfer.
  calibration save          Download both tables and store them, with the
                            head's serial number, as the control panel's own
                            copy (Calibration.ini), which it then shows
                            without downloading again.
  display "TEXT"            Show TEXT on the power supply's front panel
                            (printable ASCII, no '"').
  display --clear           Clear the message from the supply's display.
  help                      This text.

Options:
  --head COMn               The head unit's port,
  --supply COMn             the power supply's port,
  --counter COMn            the counter's port, instead of the ports chosen in
                            the control panel's settings. Baud rate, parity
                            and the other serial settings always come from
                            there (the defaults when it was never set up).
  --json                    Print the result as JSON on standard output
                            (ports, identify, status, move, home).
  --log FILE                Append the driver libraries' log to FILE (refused
                            at once when FILE cannot be appended to).
  --force                   calibration download: overwrite existing files.
  -v, --verbose             Log at the "Normal" ceiling and copy the log to
                            standard error; -vv (or -v -v) adds debug entries.
  -h, --help                This text.

Progress of ramps and transfers goes to standard error: a bar on a terminal,
plain lines every 10 % otherwise. Results go to standard output.

Exit codes:
  0    success
  1    the instrument refused the command (its own message is printed), a
       file could not be written, or the results could not be written to
       standard output
  2    bad argument (the command line, or a file named on it: a bad line,
       an empty table, an output that exists without --force)
  3    no instrument: no such port, or nothing answered on it
  4    permission denied on the port (add your user to the dialout group)
  5    busy: the port is in use by another program, or the instrument is busy
  6    timed out: the instrument stopped answering
Each failure prints one line on standard error.

Ctrl-C (SIGINT), SIGTERM and SIGHUP stop any subcommand at once (a ramp-down
excepted, which runs to its end first): what runs is aborted, a ramp-up cut
short is ramped back down, every instrument is disconnected (which unlocks
the supply's front panel), and quorvexctl then dies of that signal, so the
calling shell or script stops too (a shell shows 130 for Ctrl-C, 143 for
SIGTERM, 129 for SIGHUP).

Example: read the bulb temperature at each of the 36 apertures
  for p in 0 1 2; do for s in $(seq 0 11); do
    quorvexctl move $p $s >/dev/null &&
    quorvexctl status --json | jq -r ".temperatures.bulbEnclosure"
  done; done
)";
}

}  // namespace quorvexctl
