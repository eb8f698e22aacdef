// The settings storage on an ini file through the private-profile functions:
// a storage is a section, a sub-storage the section "<section>.<name>".
#pragma once

#include <string>

#include "Settings.h"

class CSettingsStorageIniFile : public CSettingsStorage {
public:
    CSettingsStorageIniFile(std::wstring filePath, std::wstring section);

    std::unique_ptr<CSettingsStorage> CreateSubStorage(const std::wstring& name) override;

    // The file needs no opening: the four calls succeed without acting.
    bool StartWrite() override { return true; }
    bool EndWrite() override { return true; }
    bool StartRead() override { return true; }
    bool EndRead() override { return true; }

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

    std::wstring m_strFile;
    std::wstring m_strSection;
};
