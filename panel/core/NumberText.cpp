// Locale-independent number text for Calibration.ini and the CSV export.
#include "NumberText.h"

#include <serial/ReplyText.h>

#include <cctype>
#include <charconv>
#include <optional>

namespace numbertext {

std::string Scientific3(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 3);
    std::string text(buffer, result.ptr);
    const auto e = text.find('e');
    if (e == std::string::npos) {
        // inf / nan: upper case like printf's %E.
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    }
    std::string mantissa = text.substr(0, e);
    const char sign = text[e + 1];
    std::string digits = text.substr(e + 2);
    while (digits.size() < 3) digits.insert(digits.begin(), '0');
    return mantissa + 'E' + sign + digits;
}

std::string Fixed(double value, int digits) {
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digits);
    if (result.ec != std::errc()) return {};
    return std::string(buffer, result.ptr);
}

bool ScanDouble(const std::string& text, double& value) {
    const std::optional<double> parsed = replytext::ReadDouble(text.c_str());
    if (!parsed) return false;
    value = *parsed;
    return true;
}

}  // namespace numbertext
