// The driver log on spdlog: a severity filter owned by each library, a file
// back end that appends whole entries, and standard error standing in for
// the debugger output.
#include "serial/DriverLog.h"

#include <platform/text.h>

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace driverlog {

namespace {

// The severity of the entry being formatted. Sinks of a synchronous logger
// run on the writing thread, so a thread-local carries it to the formatter
// without squeezing eight levels into spdlog's six.
thread_local int t_severity = Debug;

class SeverityFlag final : public spdlog::custom_flag_formatter {
public:
    void format(const spdlog::details::log_msg&, const std::tm&,
                spdlog::memory_buf_t& dest) override {
        const char* name = SeverityName(t_severity);
        dest.append(name, name + std::strlen(name));
    }
    std::unique_ptr<custom_flag_formatter> clone() const override {
        return std::make_unique<SeverityFlag>();
    }
};

std::unique_ptr<spdlog::formatter> MakeFormatter() {
    auto formatter = std::make_unique<spdlog::pattern_formatter>();
    formatter->add_flag<SeverityFlag>('*').set_pattern("[%Y-%m-%d %H:%M:%S.%e; %*]: %v");
    return formatter;
}

spdlog::level::level_enum ToSpdlogLevel(int severity) {
    if (severity <= Critical) return spdlog::level::critical;
    if (severity == Error) return spdlog::level::err;
    if (severity == Warning) return spdlog::level::warn;
    if (severity <= Informational) return spdlog::level::info;
    return spdlog::level::debug;
}

}  // namespace

// Appends each entry with a single write() on an O_APPEND descriptor, so the
// program and the three libraries can share one file and their entries
// interleave whole, never inside one another. Entries written before the
// first path is known (a device logs its set-up before the program hands
// over the path) are kept and go into the file once it is opened.
class AppendFileSink final : public spdlog::sinks::base_sink<std::mutex> {
public:
    ~AppendFileSink() override { CloseFile(); }

    void Open(const std::string& path) {
        std::lock_guard lock(mutex_);
        CloseFile();
        if (path.empty()) return;
        m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (m_fd < 0) return;
        m_bHadFile = true;
        for (const auto& entry : m_early) WriteAll(entry.data(), entry.size());
        m_early.clear();
        m_early.shrink_to_fit();
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        spdlog::memory_buf_t formatted;
        formatter_->format(msg, formatted);
        if (m_fd >= 0) {
            WriteAll(formatted.data(), formatted.size());
        } else if (!m_bHadFile && m_early.size() < kMaxEarlyEntries) {
            m_early.emplace_back(formatted.data(), formatted.size());
        }
    }
    void flush_() override {}

private:
    static constexpr size_t kMaxEarlyEntries = 256;

    void WriteAll(const char* data, size_t left) {
        while (left > 0) {
            ssize_t n = ::write(m_fd, data, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;  // a log that cannot be written never fails the caller
            data += n;
            left -= static_cast<size_t>(n);
        }
    }
    void CloseFile() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    int m_fd = -1;
    bool m_bHadFile = false;
    std::vector<std::string> m_early;
};

const char* SeverityName(int severity) {
    static const char* const names[] = {"Emergency", "Alert",  "Critical",      "Error",
                                        "Warning",   "Notice", "Informational", "Debug"};
    if (severity < 0 || severity > 7) return "Unknown";
    return names[severity];
}

CLibraryLog::CLibraryLog(std::string processIdentity) : m_strIdentity(std::move(processIdentity)) {}

CLibraryLog::~CLibraryLog() = default;

bool CLibraryLog::Init() {
    std::lock_guard lock(m_mutex);
    if (m_nRefs++ == 0) {
        m_fileSink = std::make_shared<AppendFileSink>();
        m_fileSink->set_formatter(MakeFormatter());
        m_fileSink->Open(platform::ToUtf8(m_strFilePath));
        auto debugger = std::make_shared<spdlog::sinks::stderr_sink_mt>();
        debugger->set_formatter(MakeFormatter());
        spdlog::sinks_init_list sinks{m_fileSink, debugger};
        m_logger = std::make_shared<spdlog::logger>(m_strIdentity, sinks);
        m_logger->set_level(spdlog::level::trace);  // the ceiling is applied before an entry is built
        m_logger->flush_on(spdlog::level::trace);
    }
    return true;
}

void CLibraryLog::Uninit() {
    std::lock_guard lock(m_mutex);
    if (m_nRefs == 0) return;
    if (--m_nRefs == 0) {
        m_logger.reset();
        m_fileSink.reset();
    }
}

bool CLibraryLog::IsInitialised() const {
    std::lock_guard lock(m_mutex);
    return m_nRefs > 0;
}

std::wstring CLibraryLog::SavedPath() const {
    std::lock_guard lock(m_mutex);
    return m_strSavedPath;
}

void CLibraryLog::SetSavedPath(const std::wstring& path) {
    std::lock_guard lock(m_mutex);
    m_strSavedPath = path;
}

void CLibraryLog::SetFilePath(const std::wstring& path) {
    std::lock_guard lock(m_mutex);
    m_strFilePath = path;
    if (m_fileSink) m_fileSink->Open(platform::ToUtf8(path));
}

void CLibraryLog::Write(int severity, const std::wstring& message) {
    if (!Passes(severity)) return;
    Write(severity, platform::ToUtf8(message));
}

void CLibraryLog::Write(int severity, const std::string& utf8Message) {
    if (!Passes(severity)) return;
    std::shared_ptr<spdlog::logger> logger;
    {
        std::lock_guard lock(m_mutex);
        logger = m_logger;
    }
    if (!logger) return;
    t_severity = severity;
    logger->log(ToSpdlogLevel(severity), spdlog::string_view_t(utf8Message));
}

std::wstring MakeLogPrefix(const wchar_t* className, const void* address) {
    return platform::FormatW(L"%ls (0x%016" PRIXPTR ")", className ? className : L"",
                             reinterpret_cast<uintptr_t>(address));
}

CDeviceLog::CDeviceLog(CLibraryLog& library, const wchar_t* className, const void* owner)
    : m_library(library), m_strPrefix(MakeLogPrefix(className, owner)) {
    m_bInitialised = m_library.Init();
    if (m_bInitialised) Log(Debug, L": Pantheios library initialized.");
}

CDeviceLog::~CDeviceLog() {
    Log(Debug, L": Uninitializing Pantheios library.");
    if (m_bInitialised) m_library.Uninit();
}

void CDeviceLog::ApplySavedSettings() {
    const int ceiling = m_library.SavedCeiling();
    m_library.SetCeiling(ceiling);
    LogCeilingSet(static_cast<unsigned>(ceiling));
    const std::wstring path = m_library.SavedPath();
    m_library.SetFilePath(path);
    LogFilePathSet(path);
}

void CDeviceLog::Append(std::wstring& out, const std::string& s) { out += platform::FromUtf8(s); }

void CDeviceLog::Append(std::wstring& out, const char* s) {
    if (s) out += platform::FromUtf8(s);
}

}  // namespace driverlog
