// The program's version text, from the file version the build stamps in.
#pragma once

#include <string>

// The build's file version, "1.0.0.1".
std::wstring GetFileVersion();
// The file version without its last part: "1.0.0". Computed once.
std::wstring GetVersionString();
// Trailing white space removed, then cut before the last '.'; a text
// without '.' gives an empty string.
std::wstring VersionTextFromFileVersion(std::wstring fileVersion);
