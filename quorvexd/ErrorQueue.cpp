// The per-client error queue.
#include "ErrorQueue.h"

#include "ScpiParser.h"

namespace scpi {

namespace {

std::string Entry(int error, const std::string& detail) {
    std::string text = ErrorText(error);
    if (!detail.empty()) text += "; " + detail;
    // A quote inside the text would end the SCPI string early.
    std::string quoted;
    for (char c : text) {
        quoted.push_back(c);
        if (c == '"') quoted.push_back('"');
    }
    return std::to_string(error) + ",\"" + quoted + "\"";
}

}  // namespace

void CErrorQueue::Push(int error, const std::string& detail) {
    if (m_entries.size() >= kCapacity) {
        m_entries.back() = Entry(code::kQueueOverflow, {});
        return;
    }
    m_entries.push_back(Entry(error, detail));
}

std::string CErrorQueue::Pop() {
    if (m_entries.empty()) return Entry(code::kNoError, {});
    std::string entry = std::move(m_entries.front());
    m_entries.pop_front();
    return entry;
}

}  // namespace scpi
