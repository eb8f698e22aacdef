// UTF-8 <-> wide conversion and printf-style formatting for C++ callers of
// the platform layer. Narrow text that leaves the process (files, log, wire)
// is UTF-8; wide text is wchar_t (UTF-32 on Linux).
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace platform {

std::string ToUtf8(std::wstring_view wide);
std::wstring FromUtf8(std::string_view narrow);

// vsnprintf / vswprintf into a string of whatever length the result needs.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::wstring FormatW(const wchar_t* format, ...);
std::string FormatV(const char* format, va_list args);
std::wstring FormatWV(const wchar_t* format, va_list args);

}  // namespace platform
