// Private profile (ini) files with the Windows layout and semantics, UTF-8.
//
// The file is read whole for every call and, when a write changes it,
// written whole to a temporary file in the same folder that then replaces it
// (rename), so a crash never leaves a half-written file. One mutex
// serialises all profile calls of the process. The file model here is also
// the batch writer's (ProfileBatch.cpp).
#include "platform/Profile_p.h"

#include "platform/Handles_p.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::detail::profile {

std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
}

// ---- Text helpers -------------------------------------------------------------

static bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\v' || c == L'\f'; }

std::wstring Trim(std::wstring_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return std::wstring(text.substr(begin, end - begin));
}

static locale_t FoldLocale() {
    static locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return locale;
}

wchar_t Fold(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? c + 32 : c;
    locale_t locale = FoldLocale();
    return locale ? static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), locale)) : c;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

// ---- The file as lines ----------------------------------------------------------

ParsedLine Parse(const std::wstring& line) {
    ParsedLine parsed;
    const std::wstring trimmed = Trim(line);
    if (trimmed.empty()) return parsed;
    if (trimmed[0] == L';') {
        parsed.type = LineType::Comment;
        return parsed;
    }
    if (trimmed[0] == L'[') {
        const size_t close = trimmed.rfind(L']');
        if (close != std::wstring::npos) {
            parsed.type = LineType::Section;
            parsed.name = Trim(std::wstring_view(trimmed).substr(1, close - 1));
            return parsed;
        }
    }
    parsed.type = LineType::Key;
    const size_t equals = trimmed.find(L'=');
    if (equals == std::wstring::npos) {
        parsed.name = trimmed;  // a key without a value
    } else {
        parsed.name = Trim(std::wstring_view(trimmed).substr(0, equals));
        parsed.value = Trim(std::wstring_view(trimmed).substr(equals + 1));
    }
    return parsed;
}

void Profile::Reparse() {
    parsed.clear();
    for (const auto& line : lines) parsed.push_back(Parse(line));
}

bool Profile::FindSection(std::wstring_view name, size_t& begin, size_t& end) const {
    const std::wstring wanted = Trim(name);
    for (size_t i = 0; i < parsed.size(); ++i) {
        if (parsed[i].type != LineType::Section || !SameName(parsed[i].name, wanted)) continue;
        begin = i;
        end = i + 1;
        while (end < parsed.size() && parsed[end].type != LineType::Section) ++end;
        return true;
    }
    return false;
}

size_t Profile::FindKey(size_t begin, size_t end, std::wstring_view name) const {
    const std::wstring wanted = Trim(name);
    for (size_t i = begin + 1; i < end; ++i)
        if (parsed[i].type == LineType::Key && SameName(parsed[i].name, wanted)) return i;
    return std::wstring::npos;
}

std::optional<std::wstring> Profile::Value(std::wstring_view section, std::wstring_view key) const {
    size_t begin, end;
    if (!FindSection(section, begin, end)) return std::nullopt;
    const size_t line = FindKey(begin, end, key);
    if (line == std::wstring::npos) return std::nullopt;
    return parsed[line].value;
}

bool Load(const std::string& path, Profile& profile, bool& exists) {
    exists = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return true;
        platform::detail::SetLastErrorFromErrno(errno);
        return false;
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            platform::detail::SetLastErrorFromErrno(error == EISDIR ? EACCES : error);
            errno = error;
            return false;
        }
        if (n == 0) break;
        content.append(buffer, n);
    }
    close(fd);
    exists = true;
    // Every byte-order mark that opens the file goes: a second one kept as
    // text of the first line would be written back in front of the file as
    // the mark the next load drops, changing what that line is.
    while (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
    if (content.find("\r\n") != std::string::npos) profile.newline = "\r\n";
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string_view line(content.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        profile.lines.push_back(platform::FromUtf8(line));
        start = end + 1;
    }
    profile.Reparse();
    return true;
}

static bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The folder a file is in, for syncing it after a rename.
static std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Removes the temporary files of `path` that saves killed part-way left
// behind: "<name>.tmp<pid>.<n>" of a process that no longer exists.
static void RemoveStaleTemporaries(const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string prefix = path.substr(path.rfind('/') + 1) + ".tmp";
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string_view rest = name.substr(prefix.size());
        const size_t dot = rest.find('.');
        auto digits = [](std::string_view t) {
            return !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos;
        };
        if (dot == std::string_view::npos || !digits(rest.substr(0, dot)) || !digits(rest.substr(dot + 1)))
            continue;
        const long pid = std::strtol(std::string(rest.substr(0, dot)).c_str(), nullptr, 10);
        // EPERM: the process exists (another user's); only ESRCH means gone.
        if (pid <= 0 || pid == getpid() || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}

bool Save(std::string path, const Profile& profile, bool durable, SaveFailure* failure) {
    auto fail = [&](const char* step, int error) {
        if (failure) *failure = {step, error};
        return false;
    };
    // Through a symbolic link, the file it points to is replaced.
    struct stat info;
    bool existed = lstat(path.c_str(), &info) == 0;
    if (existed && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved)) path = resolved;
        existed = stat(path.c_str(), &info) == 0;
    }
    if (durable) RemoveStaleTemporaries(path);
    std::string content;
    for (const auto& line : profile.lines) {
        content += platform::ToUtf8(line);
        content += profile.newline;
    }
    static unsigned counter = 0;  // under Mutex()
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".tmp" + std::to_string(getpid()) + "." + std::to_string(++counter);
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        // No such folder is a path that was not found, as on Windows.
        const int error = errno;
        SetLastError(error == ENOENT ? ERROR_PATH_NOT_FOUND : platform::detail::ErrnoToWin32(error));
        return fail("the temporary file could not be created", error);
    }
    if (existed) fchmod(fd, info.st_mode & 07777);
    // Without `durable` no fsync: the private-profile functions rewrite the
    // whole file for every key, and a program saving a table key by key
    // would wait milliseconds per key. The rename alone keeps a crash from
    // leaving a half-written file.
    const char* step = nullptr;
    if (!WriteAll(fd, content))
        step = "the temporary file could not be written";
    else if (durable && fsync(fd) != 0)
        step = "the temporary file could not be synced to the disk";
    int error = errno;
    if (close(fd) != 0 && !step) {
        step = "the temporary file could not be written";
        error = errno;
    }
    if (!step && rename(temporary.c_str(), path.c_str()) != 0) {
        step = "the temporary file could not replace the file";
        error = errno;
    }
    if (step) {
        unlink(temporary.c_str());
        platform::detail::SetLastErrorFromErrno(error);
        return fail(step, error);
    }
    if (durable) {
        // The rename itself lives in the folder: until the folder is synced
        // a power cut can bring back the old file, or no file at all.
        const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int syncError = folder < 0 ? errno : 0;
        if (folder >= 0) {
            if (fsync(folder) != 0 && errno != EINVAL) syncError = errno;  // EINVAL: not supported
            close(folder);
        }
        if (syncError) {
            platform::detail::SetLastErrorFromErrno(syncError);
            return fail("the folder could not be synced to the disk", syncError);
        }
    }
    return true;
}

std::wstring_view Unquote(std::wstring_view value) {
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace platform::detail::profile

namespace {

using namespace platform::detail::profile;

constexpr DWORD kErrorInvalidData = 13;  // ERROR_INVALID_DATA
constexpr DWORD kErrorBadLength = 24;    // ERROR_BAD_LENGTH

std::string NarrowPath(LPCWSTR fileName) { return platform::ToUtf8(fileName); }

// Copies a list of names (each NUL-terminated, then a second NUL) the way
// Windows does: when it does not fit, it is cut and size - 2 returned.
DWORD CopyList(const std::vector<std::wstring>& names, LPWSTR out, DWORD size) {
    std::wstring list;
    for (const auto& name : names) {
        list += name;
        list += L'\0';
    }
    if (list.size() + 1 <= size) {
        list.copy(out, list.size());
        out[list.size()] = L'\0';
        if (list.empty() && size >= 2) out[1] = L'\0';
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        out[0] = L'\0';
        return 0;
    }
    list.copy(out, size - 2);
    out[size - 2] = L'\0';
    out[size - 1] = L'\0';
    SetLastError(ERROR_MORE_DATA);
    return size - 2;
}

DWORD CopyValue(std::wstring_view value, LPWSTR out, DWORD size) {
    const size_t n = std::min<size_t>(value.size(), size - 1);
    value.copy(out, n);
    out[n] = L'\0';
    if (n < value.size()) SetLastError(ERROR_MORE_DATA);
    return static_cast<DWORD>(n);
}


// The change that WritePrivateProfileStringW makes; true when it changed anything.
bool Apply(Profile& profile, LPCWSTR section, LPCWSTR key, LPCWSTR value) {
    size_t begin, end;
    const bool found = profile.FindSection(section, begin, end);
    if (!key) {  // remove the section, its header and every line up to the next one
        if (!found) return false;
        profile.lines.erase(profile.lines.begin() + begin, profile.lines.begin() + end);
        return true;
    }
    if (!found) {
        if (!value) return false;
        profile.lines.push_back(L"[" + std::wstring(section) + L"]");
        profile.lines.push_back(std::wstring(key) + L"=" + value);
        return true;
    }
    const size_t line = profile.FindKey(begin, end, key);
    if (!value) {
        if (line == std::wstring::npos) return false;
        profile.lines.erase(profile.lines.begin() + line);
        return true;
    }
    if (line != std::wstring::npos) {
        // Rewritten in place, keeping the name as the file spells it.
        std::wstring text = profile.parsed[line].name + L"=" + value;
        if (text == profile.lines[line]) return false;
        profile.lines[line] = std::move(text);
        return true;
    }
    // A new key goes after the section's last non-blank line.
    size_t at = end;
    while (at > begin + 1 && profile.parsed[at - 1].type == LineType::Blank) --at;
    profile.lines.insert(profile.lines.begin() + at, std::wstring(key) + L"=" + value);
    return true;
}

bool HasLineBreak(std::wstring_view text) { return text.find_first_of(L"\r\n") != text.npos; }

// A caller's text must come back from the file as the same section, key and
// value: a line break in any of them, a ']' in a section name or a '=' in a
// key would otherwise let a stored value add sections and keys of its own.
// A key line that would read as a section header or a comment (a key
// starting with '[' or ';') is refused for the same reason.
}  // namespace

bool platform::detail::profile::CanBeWritten(const wchar_t* section, const wchar_t* key,
                                             const wchar_t* value) {
    const std::wstring_view sectionText(section);
    if (HasLineBreak(sectionText) || sectionText.find(L']') != sectionText.npos) return false;
    if (!key) return true;
    const std::wstring_view keyText(key), valueText(value ? value : L"");
    if (HasLineBreak(keyText) || HasLineBreak(valueText) || keyText.find(L'=') != keyText.npos)
        return false;
    const ParsedLine line = Parse(std::wstring(keyText) + L"=" + std::wstring(valueText));
    return line.type == LineType::Key && line.name == Trim(keyText);
}

std::wstring platform::detail::profile::StructText(const void* data, UINT size) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve((static_cast<size_t>(size) + 1) * 2);
    const auto* bytes = static_cast<const unsigned char*>(data);
    unsigned char sum = 0;
    auto append = [&](unsigned char b) {
        text += kHex[b >> 4];
        text += kHex[b & 0x0F];
    };
    for (UINT i = 0; i < size; ++i) {
        append(bytes[i]);
        sum = static_cast<unsigned char>(sum + bytes[i]);
    }
    append(sum);
    return text;
}

namespace {

BOOL WriteString(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR fileName) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!section) {
        // All null flushes a cache on Windows; there is none here.
        if (!key && !value) return TRUE;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!CanBeWritten(section, key, value)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string path = NarrowPath(fileName);
    std::lock_guard lock(Mutex());
    Profile profile;
    bool exists;
    if (!Load(path, profile, exists)) return FALSE;
    if (!Apply(profile, section, key, value)) return TRUE;
    return Save(path, profile, false) ? TRUE : FALSE;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

}  // namespace

extern "C" {

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue,
                               LPWSTR returned, DWORD size, LPCWSTR fileName) {
    if (!returned || size == 0) return 0;
    returned[0] = L'\0';
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string path = NarrowPath(fileName);
    std::lock_guard lock(Mutex());
    Profile profile;
    bool exists;
    if (!Load(path, profile, exists)) exists = false;  // read as if missing; error kept
    SetLastError(exists ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);

    if (!section) {
        std::vector<std::wstring> names;
        for (const auto& line : profile.parsed) {
            if (line.type != LineType::Section) continue;
            bool seen = false;
            for (const auto& name : names) seen = seen || SameName(name, line.name);
            if (!seen) names.push_back(line.name);
        }
        return CopyList(names, returned, size);
    }
    if (!key) {
        std::vector<std::wstring> names;
        size_t begin, end;
        if (profile.FindSection(section, begin, end))
            for (size_t i = begin + 1; i < end; ++i)
                if (profile.parsed[i].type == LineType::Key) names.push_back(profile.parsed[i].name);
        return CopyList(names, returned, size);
    }
    if (const auto value = profile.Value(section, key)) return CopyValue(Unquote(*value), returned, size);
    // The default loses its trailing blanks, as on Windows.
    std::wstring fallback = defaultValue ? defaultValue : L"";
    while (!fallback.empty() && fallback.back() == L' ') fallback.pop_back();
    if (exists) SetLastError(ERROR_FILE_NOT_FOUND);
    return CopyValue(fallback, returned, size);
}

BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR fileName) {
    return WriteString(section, key, value, fileName);
}

BOOL GetPrivateProfileStructW(LPCWSTR section, LPCWSTR key, LPVOID data, UINT size,
                              LPCWSTR fileName) {
    if (!section || !key || !fileName || !*fileName || (!data && size)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::optional<std::wstring> value;
    {
        const std::string path = NarrowPath(fileName);
        std::lock_guard lock(Mutex());
        Profile profile;
        bool exists;
        if (!Load(path, profile, exists)) return FALSE;
        value = profile.Value(section, key);
    }
    if (!value) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (value->size() != (static_cast<size_t>(size) + 1) * 2) {
        SetLastError(kErrorBadLength);
        return FALSE;
    }
    std::vector<unsigned char> bytes(size + 1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int high = HexDigit((*value)[2 * i]), low = HexDigit((*value)[2 * i + 1]);
        if (high < 0 || low < 0) {
            SetLastError(kErrorInvalidData);
            return FALSE;
        }
        bytes[i] = static_cast<unsigned char>(high * 16 + low);
    }
    unsigned char sum = 0;
    for (UINT i = 0; i < size; ++i) sum = static_cast<unsigned char>(sum + bytes[i]);
    if (sum != bytes[size]) {
        SetLastError(kErrorInvalidData);
        return FALSE;
    }
    if (size) std::memcpy(data, bytes.data(), size);
    return TRUE;
}

BOOL WritePrivateProfileStructW(LPCWSTR section, LPCWSTR key, LPCVOID data, UINT size,
                                LPCWSTR fileName) {
    if (!section || !key) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!data) return WriteString(section, key, nullptr, fileName);  // removes the key
    return WriteString(section, key, StructText(data, size).c_str(), fileName);
}

}  // extern "C"
