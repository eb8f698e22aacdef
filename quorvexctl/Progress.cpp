// Drawing the progress bar or its plain lines.
#include "Progress.h"

#include <algorithm>

#include "Output.h"

namespace quorvexctl {

void CProgress::Show(const std::string& label, int percent) {
    if (!m_out) return;
    percent = std::clamp(percent, 0, 100);
    std::lock_guard lock(m_mutex);
    // "Complete." and "Downloading ... data ..." read "Complete: 100 %" and
    // "Downloading ... data: 25 %".
    std::string text = ForTerminal(label);
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    if (m_terminal) {
        constexpr int kWidth = 30;
        const int filled = percent * kWidth / 100;
        std::fprintf(m_out, "\r%-40.40s [%s%s] %3d %%\033[K", text.c_str(), std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, '-').c_str(), percent);
        m_barShown = true;
    } else {
        const int tenth = percent / 10;
        if (label == m_label && tenth == m_lastTenth) return;
        std::fprintf(m_out, "%s: %d %%\n", text.c_str(), percent);
        m_lastTenth = tenth;
    }
    m_label = label;
    std::fflush(m_out);
}

void CProgress::End() {
    if (!m_out) return;
    std::lock_guard lock(m_mutex);
    if (m_barShown) std::fputc('\n', m_out);
    m_barShown = false;
    std::fflush(m_out);
}

}  // namespace quorvexctl
