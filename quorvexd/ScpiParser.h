// The SCPI command-line parser of quorvexd: one line a client sent, split
// into its commands (joined by ';'), each with its header mnemonics and its
// parameters, and the standard error codes and texts the server answers
// with. Knows nothing of which commands exist: that is the command table's
// job (CommandTable.h).
//
// Pure functions of their arguments, callable from any thread; nothing is
// kept between calls.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace scpi {

// The standard SCPI error codes the server reports.
namespace code {
constexpr int kNoError = 0;
constexpr int kCommandError = -100;
constexpr int kSyntaxError = -102;
constexpr int kParameterNotAllowed = -108;
constexpr int kMissingParameter = -109;
constexpr int kUndefinedHeader = -113;
constexpr int kExecutionError = -200;
constexpr int kCommandProtected = -203;
constexpr int kDataOutOfRange = -222;
constexpr int kIllegalParameterValue = -224;
constexpr int kHardwareError = -240;
constexpr int kHardwareMissing = -241;
constexpr int kQueueOverflow = -350;
constexpr int kInputBufferOverrun = -363;
}  // namespace code

// The standard text of a code ("Undefined header"); "Error" for an unknown one.
const char* ErrorText(int code);

struct Parameter {
    std::string text;     // a quoted string without its quotes, doubled quotes undone
    bool quoted = false;  // given as a "..." or '...' string
};

// One command of a line.
struct Command {
    std::string text;                   // as sent, without surrounding blanks
    std::vector<std::string> mnemonics; // upper case; a common command is one, with its '*'
    bool common = false;                // "*IDN?"
    bool query = false;                 // the header ends in '?'
    std::vector<Parameter> parameters;
    // Not kNoError: the command could not be parsed (a syntax error, a
    // character that has no place in a command); it is the last of its
    // line, as SCPI drops the rest of a line after such an error.
    int error = code::kNoError;
    std::string detail;  // what was wrong, for the error queue
};

// The commands of one line, without its line end (a CR before the LF is
// taken off here). Blank commands (";;", a blank line) are left out.
std::vector<Command> ParseLine(std::string_view line);

// "1.500000E-06", as replies print radiances; "%.6E" in the C locale.
std::string FormatScientific(double value);
// "%.*f" in the C locale.
std::string FormatFixed(double value, int decimals);

// A decimal number parameter ("12", "-3.5e2", "+.5"); false for anything
// else, "NaN" and infinities included.
bool ParseNumber(const std::string& text, double& value);

}  // namespace scpi
