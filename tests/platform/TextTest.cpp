// UTF-8 conversion and formatting.
#include "platform/text.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include "PlatformChecks.h"

#include <string>

namespace {

TEST(Text, Utf8RoundTripsAndInvalidSequencesBecomeReplacementCharacters) {
    const std::wstring wide = L"Strahldichte \u00b5W/m\u00b2 \u03bb=550nm \u20ac \U0001F4A1";
    const std::string narrow = platform::ToUtf8(wide);
    EXPECT_EQ(narrow, "Strahldichte \xc2\xb5W/m\xc2\xb2 \xce\xbb=550nm \xe2\x82\xac \xf0\x9f\x92\xa1");
    EXPECT_EQ(platform::FromUtf8(narrow), wide);
    EXPECT_EQ(platform::ToUtf8(L""), "");
    EXPECT_EQ(platform::FromUtf8(""), L"");
    EXPECT_EQ(platform::FromUtf8("a\xff" "b"), L"a\ufffdb");
    EXPECT_EQ(platform::FromUtf8("\xc3"), L"\ufffd");             // truncated
    EXPECT_EQ(platform::FromUtf8("\xc0\xaf"), L"\ufffd\ufffd");   // overlong
    EXPECT_EQ(platform::FromUtf8("\xed\xa0\x80"), L"\ufffd\ufffd\ufffd");  // surrogate
    EXPECT_EQ(platform::FromUtf8("\xe2\x82" "x"), L"\ufffdx");
    // Invalid wide values become U+FFFD in UTF-8.
    std::wstring bad;
    bad += static_cast<wchar_t>(0xD800);
    EXPECT_EQ(platform::ToUtf8(bad), "\xef\xbf\xbd");
}

TEST(Text, ConversionsBothWaysLikeWin32) {
    const wchar_t* wide = L"\u00e9t\u00e9";
    const char* narrow = "\xc3\xa9t\xc3\xa9";
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr), 6);  // with NUL
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, 3, nullptr, 0, nullptr, nullptr), 5);
    char bytes[8] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, bytes, 8, nullptr, nullptr), 6);
    EXPECT_STREQ(bytes, narrow);
    EXPECT_FAILS_WITH(WideCharToMultiByte(CP_UTF8, 0, wide, -1, bytes, 3, nullptr, nullptr), 0,
                      ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FAILS_WITH(WideCharToMultiByte(1252, 0, wide, -1, bytes, 8, nullptr, nullptr), 0,
                      ERROR_INVALID_PARAMETER);

    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, narrow, -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, narrow, 5, nullptr, 0), 3);
    wchar_t chars[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, narrow, -1, chars, 8), 4);
    EXPECT_STREQ(chars, wide);
    EXPECT_FAILS_WITH(MultiByteToWideChar(CP_UTF8, 0, narrow, -1, chars, 2), 0, ERROR_INSUFFICIENT_BUFFER);
    // MB_ERR_INVALID_CHARS gives ERROR_NO_UNICODE_TRANSLATION
    EXPECT_FAILS_WITH(MultiByteToWideChar(CP_UTF8, 8, "\xff", 1, chars, 8), 0, 1113u);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xff", 1, chars, 8), 1);
    EXPECT_EQ(chars[0], L'\ufffd');
}

TEST(Text, FormatGrowsToAnyLength) {
    EXPECT_EQ(platform::Format("%s (0x%p)", "CQuorvex", reinterpret_cast<void*>(0x1234)),
              "CQuorvex (0x0x1234)");
    EXPECT_EQ(platform::Format("%d-%s", 7, std::string(1000, 'x').c_str()), "7-" + std::string(1000, 'x'));
    EXPECT_EQ(platform::FormatW(L"P(%u,%u)", 2u, 11u), L"P(2,11)");
    EXPECT_EQ(platform::FormatW(L"%ls|%d", std::wstring(5000, L'w').c_str(), 5),
              std::wstring(5000, L'w') + L"|5");
    EXPECT_EQ(platform::FormatW(L"%ls", L"\u00b5W"), L"\u00b5W");
    EXPECT_EQ(platform::Format("%s", ""), "");
}

}  // namespace
