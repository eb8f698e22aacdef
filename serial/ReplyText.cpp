// Reply text and command numbers without the process locale (see
// ReplyText.h).
#include "serial/ReplyText.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

#include <locale.h>

namespace replytext {

namespace {

// One "C" locale for the whole process, made on first use and kept.
locale_t CLocale() {
    static const locale_t locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

bool SplitFields(std::string_view text, char separator, std::initializer_list<std::string*> fields) {
    size_t start = 0;
    size_t left = fields.size();
    for (std::string* field : fields) {
        if (--left == 0) {
            if (field) *field = std::string(text.substr(start));
            return true;
        }
        const size_t end = text.find(separator, start);
        if (end == std::string_view::npos) return false;
        if (field) *field = std::string(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

std::optional<double> ReadDouble(const char* text) {
    if (!text) return std::nullopt;
    char* end = nullptr;
    const double value = strtod_l(text, &end, CLocale());
    if (end == text) return std::nullopt;
    return value;
}

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
        const std::string number(first, end);
        parsed = strtod_l(number.c_str(), nullptr, CLocale());
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
int ScanList(std::string_view text, Number* values, int count, bool (CTextScanner::*scan)(Number&)) {
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

std::string FormatFixed(double value, int decimals) {
    char buffer[400];  // enough for any double in fixed notation
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return {};
    return std::string(buffer, end);
}

std::wstring FormatFixedW(double value, int decimals) {
    const std::string narrow = FormatFixed(value, decimals);
    return std::wstring(narrow.begin(), narrow.end());
}

std::string FormatExp3(double value) {
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 3);
    if (ec != std::errc()) return {};
    std::string text(buffer, end);
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace replytext
