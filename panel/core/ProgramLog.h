// The program's own log: same back ends as the driver libraries (the shared
// per-run file and standard error), filtered by the live ceiling setting.
#pragma once

#include <functional>
#include <string>

#include "serial/DriverLog.h"

class CProgramLog {
public:
    // `ceiling` is asked at every entry, from whichever thread logs, so a
    // change of the setting applies to the next entry.
    explicit CProgramLog(std::function<int()> ceiling);
    ~CProgramLog();

    CProgramLog(const CProgramLog&) = delete;
    CProgramLog& operator=(const CProgramLog&) = delete;

    // Appends entries to `path` (shared with the libraries), created if
    // missing.
    void SetLogfilePath(const std::wstring& path);

    bool Passes(int severity) const { return severity <= m_fnCeiling(); }
    void Write(int severity, const std::wstring& message);

private:
    std::function<int()> m_fnCeiling;
    driverlog::CLibraryLog m_log;
};
