// What the fuzz targets share: stopping with a message when a parser breaks
// a rule it promises (libFuzzer then saves the input as a crash), and a
// scratch file for the readers that only take a path.
//
// Each target runs in one thread; the scratch file belongs to the process
// (its name carries the process id, so parallel fuzzing jobs never share
// one) and lives in $TMPDIR, which scripts/fuzz.sh points into build-fuzz.
#pragma once

#include <platform/text.h>

#include <sanitizer/common_interface_defs.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include <unistd.h>

namespace fuzzsupport {

// Aborts with `what` when `ok` is false: a broken promise is a finding.
// The text goes where the sanitizers report, which libFuzzer keeps open
// when it closes the target's standard error (-close_fd_mask=2).
inline void Require(bool ok, const char* what) {
    if (ok) return;
    __sanitizer_report_error_summary((std::string("fuzz check failed: ") + what).c_str());
    std::abort();
}

// The process's scratch file `name`, rewritten with `content` at each call.
class CScratchFile {
public:
    explicit CScratchFile(const std::string& name) {
        const char* folder = std::getenv("TMPDIR");
        m_path = std::string(folder && *folder ? folder : "/tmp") + "/qv-fuzz-" +
                 std::to_string(getpid()) + "-" + name;
        m_widePath = platform::FromUtf8(m_path);
    }
    ~CScratchFile() { std::remove(m_path.c_str()); }
    CScratchFile(const CScratchFile&) = delete;
    CScratchFile& operator=(const CScratchFile&) = delete;

    void Write(std::string_view content) const {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc).write(content.data(), content.size());
    }
    const std::string& Path() const { return m_path; }
    const std::wstring& WidePath() const { return m_widePath; }

private:
    std::string m_path;
    std::wstring m_widePath;
};

}  // namespace fuzzsupport
