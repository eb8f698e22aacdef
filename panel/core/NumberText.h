// Number text that does not depend on the process locale (Qt switches the C
// library to the user's locale, which would turn "3.805E+002" into
// "3,805E+002"), in the forms the calibration files use.
#pragma once

#include <string>

namespace numbertext {

// "%.3E" with an exponent of at least three digits: 380.5 -> "3.805E+002".
std::string Scientific3(double value);
// "%.*f": 380.456 with 2 digits -> "380.46".
std::string Fixed(double value, int digits);
// What "%lf" accepts: leading blanks, sign, decimal, exponent, hexadecimal,
// inf and nan; trailing text is ignored. False when no number starts the text.
bool ScanDouble(const std::string& text, double& value);

}  // namespace numbertext
