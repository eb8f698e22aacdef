// Ini items as text through GetPrivateProfileStringW / WritePrivateProfileStringW
// and binary items through the private-profile struct functions.
#include "SettingsStorageIniFile.h"

#include <cstdio>

#include "NumberText.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {
// Values are read through a buffer of this many wide characters, so longer
// strings come back cut short.
constexpr DWORD kValueBufferChars = 260;
}  // namespace

CSettingsStorageIniFile::CSettingsStorageIniFile(std::wstring filePath, std::wstring section)
    : m_strFile(std::move(filePath)), m_strSection(std::move(section)) {}

std::unique_ptr<CSettingsStorage> CSettingsStorageIniFile::CreateSubStorage(
    const std::wstring& name) {
    return std::make_unique<CSettingsStorageIniFile>(
        m_strFile, platform::FormatW(L"%ls.%ls", m_strSection.c_str(), name.c_str()));
}

std::string CSettingsStorageIniFile::ReadText(const std::wstring& name) const {
    // Without a file (no data folder) there is nothing to read.
    if (m_strFile.empty()) return {};
    wchar_t buffer[kValueBufferChars] = {};
    GetPrivateProfileStringW(m_strSection.c_str(), name.c_str(), L"", buffer, kValueBufferChars,
                             m_strFile.c_str());
    return platform::ToUtf8(buffer);
}

bool CSettingsStorageIniFile::WriteText(const std::wstring& name, const std::string& utf8) const {
    if (m_strFile.empty()) return false;
    return WritePrivateProfileStringW(m_strSection.c_str(), name.c_str(),
                                      platform::FromUtf8(utf8).c_str(), m_strFile.c_str()) != FALSE;
}

bool CSettingsStorageIniFile::BinaryItem(const std::wstring& name, void* pData,
                                         std::size_t nSize, bool bSave) {
    if (m_strFile.empty()) return false;
    if (bSave)
        return WritePrivateProfileStructW(m_strSection.c_str(), name.c_str(), pData,
                                          static_cast<UINT>(nSize), m_strFile.c_str()) != FALSE;
    return GetPrivateProfileStructW(m_strSection.c_str(), name.c_str(), pData,
                                    static_cast<UINT>(nSize), m_strFile.c_str()) != FALSE;
}

bool CSettingsStorageIniFile::WideStringItem(const std::wstring& name, std::wstring& value,
                                             bool bSave) {
    if (bSave) return WriteText(name, platform::ToUtf8(value));
    value = platform::FromUtf8(ReadText(name));
    return true;
}

bool CSettingsStorageIniFile::DoubleItem(const std::wstring& name, double& value, bool bSave) {
    if (bSave) return WriteText(name, numbertext::Scientific3(value));
    return numbertext::ScanDouble(ReadText(name), value);
}

bool CSettingsStorageIniFile::FloatItem(const std::wstring& name, float& value, bool bSave) {
    if (bSave) return WriteText(name, numbertext::Fixed(value, 6));
    double parsed = 0.0;
    if (!numbertext::ScanDouble(ReadText(name), parsed)) return false;
    value = static_cast<float>(parsed);
    return true;
}

bool CSettingsStorageIniFile::BoolItem(const std::wstring& name, bool& value, bool bSave) {
    if (bSave) return WriteText(name, value ? "TRUE" : "FALSE");
    value = ReadText(name) == "TRUE";
    return true;
}

bool CSettingsStorageIniFile::UIntItem(const std::wstring& name, std::uint32_t& value,
                                       bool bSave) {
    if (bSave) return WriteText(name, std::to_string(value));
    unsigned parsed = 0;
    if (std::sscanf(ReadText(name).c_str(), "%u", &parsed) != 1) return false;
    value = parsed;
    return true;
}

bool CSettingsStorageIniFile::IntItem(const std::wstring& name, std::int32_t& value,
                                      bool bSave) {
    if (bSave) return WriteText(name, std::to_string(value));
    int parsed = 0;
    if (std::sscanf(ReadText(name).c_str(), "%d", &parsed) != 1) return false;
    value = parsed;
    return true;
}
