// Reading many keys of one ini file from a single read of it: the read-side
// companion of ProfileBatch. A load that asks for hundreds of keys (a whole
// calibration) would otherwise read and parse the file once per key.
//
// A snapshot reads the file once, when it is made, and answers every lookup
// from that copy exactly as GetPrivateProfileStringW answers it from the
// file (names without regard to case, the first section and key of a name,
// one pair of matching quotes dropped). Changes made to the file afterwards
// are not seen.
//
// Ownership and threads: immutable once made, so any number of threads may
// look up at once; the owner shares it by reference count.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class __attribute__((visibility("default"))) ProfileSnapshot {
public:
    // `fileName` as the private-profile functions take it; a missing or
    // unreadable file is an empty snapshot.
    explicit ProfileSnapshot(const std::wstring& fileName);
    ~ProfileSnapshot();
    ProfileSnapshot(const ProfileSnapshot&) = delete;
    ProfileSnapshot& operator=(const ProfileSnapshot&) = delete;

    // The value GetPrivateProfileStringW would return with an unlimited
    // buffer; nothing when the section or the key is not there.
    std::optional<std::wstring> Value(std::wstring_view section, std::wstring_view key) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace platform
