// Internal to libplatform: the ini file model shared by the private-profile
// functions (Profile.cpp) and the batch writer (ProfileBatch.cpp): the file
// as parsed lines, reading it, replacing it through a temporary file, the
// text rules a written value must meet, and the one lock that serialises
// every profile file access of the process.
#pragma once

#include "platform/win32.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::detail::profile {

// Held for each whole read-modify-write of a profile file.
std::mutex& Mutex();

// Names compare without regard to case, like Windows.
wchar_t Fold(wchar_t c);
bool SameName(std::wstring_view a, std::wstring_view b);
std::wstring Trim(std::wstring_view text);

enum class LineType { Blank, Comment, Section, Key };

struct ParsedLine {
    LineType type = LineType::Blank;
    std::wstring name;   // section or key name, trimmed
    std::wstring value;  // key value, trimmed
};

ParsedLine Parse(const std::wstring& line);

struct Profile {
    std::vector<std::wstring> lines;
    std::vector<ParsedLine> parsed;
    const char* newline = "\n";  // kept as CR LF when the file used it

    void Reparse();
    // [begin, end) of the first section with that name: begin is its header.
    bool FindSection(std::wstring_view name, size_t& begin, size_t& end) const;
    // Line of the key within [begin, end), or npos.
    size_t FindKey(size_t begin, size_t end, std::wstring_view name) const;
    std::optional<std::wstring> Value(std::wstring_view section, std::wstring_view key) const;
};

// Reads the profile; a missing file is an empty profile (exists = false).
// False with the last error set, and errno left at the cause, when the file
// cannot be read.
bool Load(const std::string& path, Profile& profile, bool& exists);

// Which step of a save failed, and the errno it failed with.
struct SaveFailure {
    const char* step = nullptr;  // e.g. "the temporary file could not be created"
    int error = 0;
};

// Replaces the file (through a symbolic link, the file it points to) with
// the profile's lines, through a temporary file in the same folder renamed
// over it. With `durable` the temporary file is synced before the rename
// and the folder after it, so the new file also survives a power cut, and
// temporary files that killed saves of this file left behind (of processes
// that no longer exist) are removed first. On
// failure the last error is set, `failure` says why, and the temporary file
// is gone; the old file is untouched unless only the folder sync failed.
bool Save(std::string path, const Profile& profile, bool durable, SaveFailure* failure = nullptr);

// Whether section, key and value come back from the file as the same
// section, key and value (key null: a section removal).
bool CanBeWritten(const wchar_t* section, const wchar_t* key, const wchar_t* value);

// Windows drops one pair of matching quotes around a value when reading it.
std::wstring_view Unquote(std::wstring_view value);

// The struct form of a value: upper-case hexadecimal bytes and their sum.
std::wstring StructText(const void* data, UINT size);

}  // namespace platform::detail::profile
