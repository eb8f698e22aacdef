// Splitting a client's line into SCPI commands, headers and parameters.
#include "ScpiParser.h"

#include <cmath>
#include <cstdio>

#include <locale.h>

namespace scpi {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsPrintable(char c) { return c >= 0x20 && c < 0x7f; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

Command Failed(Command command, int error, std::string detail) {
    command.error = error;
    command.detail = std::move(detail);
    return command;
}

// The header: "*IDN?", ":SOUR:APER?", "OUTP". Fills the command's
// mnemonics and flags; false (with the command's error set) when malformed.
bool ParseHeader(std::string_view header, Command& command) {
    if (!header.empty() && header.back() == '?') {
        command.query = true;
        header.remove_suffix(1);
    }
    if (!header.empty() && header.front() == '*') {
        command.common = true;
        std::string_view name = header.substr(1);
        if (name.empty()) {
            command = Failed(std::move(command), code::kSyntaxError, "a '*' without a command name");
            return false;
        }
        for (char c : name)
            if (!IsLetter(c)) {
                command = Failed(std::move(command), code::kSyntaxError, "a common command is letters only");
                return false;
            }
        command.mnemonics.push_back("*" + Upper(name));
        return true;
    }
    if (!header.empty() && header.front() == ':') header.remove_prefix(1);
    if (header.empty()) {
        command = Failed(std::move(command), code::kSyntaxError, "no command header");
        return false;
    }
    while (true) {
        const std::size_t colon = header.find(':');
        const std::string_view mnemonic = header.substr(0, colon);
        if (mnemonic.empty() || !IsLetter(mnemonic.front())) {
            command = Failed(std::move(command), code::kSyntaxError,
                             mnemonic.empty() ? "an empty header mnemonic" : "a header mnemonic starts with a letter");
            return false;
        }
        for (char c : mnemonic)
            if (!IsLetter(c) && !IsDigit(c) && c != '_') {
                command = Failed(std::move(command), code::kSyntaxError,
                                 std::string("'") + c + "' in a command header");
                return false;
            }
        command.mnemonics.push_back(Upper(mnemonic));
        if (colon == std::string_view::npos) return true;
        header.remove_prefix(colon + 1);
    }
}

// One parameter, already cut at its comma and trimmed.
bool ParseParameter(std::string_view text, Command& command) {
    if (text.empty()) {
        command = Failed(std::move(command), code::kSyntaxError, "an empty parameter");
        return false;
    }
    Parameter parameter;
    if (text.front() == '"' || text.front() == '\'') {
        const char quote = text.front();
        std::size_t i = 1;
        bool closed = false;
        while (i < text.size()) {
            if (text[i] == quote) {
                if (i + 1 < text.size() && text[i + 1] == quote) {
                    parameter.text.push_back(quote);
                    i += 2;
                    continue;
                }
                closed = true;
                ++i;
                break;
            }
            parameter.text.push_back(text[i++]);
        }
        if (!closed || i != text.size()) {
            command = Failed(std::move(command), code::kSyntaxError,
                             closed ? "text after a quoted string" : "a string without its closing quote");
            return false;
        }
        parameter.quoted = true;
    } else {
        for (char c : text)
            if (IsBlank(c) || c == '"' || c == '\'') {
                command = Failed(std::move(command), code::kSyntaxError, "a blank or quote inside a parameter");
                return false;
            }
        parameter.text = std::string(text);
    }
    command.parameters.push_back(std::move(parameter));
    return true;
}

// Splits `text` at `separator` outside quoted strings. An unclosed quote
// leaves the rest as one piece (its parse then reports it).
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    char quote = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote) quote = 0;  // a doubled quote closes and reopens
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == separator) {
            pieces.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

Command ParseCommand(std::string_view text) {
    Command command;
    command.text = std::string(text);
    std::size_t end = 0;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    if (!ParseHeader(text.substr(0, end), command)) return command;
    const std::string_view rest = Trim(text.substr(end));
    if (rest.empty()) return command;
    for (std::string_view piece : SplitOutsideQuotes(rest, ','))
        if (!ParseParameter(Trim(piece), command)) return command;
    return command;
}

}  // namespace

const char* ErrorText(int error) {
    switch (error) {
        case code::kNoError: return "No error";
        case code::kCommandError: return "Command error";
        case code::kSyntaxError: return "Syntax error";
        case code::kParameterNotAllowed: return "Parameter not allowed";
        case code::kMissingParameter: return "Missing parameter";
        case code::kUndefinedHeader: return "Undefined header";
        case code::kExecutionError: return "Execution error";
        case code::kCommandProtected: return "Command protected";
        case code::kDataOutOfRange: return "Data out of range";
        case code::kIllegalParameterValue: return "Illegal parameter value";
        case code::kHardwareError: return "Hardware error";
        case code::kHardwareMissing: return "Hardware missing";
        case code::kQueueOverflow: return "Queue overflow";
        case code::kInputBufferOverrun: return "Input buffer overrun";
        default: return "Error";
    }
}

std::vector<Command> ParseLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::vector<Command> commands;
    // Control characters and bytes past ASCII belong to no command: the
    // whole line is refused before any of it runs.
    for (char c : line)
        if (!IsPrintable(c) && c != '\t') {
            commands.push_back(Failed(Command{}, code::kCommandError, "a byte that is not printable ASCII"));
            return commands;
        }
    for (std::string_view piece : SplitOutsideQuotes(line, ';')) {
        piece = Trim(piece);
        if (piece.empty()) continue;
        commands.push_back(ParseCommand(piece));
        if (commands.back().error != code::kNoError) break;
    }
    return commands;
}

namespace {

// The process's locale (Qt takes the user's) has no say in what goes on the wire.
std::string FormatInCLocale(const char* format, int decimals, double value) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const locale_t previous = uselocale(cLocale);
    char text[400];
    std::snprintf(text, sizeof text, format, decimals, value);
    uselocale(previous);
    return text;
}

}  // namespace

std::string FormatScientific(double value) { return FormatInCLocale("%.*E", 6, value); }

std::string FormatFixed(double value, int decimals) { return FormatInCLocale("%.*f", decimals, value); }

bool ParseNumber(const std::string& text, double& value) {
    // Decimal digits, a sign, one point and an exponent only: strtod's hex
    // floats, "inf" and "nan" are no SCPI numbers.
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    bool digits = false;
    while (i < text.size() && IsDigit(text[i])) ++i, digits = true;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) ++i, digits = true;
    }
    if (!digits) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        bool exponent = false;
        while (i < text.size() && IsDigit(text[i])) ++i, exponent = true;
        if (!exponent) return false;
    }
    if (i != text.size()) return false;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    value = strtod_l(text.c_str(), nullptr, cLocale);
    return std::isfinite(value);
}

}  // namespace scpi
