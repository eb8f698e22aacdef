// UTF-8 <-> wide conversion (wchar_t is UTF-32 here) and printf formatting.
#include "platform/Handles_p.h"
#include "platform/text.h"

#include <climits>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsValidScalar(char32_t c) { return c < 0x110000 && !(c >= 0xD800 && c <= 0xDFFF); }

void AppendUtf8(std::string& out, char32_t c) {
    if (!IsValidScalar(c)) c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one code point at text[i], advancing i. Invalid or truncated
// sequences give U+FFFD for the maximal ill-formed prefix and set *invalid.
char32_t DecodeUtf8(std::string_view text, size_t& i, bool* invalid) {
    const unsigned char lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) return lead;
    int extra;
    char32_t c;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        *invalid = true;
        return kReplacement;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size()) {
            *invalid = true;
            return kReplacement;
        }
        const unsigned char next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) {
            *invalid = true;
            return kReplacement;
        }
        const char32_t candidate = (c << 6) | (next & 0x3F);
        // Overlong forms, surrogates and values above U+10FFFF show in the
        // second byte, which is then not part of the ill-formed sequence.
        if (k == 0) {
            const char32_t shifted = candidate << (6 * (extra - 1));
            if ((extra == 2 && (shifted < 0x800 || (shifted >= 0xD800 && shifted <= 0xDFFF))) ||
                (extra == 3 && (shifted < 0x10000 || shifted > 0x10FFFF))) {
                *invalid = true;
                return kReplacement;
            }
        }
        c = candidate;
        ++i;
    }
    if (c < minimum || !IsValidScalar(c)) {
        *invalid = true;
        return kReplacement;
    }
    return c;
}

std::wstring Decode(std::string_view narrow, bool* invalid) {
    std::wstring out;
    out.reserve(narrow.size());
    for (size_t i = 0; i < narrow.size();)
        out += static_cast<wchar_t>(DecodeUtf8(narrow, i, invalid));
    return out;
}

bool ValidCodePage(UINT codePage) { return codePage == CP_UTF8 || codePage == 0 /* CP_ACP */; }

constexpr DWORD kMbErrInvalidChars = 0x00000008;
constexpr DWORD kErrorNoUnicodeTranslation = 1113;

}  // namespace

namespace platform {

std::string ToUtf8(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (wchar_t c : wide) AppendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::wstring FromUtf8(std::string_view narrow) {
    bool invalid = false;
    return Decode(narrow, &invalid);
}

std::string FormatV(const char* format, va_list args) {
    std::string out(256, '\0');
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vsnprintf(out.data(), out.size() + 1, format, copy);
        va_end(copy);
        if (n < 0) return {};
        if (static_cast<size_t>(n) <= out.size()) {
            out.resize(n);
            return out;
        }
        out.resize(n);
    }
}

std::wstring FormatWV(const wchar_t* format, va_list args) {
    // vswprintf does not say how long the result would be: grow until it fits.
    std::wstring out(256, L'\0');
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vswprintf(out.data(), out.size() + 1, format, copy);
        va_end(copy);
        if (n >= 0) {
            out.resize(n);
            return out;
        }
        // -1 is also an encoding error; give up at a size no real text reaches.
        if (out.size() >= (64u << 20)) return {};
        out.resize(out.size() * 2);
    }
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = FormatV(format, args);
    va_end(args);
    return out;
}

std::wstring FormatW(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring out = FormatWV(format, args);
    va_end(args);
    return out;
}

}  // namespace platform

extern "C" {

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR narrow,
                        int narrowSize, LPCSTR defaultChar, BOOL* usedDefault) {
    (void)flags;
    if (!ValidCodePage(codePage) || !wide || wideLength == 0 || wideLength < -1 ||
        narrowSize < 0 || (narrowSize > 0 && !narrow) || defaultChar || usedDefault) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // With -1 the terminating NUL is converted and counted too.
    const size_t length = wideLength == -1 ? std::wcslen(wide) + 1 : static_cast<size_t>(wideLength);
    const std::string out = platform::ToUtf8(std::wstring_view(wide, length));
    if (out.size() > INT_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (narrowSize == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(narrowSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    out.copy(narrow, out.size());
    return static_cast<int>(out.size());
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR narrow, int narrowLength,
                        LPWSTR wide, int wideSize) {
    if (!ValidCodePage(codePage) || (flags & ~kMbErrInvalidChars) || !narrow ||
        narrowLength == 0 || narrowLength < -1 || wideSize < 0 || (wideSize > 0 && !wide)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t length =
        narrowLength == -1 ? std::char_traits<char>::length(narrow) + 1 : static_cast<size_t>(narrowLength);
    bool invalid = false;
    const std::wstring out = Decode(std::string_view(narrow, length), &invalid);
    if (invalid && (flags & kMbErrInvalidChars)) {
        SetLastError(kErrorNoUnicodeTranslation);
        return 0;
    }
    if (wideSize == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(wideSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    out.copy(wide, out.size());
    return static_cast<int>(out.size());
}

}  // extern "C"
