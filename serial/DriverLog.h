// The diagnostic log each driver library (and the program) writes: a severity
// ceiling, a file back end appending whole entries to one shared file, and
// standard error standing in for the debugger output.
//
// Each library owns one CLibraryLog (its process identity, ceiling, saved
// ceiling and saved path); each device object owns a CDeviceLog that adds the
// "Class (0x...)" prefix and holds one reference on the library's back ends.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>

namespace spdlog {
class logger;
}

namespace driverlog {

// The stock severity levels; the drivers use Error, Warning and Debug.
enum Severity : int {
    Emergency = 0,
    Alert = 1,
    Critical = 2,
    Error = 3,
    Warning = 4,
    Notice = 5,
    Informational = 6,
    Debug = 7,
};

const char* SeverityName(int severity);

class CLibraryLog {
public:
    explicit CLibraryLog(std::string processIdentity);
    ~CLibraryLog();

    CLibraryLog(const CLibraryLog&) = delete;
    CLibraryLog& operator=(const CLibraryLog&) = delete;

    // Reference-counted initialisation of the back ends; the first caller
    // creates them, later ones only count. Always succeeds.
    bool Init();
    // The last caller tears the back ends down.
    void Uninit();
    bool IsInitialised() const;

    // The filter every back end applies: severity at most the ceiling.
    int Ceiling() const { return m_nCeiling.load(std::memory_order_relaxed); }
    void SetCeiling(int ceiling) { m_nCeiling.store(ceiling, std::memory_order_relaxed); }
    bool Passes(int severity) const { return severity <= Ceiling(); }

    // What the SetLogCeiling / SetLogfilePath exports store for objects
    // created later.
    int SavedCeiling() const { return m_nSavedCeiling.load(); }
    void SetSavedCeiling(int ceiling) { m_nSavedCeiling.store(ceiling); }
    std::wstring SavedPath() const;
    void SetSavedPath(const std::wstring& path);

    // What the SetLogCeiling / SetLogfilePath exports do to the library:
    // the value is saved for devices made later and applies at once.
    void SetCeilingAndSave(int ceiling) {
        SetSavedCeiling(ceiling);
        SetCeiling(ceiling);
    }
    void SetFilePathAndSave(const std::wstring& path) {
        SetSavedPath(path);
        SetFilePath(path);
    }

    // Points the file back end at `path`, opened for appending and created
    // when missing; an empty path stops file output. A file that cannot be
    // opened is not an error for the caller: entries then go to standard
    // error only.
    void SetFilePath(const std::wstring& path);

    // Writes one entry to both back ends if it passes the ceiling (and the
    // back ends are initialised).
    void Write(int severity, const std::wstring& message);
    void Write(int severity, const std::string& utf8Message);

    const std::string& ProcessIdentity() const { return m_strIdentity; }

private:
    std::string m_strIdentity;
    std::atomic<int> m_nCeiling{0};
    std::atomic<int> m_nSavedCeiling{0};

    mutable std::mutex m_mutex;  // guards the fields below
    int m_nRefs = 0;
    std::wstring m_strSavedPath;
    std::wstring m_strFilePath;
    std::shared_ptr<spdlog::logger> m_logger;
    std::shared_ptr<class AppendFileSink> m_fileSink;
};

// "%s (0x%p)" of a class name and an address, the address as sixteen
// upper-case hexadecimal digits as Windows prints pointers.
std::wstring MakeLogPrefix(const wchar_t* className, const void* address);

// The per-object face of the log: prefix plus the library's filter.
class CDeviceLog {
public:
    CDeviceLog(CLibraryLog& library, const wchar_t* className, const void* owner);
    // Writes ": Uninitializing Pantheios library." and releases the library.
    ~CDeviceLog();

    CDeviceLog(const CDeviceLog&) = delete;
    CDeviceLog& operator=(const CDeviceLog&) = delete;

    bool Passes(int severity) const { return m_library.Passes(severity); }

    // The entries a device writes when the library's ceiling or file path
    // changes while it is connected.
    void LogCeilingSet(unsigned level) { Log(Debug, L": Logging ceiling set to ", level); }
    void LogFilePathSet(const std::wstring& path) {
        Log(Debug, L": Logfile path set to \"", path, L"\"");
    }
    // A new device takes the library's saved ceiling and path, each with its
    // entry.
    void ApplySavedSettings();
    const std::wstring& Prefix() const { return m_strPrefix; }
    CLibraryLog& Library() { return m_library; }

    // Concatenates prefix and parts (wide or narrow strings, numbers in
    // decimal); nothing is built when the entry would be dropped.
    template <typename... Parts>
    void Log(int severity, Parts&&... parts) {
        if (!Passes(severity)) return;
        std::wstring entry = m_strPrefix;
        (Append(entry, std::forward<Parts>(parts)), ...);
        m_library.Write(severity, entry);
    }

private:
    static void Append(std::wstring& out, const std::wstring& s) { out += s; }
    static void Append(std::wstring& out, const wchar_t* s) { out += s ? s : L""; }
    static void Append(std::wstring& out, const std::string& s);  // widened from UTF-8
    static void Append(std::wstring& out, const char* s);
    static void Append(std::wstring& out, char c) { out += static_cast<wchar_t>(c); }
    static void Append(std::wstring& out, wchar_t c) { out += c; }
    template <typename N>
    static void Append(std::wstring& out, N n) {
        std::wostringstream s;
        s << n;
        out += s.str();
    }

    CLibraryLog& m_library;
    std::wstring m_strPrefix;
    bool m_bInitialised = false;
};

}  // namespace driverlog
