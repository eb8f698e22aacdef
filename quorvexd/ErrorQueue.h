// One client's SCPI error queue: the oldest error first, at most 16; an
// error that finds the queue full replaces the newest entry with -350
// "Queue overflow", so the client learns that errors were lost.
//
// Owned by one client session and used on the server's thread only.
#pragma once

#include <deque>
#include <string>

namespace scpi {

class CErrorQueue {
public:
    static constexpr std::size_t kCapacity = 16;

    // `detail` (may be empty) follows the standard text after "; ".
    void Push(int code, const std::string& detail = {});
    // The oldest entry as SYSTem:ERRor? answers it, `<code>,"<text>"`,
    // taken off the queue; `0,"No error"` when empty.
    std::string Pop();
    void Clear() { m_entries.clear(); }
    std::size_t Size() const { return m_entries.size(); }

private:
    std::deque<std::string> m_entries;
};

}  // namespace scpi
