// Calibration file access (see CalibrationFile.h).
#include "CalibrationFile.h"

#include <platform/text.h>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvexdll {

namespace {

DWORD FromErrno(int error) {
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    default: return ERROR_GEN_FAILURE;
    }
}

}  // namespace

DWORD CCalibrationFile::OpenForReading(const std::wstring& path) {
    Close();
    const std::string narrow = platform::ToUtf8(path);
    const int fd = ::open(narrow.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FromErrno(errno);
    // Windows refuses to open a folder as a file; so do we.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return ERROR_ACCESS_DENIED;
    }
    m_fd = fd;
    return 0;
}

DWORD CCalibrationFile::CreateNew(const std::wstring& path) {
    Close();
    const std::string narrow = platform::ToUtf8(path);
    const int fd = ::open(narrow.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return FromErrno(errno);
    m_fd = fd;
    return 0;
}

void CCalibrationFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_nBegin = m_nEnd = 0;
}

bool CCalibrationFile::Fill() {
    if (m_fd < 0) return false;
    for (;;) {
        const ssize_t n = ::read(m_fd, m_buffer, sizeof m_buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        m_nBegin = 0;
        m_nEnd = static_cast<size_t>(n);
        return true;
    }
}

bool CCalibrationFile::ReadLine(std::string& line) {
    for (;;) {
        if (m_nBegin == m_nEnd && !Fill()) return true;
        while (m_nBegin < m_nEnd) {
            const char c = m_buffer[m_nBegin++];
            line += c;
            if (c == '\n') return false;
        }
    }
}

void CCalibrationFile::Write(std::string_view text) {
    while (m_fd >= 0 && !text.empty()) {
        const ssize_t n = ::write(m_fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

std::string CleanLine(std::string_view line) {
    const size_t comment = line.find(';');
    if (comment != std::string_view::npos) line = line.substr(0, comment);
    constexpr std::string_view kSpace = " \t\n\v\f\r";
    const size_t first = line.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    const size_t last = line.find_last_not_of(kSpace);
    return std::string(line.substr(first, last - first + 1));
}

void AddError(std::vector<std::string>* errors, std::string text) {
    if (errors) errors->push_back(std::move(text));
}

std::string OpenErrorText(const std::wstring& path) {
    return platform::Format("Error opening file with filename \"%s\"", platform::ToUtf8(path).c_str());
}

bool OpenForReading(CCalibrationFile& file, const std::wstring& path, std::vector<std::string>* errors) {
    const DWORD error = file.OpenForReading(path);
    if (error == 0) return true;
    if (error == ERROR_FILE_NOT_FOUND)
        AddError(errors, platform::Format("File not found \"%s\"", platform::ToUtf8(path).c_str()));
    else
        AddError(errors, OpenErrorText(path));
    return false;
}

std::string NoEntriesText(const std::wstring& path) {
    return platform::Format("No entries in file \"%s\"", platform::ToUtf8(path).c_str());
}

bool WriteNewFile(const std::wstring& path, const std::string& text, std::vector<std::string>* errors) {
    if (errors) errors->clear();
    CCalibrationFile file;
    const DWORD error = file.CreateNew(path);
    if (error == ERROR_FILE_EXISTS) {
        AddError(errors, "File already exists");
        return false;
    }
    if (error != 0) {
        AddError(errors, OpenErrorText(path));
        return false;
    }
    file.Write(text);
    return true;
}

}  // namespace quorvexdll
