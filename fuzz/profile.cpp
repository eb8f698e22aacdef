// Fuzz target: the private-profile (ini) functions. The input is the file,
// read through every listing and value call with buffers from one
// character up; then one key is written and the file read again: the key
// reads back as written and every other value stays what it was.
#include "FuzzSupport.h"

#include <platform/win32.h>

#include <cstdint>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include <locale.h>

using fuzzsupport::Require;

namespace {

// A NUL-separated list, ended by a second NUL, as the listing calls fill it.
std::vector<std::wstring> SplitList(const wchar_t* list, DWORD length) {
    std::vector<std::wstring> names;
    for (DWORD start = 0; start < length;) {
        const std::wstring name(list + start);
        names.push_back(name);
        start += static_cast<DWORD>(name.size()) + 1;
    }
    return names;
}

std::vector<std::wstring> List(const wchar_t* section, const std::wstring& file, DWORD size = 65536) {
    std::vector<wchar_t> buffer(size);
    const DWORD length = GetPrivateProfileStringW(section, nullptr, L"", buffer.data(), size, file.c_str());
    Require(length < size && buffer[length] == L'\0', "listing: NUL-terminated within the buffer");
    return SplitList(buffer.data(), length);
}

std::wstring Value(const std::wstring& section, const std::wstring& key, const std::wstring& file, DWORD size = 4096) {
    std::vector<wchar_t> buffer(size);
    const DWORD length =
        GetPrivateProfileStringW(section.c_str(), key.c_str(), L"default", buffer.data(), size, file.c_str());
    Require(length < size && buffer[length] == L'\0', "value: NUL-terminated within the buffer");
    return std::wstring(buffer.data(), length);
}

// Names as the profile functions look them up: without the blanks around
// them and without regard to case.
std::wstring Trimmed(const std::wstring& name) {
    const wchar_t* const blanks = L" \t\r\v\f";
    const size_t first = name.find_first_not_of(blanks);
    if (first == std::wstring::npos) return {};
    return name.substr(first, name.find_last_not_of(blanks) - first + 1);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    static const locale_t folding = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return wcscasecmp_l(Trimmed(a).c_str(), Trimmed(b).c_str(), folding) == 0;
}

using Snapshot = std::map<std::pair<std::wstring, std::wstring>, std::wstring>;

// Every value the listings lead to.
Snapshot Read(const std::wstring& file) {
    Snapshot values;
    for (const std::wstring& section : List(nullptr, file))
        for (const std::wstring& key : List(section.c_str(), file))
            values.emplace(std::make_pair(section, key), Value(section, key, file));
    return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::CScratchFile scratch("profile.ini");
    const std::wstring& file = scratch.WidePath();

    // The last bytes, when there are enough, name what is written: a
    // section and key picked from the file and a value; the rest is the file.
    const size_t tail = size >= 3 ? 3 : 0;
    const std::string_view content(reinterpret_cast<const char*>(data), size - tail);
    scratch.Write(content);

    const Snapshot before = Read(file);
    // Every call reads the whole file: the checks below look at the first
    // few keys only, so a file of many keys does not slow the fuzzer down.
    constexpr size_t kChecked = 8;
    // Small buffers: cut listings and values.
    for (DWORD small = 1; small <= 4; ++small) {
        List(nullptr, file, small);
        size_t checked = 0;
        for (const auto& [name, value] : before) {
            if (++checked > kChecked) break;
            List(name.first.c_str(), file, small);
            Value(name.first, name.second, file, small);
        }
    }
    size_t checked = 0;
    for (const auto& [name, value] : before) {
        if (++checked > kChecked) break;
        unsigned char bytes[8];
        // The size the value's length would fit, at most the buffer's.
        const UINT fits = static_cast<UINT>(value.size() / 2 > 0 ? value.size() / 2 - 1 : 0);
        GetPrivateProfileStructW(name.first.c_str(), name.second.c_str(), bytes, fits % (sizeof bytes + 1),
                                 file.c_str());
    }
    if (tail == 0 || before.empty() || before.size() > 4 * kChecked) return 0;

    const uint8_t* pick = data + size - tail;
    auto it = before.begin();
    std::advance(it, pick[0] % before.size());
    const std::wstring section = it->first.first;
    const std::wstring key = pick[1] & 1 ? it->first.second : L"NewKey";
    const std::wstring value = L"v" + std::to_wstring(pick[2]) + L"x";
    if (!WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), file.c_str())) return 0;

    const Snapshot after = Read(file);
    Require(Value(section, key, file) == value, "write: the key reads back as written");
    for (const auto& [name, old] : before) {
        if (SameName(name.first, section) && SameName(name.second, key)) continue;
        const auto now = after.find(name);
        Require(now != after.end(), "write: every other key is still there");
        Require(now->second == old, "write: every other value is unchanged");
    }
    return 0;
}
