// Saving many keys of one ini file as one whole-file replacement: the batch
// form beside WritePrivateProfileStringW / WritePrivateProfileStructW, which
// rewrite the file once per key.
//
// A batch collects sections and keys in memory and Commit writes the whole
// new file once: the file as it was, with every section the batch owns
// replaced by the batch's sections, goes to a temporary file in the same
// folder, which is synced, renamed over the file, and the folder synced. A
// crash or power cut at any moment leaves the old file or the new one, never
// a mix. A failed commit leaves the old file untouched (only a failed folder
// sync comes after the rename) and says why. A commit also removes the
// temporary files that saves of the same file killed part-way left behind.
//
// Sections the batch owns: each section it writes, and each old section
// named <written section>.<decimal number>, or below such a name (the stale
// entries of a numbered table that got shorter), unless the batch writes it
// too. The batch's sections stand where the first owned old section stood
// (at the end when there was none), with their keys in the order first
// written, exactly as writing them one by one into a new file lays them out.
// Every other section and the lines before the first section are kept as
// they were; the file keeps its line ends (CR LF or LF).
//
// Ownership and threads: one owner uses a batch from one thread at a time.
// Commit takes the lock every private-profile call of the process takes, so
// it never interleaves with one of them.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace platform {

class __attribute__((visibility("default"))) ProfileBatch {
public:
    // `fileName` as the private-profile functions take it.
    explicit ProfileBatch(std::wstring fileName);
    ~ProfileBatch();
    ProfileBatch(const ProfileBatch&) = delete;
    ProfileBatch& operator=(const ProfileBatch&) = delete;

    // Collects key=value in the section; a key written again keeps its place
    // and takes the new value. The text rules of WritePrivateProfileStringW
    // apply: false with ERROR_INVALID_PARAMETER, and nothing collected, for
    // text that would not read back as the same section, key and value.
    bool WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value);
    // The struct form of WritePrivateProfileStructW (hexadecimal and a
    // checksum).
    bool WriteStruct(std::wstring_view section, std::wstring_view key, const void* data,
                     UINT size);
    // How many values were refused since the batch began.
    unsigned Refused() const;

    // Writes the file as described above. False with the last error set and
    // FailureText() saying what failed. The collected keys stay, so a
    // commit can be retried.
    bool Commit();
    // After a failed Commit: e.g. "Saving \"/x/Calibration.ini\" failed: the
    // temporary file could not be created (Permission denied)."
    const std::wstring& FailureText() const;
    const std::wstring& FileName() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace platform
