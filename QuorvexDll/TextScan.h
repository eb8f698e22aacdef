// Locale-independent scanning and formatting of the numbers in head unit
// replies and calibration files. The control panel may switch the C locale to
// the user's (where the decimal separator can be a comma), so sscanf and
// printf cannot be trusted with "%lf" or "%.3E" here. The scanner follows
// sscanf's rules: leading white space is skipped before every number, and a
// literal character must follow the previous number directly.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

class CTextScanner {
public:
    explicit CTextScanner(std::string_view text) : m_text(text) {}

    // "%d"
    bool Int(int& value);
    // "%lf"
    bool Double(double& value);
    // A literal character of the format.
    bool Literal(char c);

private:
    void SkipSpace();
    // Where the next number starts, after white space and a '+'; null for
    // text no conversion would take.
    const char* NumberStart();
    const char* End() const { return m_text.data() + m_text.size(); }
    std::string_view m_text;
    size_t m_pos = 0;
};

// How many of the comma-separated "%lf" conversions of `count` values
// succeed, as sscanf("%lf,%lf,...") would count them.
int ScanDoubles(std::string_view text, double* values, int count);
// How many of the comma-separated "%d" conversions succeed.
int ScanInts(std::string_view text, int* values, int count);

// "%.2f"
std::string FormatFixed2(double value);
// "%.3E"
std::string FormatExp3(double value);

}  // namespace quorvex
