// Text conversions of the supply's SCPI protocol: numbers written with a
// fixed number of decimals, numbers read from replies, and quoted strings.
// All of them ignore the process locale, since a program may switch it to
// one whose decimal separator is a comma and the supply only knows points.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace psudll {

// printf("%.<decimals>f") in the "C" locale.
std::string FormatFixed(double value, int decimals);
std::wstring FormatFixedW(double value, int decimals);

// sscanf("%lf") in the "C" locale: leading white space skipped, sign and
// exponent accepted, anything after the number ignored. Empty when no
// number starts the text.
std::optional<double> ParseReplyNumber(const char* text);

// The text as a SCPI string parameter: in double quotes, each quote inside
// written twice. Empty when the text holds a control character (CR and LF
// among them), which would end the command early or start another one.
std::optional<std::string> QuoteScpiString(std::string_view text);

}  // namespace psudll
