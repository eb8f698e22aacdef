// Locale-independent number scanning and formatting (see TextScan.h).
#include "TextScan.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

#include <locale.h>

namespace quorvex {

namespace {
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

void CTextScanner::SkipSpace() {
    while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) ++m_pos;
}

const char* CTextScanner::NumberStart() {
    SkipSpace();
    const char* first = m_text.data() + m_pos;
    const char* last = End();
    // from_chars takes a leading '-' but not '+'; "+-5" is no number.
    if (first < last && *first == '+') {
        ++first;
        if (first < last && *first == '-') return nullptr;
    }
    return first;
}

bool CTextScanner::Int(int& value) {
    const char* first = NumberStart();
    if (!first) return false;
    int parsed = 0;
    const auto [end, ec] = std::from_chars(first, End(), parsed);
    if (ec != std::errc()) return false;
    value = parsed;
    m_pos = static_cast<size_t>(end - m_text.data());
    return true;
}

bool CTextScanner::Double(double& value) {
    const char* first = NumberStart();
    if (!first) return false;
    const char* last = End();
    double parsed = 0.0;
    const auto [end, ec] = std::from_chars(first, last, parsed, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: strtod's answer, which is
        // infinity only for the first; "1e-400" is 0, not infinity.
        static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
        const std::string number(first, end);
        parsed = strtod_l(number.c_str(), nullptr, cLocale);
    } else if (ec != std::errc()) {
        return false;
    }
    value = parsed;
    m_pos = static_cast<size_t>(end - m_text.data());
    return true;
}

bool CTextScanner::Literal(char c) {
    if (m_pos < m_text.size() && m_text[m_pos] == c) {
        ++m_pos;
        return true;
    }
    return false;
}

namespace {
template <typename Number>
int ScanList(std::string_view text, Number* values, int count,
             bool (CTextScanner::*scan)(Number&)) {
    CTextScanner scanner(text);
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !scanner.Literal(',')) return i;
        if (!(scanner.*scan)(values[i])) return i;
    }
    return count;
}
}  // namespace

int ScanDoubles(std::string_view text, double* values, int count) {
    return ScanList(text, values, count, &CTextScanner::Double);
}

int ScanInts(std::string_view text, int* values, int count) {
    return ScanList(text, values, count, &CTextScanner::Int);
}

std::string FormatFixed2(double value) {
    char buffer[400];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                         std::chars_format::fixed, 2);
    if (ec != std::errc()) return {};
    return std::string(buffer, end);
}

std::string FormatExp3(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                         std::chars_format::scientific, 3);
    if (ec != std::errc()) return {};
    std::string text(buffer, end);
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace quorvex
