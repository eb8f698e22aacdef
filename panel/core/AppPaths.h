// Paths the program works with: joining, the data folder, the log folder and
// the per-run log file name.
#pragma once

#include <string>

#include "platform/win32.h"

namespace apppaths {

// Appends '/' to `first` unless it already ends with one, then `second`.
std::wstring JoinFile(const std::wstring& first, const std::wstring& second);
// JoinFile followed by a trailing '/'.
std::wstring JoinFolder(const std::wstring& first, const std::wstring& second);

// The all-users application data folder ($XDG_DATA_HOME, else
// ~/.local/share); false when there is none.
bool GetApplicationDataFolder(std::wstring& folder);

// "<appdata>/Vandrel Scientific Ltd/Quorvex Control Panel/"
std::wstring DataFolder(const std::wstring& applicationDataFolder);

// "YYYY-MM-DD_hh-mm-ss_SystemLog.log" of a UTC time.
std::wstring LogFileName(const SYSTEMTIME& utc);

// Creates `folder` and every missing parent. Returns ERROR_SUCCESS,
// ERROR_ALREADY_EXISTS, ERROR_BAD_PATHNAME (not an absolute path),
// ERROR_FILENAME_EXCED_RANGE (a name or the path too long) or another
// Win32 code for other failures.
DWORD CreateFolderTree(const std::wstring& folder);

}  // namespace apppaths
