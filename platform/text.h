// UTF-8 <-> wide conversion and printf-style formatting for C++ callers of
// the platform layer. Narrow text that leaves the process (files, log, wire)
// is UTF-8; wide text is wchar_t (UTF-32 on Linux).
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#define PLATFORM_TEXT_API __attribute__((visibility("default")))

namespace platform {

PLATFORM_TEXT_API std::string ToUtf8(std::wstring_view wide);
PLATFORM_TEXT_API std::wstring FromUtf8(std::string_view narrow);

// vsnprintf / vswprintf into a string of whatever length the result needs.
PLATFORM_TEXT_API std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
PLATFORM_TEXT_API std::wstring FormatW(const wchar_t* format, ...);
PLATFORM_TEXT_API std::string FormatV(const char* format, va_list args);
PLATFORM_TEXT_API std::wstring FormatWV(const wchar_t* format, va_list args);

}  // namespace platform
