// The only place the program calls the libraries' log set-up exports.
#include "DriverLogSetup.h"

#include "PsuDll/PsuDll.h"
#include "QuorvexDll/QuorvexDll.h"
#include "TallyDll/TallyDll.h"

namespace driverlogsetup {

void SetLogCeiling(unsigned ceiling) {
    // The results only say whether a library accepted the value.
    Quorvex_SetLogCeiling(ceiling);
    Etc_SetLogCeiling(ceiling);
    Agilent_SetLogCeiling(ceiling);
}

void SetLogfilePath(const std::wstring& path) {
    Quorvex_SetLogfilePath(path.c_str());
    Etc_SetLogfilePath(path.c_str());
    Agilent_SetLogfilePath(path.c_str());
}

}  // namespace driverlogsetup
