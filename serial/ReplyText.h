// The text of instrument replies as the three drivers read it, and the
// numbers they write into commands: identification replies split into
// fields, numbers read as sscanf reads them in the "C" locale, numbers
// formatted as printf writes them there. Also used by the control panel for
// the numbers of its calibration files.
//
// None of it depends on the process locale: a program (Qt does) may switch
// the C library to the user's locale, where the decimal separator can be a
// comma, and the instruments know only points.
//
// Plain functions of their arguments and a scanner over a view the caller
// owns: no state shared between calls, any thread.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace replytext {

// Hands `text` out to `fields` in order, cut at `separator`: a field gets
// its text once the separator that ends it is found, the last field all the
// rest. Stops at the first separator missing, leaving that field and the
// ones after it as they were. A null field is stepped over (its text is not
// kept). True when the last field was reached.
bool SplitFields(std::string_view text, char separator, std::initializer_list<std::string*> fields);

// sscanf("%lf") of a single number: white space skipped, sign, decimal,
// exponent, hexadecimal, inf and nan accepted, anything after the number
// ignored. Empty for a null text or one no number starts.
std::optional<double> ReadDouble(const char* text);

// sscanf's conversions one after another over one text, for replies and
// file lines of several numbers: white space is skipped before every
// number, and a literal character must follow the previous number directly.
// Decimal numbers only (a "0x" prefix reads as the number 0).
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

// printf("%.<decimals>f").
std::string FormatFixed(double value, int decimals);
std::wstring FormatFixedW(double value, int decimals);
// printf("%.3E").
std::string FormatExp3(double value);

}  // namespace replytext
