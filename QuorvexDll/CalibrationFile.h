// File access shared by the two calibration file classes: opening with the
// Windows outcomes the callers test for (a missing file, a file that already
// exists and must not be overwritten), reading line by line, cleaning a line
// of its comment and surrounding white space, and the error entries both
// report.
#pragma once

#include <platform/win32.h>

#include <string>
#include <string_view>
#include <vector>

namespace quorvexdll {

// One open calibration file; closed when the object goes.
class CCalibrationFile {
public:
    CCalibrationFile() = default;
    ~CCalibrationFile() { Close(); }
    CCalibrationFile(const CCalibrationFile&) = delete;
    CCalibrationFile& operator=(const CCalibrationFile&) = delete;

    // Each returns 0 or the Win32 error code of the failure:
    // ERROR_FILE_NOT_FOUND, ERROR_FILE_EXISTS (CreateNew only),
    // ERROR_ACCESS_DENIED (also for a folder), ERROR_PATH_NOT_FOUND, ...
    DWORD OpenForReading(const std::wstring& path);
    // Creates the file; an existing one is never touched.
    DWORD CreateNew(const std::wstring& path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Appends bytes up to and including the next line feed to `line`.
    // Returns true at end of file (the last read brought no byte), with
    // whatever came before it still appended.
    bool ReadLine(std::string& line);
    // Write errors after a successful open are not reported.
    void Write(std::string_view text);

private:
    bool Fill();

    int m_fd = -1;
    char m_buffer[4096];
    size_t m_nBegin = 0;
    size_t m_nEnd = 0;
};

// Drops everything from the first ';' on, then leading and trailing white
// space.
std::string CleanLine(std::string_view line);

// Calls `handle` with each line still to be read, as read (line feed
// included). A last line without a line feed counts; an empty tail does not.
template <typename Handle>
void ForEachLine(CCalibrationFile& file, Handle handle) {
    for (;;) {
        std::string line;
        if (file.ReadLine(line)) {
            if (!CleanLine(line).empty()) handle(line);
            return;
        }
        handle(line);
    }
}

// The error list of the table files' Read and Write, which callers may omit.
void AddError(std::vector<std::string>* errors, std::string text);
// The entry for a file that could not be opened for a reason of its own.
std::string OpenErrorText(const std::wstring& path);
// A table file's Read: opens `path` into `file`; false, with its entry in
// `errors` ("File not found" for a missing file), when it cannot be opened.
bool OpenForReading(CCalibrationFile& file, const std::wstring& path, std::vector<std::string>* errors);
// The entry for a file that opened and holds no entry of a table: uploading
// it would empty the head unit's table.
std::string NoEntriesText(const std::wstring& path);
// A table file's Write: clears `errors`, creates `path` (never over an
// existing file) and writes `text`; false, with its entry in `errors`, when
// the file cannot be created.
bool WriteNewFile(const std::wstring& path, const std::string& text, std::vector<std::string>* errors);

}  // namespace quorvexdll
