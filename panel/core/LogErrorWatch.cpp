// Reading the shared log's new entries for errors.
#include "LogErrorWatch.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/text.h"

namespace {

// Every entry starts "[date time; Severity]: ".
bool IsErrorEntry(const std::string& line) {
    for (const char* severity : {"; Error]: ", "; Critical]: ", "; Alert]: ", "; Emergency]: "})
        if (line.find(severity) != std::string::npos) return true;
    return false;
}

}  // namespace

void CLogErrorWatch::SetPath(const std::wstring& path) {
    m_path = platform::ToUtf8(path);
    std::error_code error;
    m_offset = std::filesystem::file_size(m_path, error);
    if (error) m_offset = 0;
    m_partial.clear();
}

bool CLogErrorWatch::Poll() {
    if (m_path.empty()) return false;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(m_path, error);
    if (error || size == m_offset) return false;
    if (size < m_offset) m_offset = 0;  // a new file in its place
    std::ifstream file(m_path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(m_offset));
    std::string text(static_cast<std::size_t>(size - m_offset), '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    m_offset += text.size();
    text = m_partial + text;
    bool found = false;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
        found = found || IsErrorEntry(text.substr(begin, end - begin));
    m_partial = text.substr(begin);
    return found;
}
