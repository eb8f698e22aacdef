// Progress of a ramp or a transfer on standard error: a bar redrawn in place
// on a terminal, plain lines (one per label and per tenth) for a log or a
// pipe, so a script's output stays short and readable; nothing at all for a
// null stream (--quiet).
//
// Owned by the subcommand on the main thread; Show is called from the
// drivers' threads as well and is serialised inside.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace quorvexctl {

class CProgress {
public:
    CProgress(std::FILE* out, bool terminal) : m_out(out), m_terminal(terminal) {}
    ~CProgress() { End(); }
    CProgress(const CProgress&) = delete;
    CProgress& operator=(const CProgress&) = delete;

    void Show(const std::string& label, int percent);
    // Ends the bar's line so that what follows starts on a line of its own.
    void End();

private:
    std::mutex m_mutex;
    std::FILE* const m_out;
    const bool m_terminal;
    std::string m_label;
    int m_lastTenth = -1;
    bool m_barShown = false;
};

}  // namespace quorvexctl
