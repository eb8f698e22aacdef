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
    // Refused rather than cut, so that a script learns its message would not
    // be read as it was written.
    if (text.size() > kDisplayCharacters)
        Bad("the supply's display shows at most " + std::to_string(kDisplayCharacters) + " characters; \"" + text +
            "\" has " + std::to_string(text.size()));
}

const std::map<std::string, Command>& Subcommands() {
    static const std::map<std::string, Command> table = {
        {"ports", Command::Ports},       {"identify", Command::Identify},
        {"status", Command::Status},     {"move", Command::Move},     {"home", Command::Home},
        {"display", Command::Display},   {"scan", Command::Scan},     {"batch", Command::Batch},
        {"-", Command::Batch},
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
    bool helpAsked = false, versionAsked = false;

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
        // A switch given a value ("--json=no") is refused rather than read as on.
        auto flag = [&]() {
            if (attached) Bad(arg + " takes no value");
            return true;
        };
        auto port = [&](std::optional<int>& into) {
            const std::string text = value();
            into = ParsePort(text);
            if (!into) Bad(arg + " wants a port from COM1 to COM" + std::to_string(kMaxPort) + ", not \"" + text + "\"");
        };

        if (arg == "-h" || arg == "--help") helpAsked = flag();
        else if (arg == "--version") versionAsked = flag();
        else if (arg == "--json") inv.json = flag();
        else if (arg == "-q" || arg == "--quiet") inv.quiet = flag();
        else if (arg == "--keep-going") inv.keepGoing = flag();
        else if (arg == "-v" || arg == "--verbose") inv.verbosity += flag();
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
        else if (arg == "--clear") inv.clearDisplay = flag();
        else if (arg == "--force") inv.force = flag();
        else if (arg == "--") {
            operands.insert(operands.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-' && operands.empty()) Bad("unknown option " + arg);
        else if (arg.size() > 1 && arg[0] == '-' && arg.find_first_not_of("0123456789", 1) != std::string::npos)
            Bad("unknown option " + arg);
        else operands.push_back(args[i]);
    }

    if (helpAsked) {
        // "ramp --help" is the help of ramp.
        inv.command = Command::Help;
        if (!operands.empty() && SubcommandHelp(operands[0])) inv.helpTopic = operands[0];
        return inv;
    }
    if (versionAsked) {
        inv.command = Command::Version;
        return inv;
    }
    if (operands.empty()) Bad("usage: quorvexctl [OPTIONS] SUBCOMMAND [OPERANDS]");
    const std::string name = operands[0];
    std::vector<std::string> rest(operands.begin() + 1, operands.end());
    auto expect = [&](std::size_t count, const char* usage) {
        if (rest.size() != count) Bad(std::string("usage: quorvexctl ") + usage);
    };

    if (name == "help") {
        if (rest.size() > 1) Bad("usage: quorvexctl help [SUBCOMMAND]");
        if (!rest.empty() && !SubcommandHelp(rest[0])) Bad("unknown subcommand \"" + rest[0] + "\"");
        inv.command = Command::Help;
        if (!rest.empty()) inv.helpTopic = rest[0];
    } else if (name == "ramp") {
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
    if (inv.keepGoing && inv.command != Command::Batch) Bad("--keep-going applies to batch only");
    return inv;
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            if (c == quote) quote = 0;
            else if (c == '\\' && quote == '"' && i + 1 < line.size()) word += line[++i];
            else word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote) Bad(std::string("a ") + quote + " is not closed");
    if (inWord) words.push_back(word);
    return words;
}

std::optional<Invocation> ParseBatchLine(const std::string& line, const Invocation& global) {
    const std::vector<std::string> words = SplitWords(line);
    if (words.empty() || (!words[0].empty() && words[0][0] == '#')) return std::nullopt;
    for (const std::string& word : words) {
        if (word == "--") break;
        const std::string name = word.substr(0, word.find('='));
        for (const char* option : {"--head", "--supply", "--counter", "--json", "-q", "--quiet", "--log", "-v",
                                   "--verbose", "-vv", "--keep-going", "--version"})
            if (name == option) Bad(name + " is a global option: give it before batch");
    }
    Invocation inv = Parse(words);
    if (inv.command == Command::Batch) Bad("a batch cannot start another batch");
    inv.headPort = global.headPort;
    inv.supplyPort = global.supplyPort;
    inv.counterPort = global.counterPort;
    inv.json = global.json;
    inv.quiet = global.quiet;
    inv.verbosity = global.verbosity;
    inv.logFile = global.logFile;
    inv.keepGoing = global.keepGoing;
    return inv;
}

void ApplyEnvironment(Invocation& inv) {
    auto apply = [](std::optional<int>& into, const char* variable) {
        if (into) return;
        const char* text = std::getenv(variable);
        if (!text || !*text) return;
        into = ParsePort(text);
        if (!into)
            Bad(std::string(variable) + " wants a port from COM1 to COM" + std::to_string(kMaxPort) + ", not \"" +
                text + "\"");
    };
    apply(inv.headPort, "QUORVEX_HEAD");
    apply(inv.supplyPort, "QUORVEX_SUPPLY");
    apply(inv.counterPort, "QUORVEX_COUNTER");
}

}  // namespace quorvexctl
