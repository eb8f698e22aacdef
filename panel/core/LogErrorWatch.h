// Notices when an entry at Error severity or worse reaches the log file the
// program and the three libraries share, by reading what was appended since
// the last look. The main window shows its error bar then.
//
// Threads: owned and polled by one thread (the GUI thread's timer).
#pragma once

#include <cstdint>
#include <string>

class CLogErrorWatch {
public:
    // Watches `path` from its present end: earlier entries do not count.
    void SetPath(const std::wstring& path);
    // True when an Error, Critical, Alert or Emergency entry was appended
    // since the last call.
    bool Poll();

private:
    std::string m_path;
    std::uintmax_t m_offset = 0;
    std::string m_partial;  // an entry cut off by the end of the last read
};
