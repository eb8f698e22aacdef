// The program log on the drivers' log back ends. The library log's own
// ceiling is opened fully: the program's filter decides.
#include "ProgramLog.h"

CProgramLog::CProgramLog(std::function<int()> ceiling)
    : m_fnCeiling(std::move(ceiling)), m_log("Quorvex") {
    m_log.Init();
    m_log.SetCeiling(driverlog::Debug);
}

CProgramLog::~CProgramLog() { m_log.Uninit(); }

void CProgramLog::SetLogfilePath(const std::wstring& path) { m_log.SetFilePath(path); }

void CProgramLog::Write(int severity, const std::wstring& message) {
    if (!Passes(severity)) return;
    m_log.Write(severity, message);
}
