// Text conversions of the supply's SCPI protocol (see ScpiText.h).
#include "ScpiText.h"

#include <charconv>
#include <cstdlib>

#include <locale.h>

namespace psudll {

namespace {

// One "C" locale for the whole library, made on first use and kept for the
// life of the process.
locale_t CLocale() {
    static const locale_t locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

}  // namespace

std::string FormatFixed(double value, int decimals) {
    char buffer[400];  // enough for any double in fixed notation
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::wstring FormatFixedW(double value, int decimals) {
    const std::string narrow = FormatFixed(value, decimals);
    return std::wstring(narrow.begin(), narrow.end());
}

std::optional<double> ParseReplyNumber(const char* text) {
    if (!text) return std::nullopt;
    char* end = nullptr;
    const double value = strtod_l(text, &end, CLocale());
    if (end == text) return std::nullopt;
    return value;
}

std::optional<std::string> QuoteScpiString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return std::nullopt;
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

}  // namespace psudll
