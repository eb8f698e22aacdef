// The batch writer of ini files: keys collected in memory, the file
// replaced once, durably (see ProfileBatch.h for what a batch owns).
#include "platform/ProfileBatch.h"

#include "platform/Handles_p.h"
#include "platform/Profile_p.h"
#include "platform/text.h"

#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

using namespace detail::profile;

namespace {

// Section and key names are looked up without regard to case, as the file
// is read.
std::wstring FoldedName(std::wstring_view name) {
    std::wstring folded = Trim(name);
    for (wchar_t& c : folded) c = Fold(c);
    return folded;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

std::wstring ErrorText(int error) {
    char buffer[256];
    // The GNU strerror_r, which returns the text (thread-safe).
    return FromUtf8(strerror_r(error, buffer, sizeof buffer));
}

}  // namespace

struct ProfileBatch::Impl {
    struct Section {
        std::wstring header;                                   // "[name]"
        std::vector<std::pair<std::wstring, std::wstring>> keys;  // name, value
        std::unordered_map<std::wstring, size_t> keyIndex;     // folded name -> keys
    };

    std::wstring fileName;
    std::vector<Section> sections;
    std::unordered_map<std::wstring, size_t> sectionIndex;  // folded name -> sections
    unsigned refused = 0;
    std::wstring failureText;

    // Whether an old section with this (trimmed) name gives way to the batch.
    bool Owns(const std::wstring& name) const {
        const std::wstring folded = FoldedName(name);
        if (sectionIndex.count(folded)) return true;
        // <written>.<number> or below it.
        for (size_t dot = folded.find(L'.'); dot != std::wstring::npos;
             dot = folded.find(L'.', dot + 1)) {
            size_t end = dot + 1;
            while (end < folded.size() && IsDigit(folded[end])) ++end;
            const bool numbered = end > dot + 1 && (end == folded.size() || folded[end] == L'.');
            if (numbered && sectionIndex.count(folded.substr(0, dot))) return true;
        }
        return false;
    }

    // The old file with its owned sections taken out and the batch's put in.
    Profile Merge(const Profile& old) const {
        Profile merged;
        merged.newline = old.newline;
        size_t insertAt = std::wstring::npos;
        bool skipping = false;
        for (size_t i = 0; i < old.lines.size(); ++i) {
            if (old.parsed[i].type == LineType::Section) {
                skipping = Owns(old.parsed[i].name);
                if (skipping && insertAt == std::wstring::npos) insertAt = merged.lines.size();
            }
            if (!skipping) merged.lines.push_back(old.lines[i]);
        }
        std::vector<std::wstring> fresh;
        for (const Section& section : sections) {
            fresh.push_back(section.header);
            for (const auto& [key, value] : section.keys) fresh.push_back(key + L"=" + value);
        }
        if (insertAt == std::wstring::npos) insertAt = merged.lines.size();
        merged.lines.insert(merged.lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                            fresh.begin(), fresh.end());
        return merged;
    }

    bool Fail(const std::wstring& reason, int error) {
        failureText = L"Saving \"" + fileName + L"\" failed: " + reason;
        if (error) failureText += L" (" + ErrorText(error) + L")";
        failureText += L".";
        return false;
    }
};

ProfileBatch::ProfileBatch(std::wstring fileName) : m_impl(std::make_unique<Impl>()) {
    m_impl->fileName = std::move(fileName);
}

ProfileBatch::~ProfileBatch() = default;

bool ProfileBatch::WriteString(std::wstring_view section, std::wstring_view key,
                               std::wstring_view value) {
    const std::wstring sectionText(section), keyText(key), valueText(value);
    if (!CanBeWritten(sectionText.c_str(), keyText.c_str(), valueText.c_str())) {
        ++m_impl->refused;
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    Impl& impl = *m_impl;
    auto [found, added] = impl.sectionIndex.try_emplace(FoldedName(section), impl.sections.size());
    if (added) impl.sections.push_back({L"[" + sectionText + L"]", {}, {}});
    Impl::Section& target = impl.sections[found->second];
    auto [keyAt, newKey] = target.keyIndex.try_emplace(FoldedName(key), target.keys.size());
    if (newKey)
        target.keys.emplace_back(keyText, valueText);
    else  // rewritten in place under the name as the file would spell it
        target.keys[keyAt->second] = {Trim(target.keys[keyAt->second].first), valueText};
    return true;
}

bool ProfileBatch::WriteStruct(std::wstring_view section, std::wstring_view key, const void* data,
                               UINT size) {
    if (!data) {
        ++m_impl->refused;
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return WriteString(section, key, StructText(data, size));
}

unsigned ProfileBatch::Refused() const { return m_impl->refused; }

bool ProfileBatch::Commit() {
    Impl& impl = *m_impl;
    impl.failureText.clear();
    if (impl.fileName.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        impl.failureText = L"Saving an ini file failed: no file name was given.";
        return false;
    }
    const std::string path = ToUtf8(impl.fileName);
    std::lock_guard lock(Mutex());
    Profile old;
    bool exists = false;
    // Without the old file's other sections the save would lose them.
    if (!Load(path, old, exists)) return impl.Fail(L"the file could not be read", errno);
    SaveFailure failure;
    if (!Save(path, impl.Merge(old), true, &failure))
        return impl.Fail(FromUtf8(failure.step), failure.error);
    return true;
}

const std::wstring& ProfileBatch::FailureText() const { return m_impl->failureText; }

const std::wstring& ProfileBatch::FileName() const { return m_impl->fileName; }

}  // namespace platform
