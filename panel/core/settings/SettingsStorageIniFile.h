// The settings storage on an ini file: a storage is a section, a sub-storage
// the section "<section>.<name>".
//
// A save is one whole-file replacement: the StartWrite that begins it (on a
// storage not already inside a save) opens a batch (platform/ProfileBatch.h)
// that every sub-storage made during the save shares, items are collected
// in it, and the matching EndWrite commits it: the new file is written
// once, synced and renamed over the old one, so a crash leaves the old
// contents or the new, never a mix. The sections the save writes replace
// their old selves whole, and stale numbered entries of a table that got
// shorter go. A failed commit leaves the old file untouched, is logged at
// Error through the storage's log function, and fails the save. Items
// written outside a save go straight to the file through the
// private-profile functions. A load reads the file once and answers every
// item from that copy, so a corrupt table count that sends the load probing
// thousands of missing entries costs lookups, not file reads.
//
// Ownership and threads: the caller owns each storage; sub-storages share
// the save's batch by reference count. One thread uses a storage and its
// sub-storages (the GUI thread in the program).
#pragma once

#include <string>

#include "Settings.h"

namespace platform {
class ProfileBatch;
class ProfileSnapshot;
}

class CSettingsStorageIniFile : public CSettingsStorage {
public:
    CSettingsStorageIniFile(std::wstring filePath, std::wstring section);
    ~CSettingsStorageIniFile() override;

    std::unique_ptr<CSettingsStorage> CreateSubStorage(const std::wstring& name) override;

    // Begin and commit a save (see above); nested calls only count.
    bool StartWrite() override;
    bool EndWrite() override;
    // A load reads the file once: the StartRead that begins it takes a
    // snapshot (platform/ProfileSnapshot.h) that the sub-storages made
    // during the load share, and the matching EndRead lets it go. Items read
    // outside a load go to the file each time.
    bool StartRead() override;
    bool EndRead() override;

    // After a save that failed: why, as logged.
    const std::wstring& FailureText() const { return m_strFailure; }

    // The private-profile struct form (hexadecimal bytes and a checksum).
    bool BinaryItem(const std::wstring& name, void* pData, std::size_t nSize,
                    bool bSave) override;
    bool WideStringItem(const std::wstring& name, std::wstring& value, bool bSave) override;
    // Written "%.3E" with a three-digit exponent, read as "%lf" reads.
    bool DoubleItem(const std::wstring& name, double& value, bool bSave) override;
    // "%f" both ways.
    bool FloatItem(const std::wstring& name, float& value, bool bSave) override;
    // "TRUE" / "FALSE"; anything but exactly "TRUE" reads as false.
    bool BoolItem(const std::wstring& name, bool& value, bool bSave) override;
    bool UIntItem(const std::wstring& name, std::uint32_t& value, bool bSave) override;
    bool IntItem(const std::wstring& name, std::int32_t& value, bool bSave) override;

    const std::wstring& FilePath() const { return m_strFile; }
    const std::wstring& Section() const { return m_strSection; }

private:
    // A missing key reads as an empty string, which no number accepts.
    std::string ReadText(const std::wstring& name) const;
    bool WriteText(const std::wstring& name, const std::string& utf8) const;

    // The save's collected items and whether it is still open; shared by
    // the storage that began the save and the sub-storages made during it.
    struct CSave;

    std::wstring m_strFile;
    std::wstring m_strSection;
    std::shared_ptr<CSave> m_pSave;
    int m_nSaveDepth = 0;  // > 0: this storage began m_pSave
    std::shared_ptr<const platform::ProfileSnapshot> m_pRead;
    int m_nReadDepth = 0;  // > 0: this storage began m_pRead
    std::wstring m_strFailure;
};
