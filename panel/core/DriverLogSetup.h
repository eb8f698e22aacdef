// Hands the program's log settings to the three driver libraries.
#pragma once

#include <string>

namespace driverlogsetup {

// Quorvex_SetLogCeiling, Etc_SetLogCeiling, Agilent_SetLogCeiling, in that
// order; the libraries refuse a ceiling above 7 and keep their own.
void SetLogCeiling(unsigned ceiling);
// Quorvex_SetLogfilePath, Etc_SetLogfilePath, Agilent_SetLogfilePath.
void SetLogfilePath(const std::wstring& path);

}  // namespace driverlogsetup
