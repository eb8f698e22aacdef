// Ini items as text: read through GetPrivateProfileStringW, saved through a
// batch that replaces the file once (written one by one through
// WritePrivateProfileStringW outside a save); binary items in the
// private-profile struct form.
#include "SettingsStorageIniFile.h"

#include <cstdio>

#include "NumberText.h"
#include "platform/ProfileBatch.h"
#include "platform/ProfileSnapshot.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "serial/DriverLog.h"

namespace {
// Values are read through a buffer of this many wide characters, so longer
// strings come back cut short.
constexpr DWORD kValueBufferChars = 260;
}  // namespace

struct CSettingsStorageIniFile::CSave {
    explicit CSave(const std::wstring& file) : batch(file) {}
    platform::ProfileBatch batch;
    bool open = true;  // false once committed: late items fail
};

CSettingsStorageIniFile::CSettingsStorageIniFile(std::wstring filePath, std::wstring section)
    : m_strFile(std::move(filePath)), m_strSection(std::move(section)) {}

CSettingsStorageIniFile::~CSettingsStorageIniFile() = default;

std::unique_ptr<CSettingsStorage> CSettingsStorageIniFile::CreateSubStorage(
    const std::wstring& name) {
    auto sub = std::make_unique<CSettingsStorageIniFile>(
        m_strFile, platform::FormatW(L"%ls.%ls", m_strSection.c_str(), name.c_str()));
    sub->SetLog(GetLog());
    if (m_pSave && m_pSave->open) sub->m_pSave = m_pSave;
    sub->m_pRead = m_pRead;
    return sub;
}

bool CSettingsStorageIniFile::StartRead() {
    if (m_nReadDepth > 0) {
        ++m_nReadDepth;
        return true;
    }
    if (m_pRead) return true;  // inside the load that made this storage
    m_pRead = std::make_shared<const platform::ProfileSnapshot>(m_strFile);
    m_nReadDepth = 1;
    return true;
}

bool CSettingsStorageIniFile::EndRead() {
    if (m_nReadDepth > 0 && --m_nReadDepth == 0) m_pRead.reset();
    return true;
}

bool CSettingsStorageIniFile::StartWrite() {
    if (m_nSaveDepth > 0) {
        ++m_nSaveDepth;
        return true;
    }
    if (m_pSave && m_pSave->open) return true;  // inside the save that made this storage
    m_pSave = std::make_shared<CSave>(m_strFile);
    m_nSaveDepth = 1;
    m_strFailure.clear();
    return true;
}

bool CSettingsStorageIniFile::EndWrite() {
    if (m_nSaveDepth == 0 || --m_nSaveDepth > 0) return true;
    const std::shared_ptr<CSave> save = std::move(m_pSave);
    save->open = false;
    bool bOk = true;
    if (const unsigned refused = save->batch.Refused()) {
        // The file is still written: the refused values are the only ones missing.
        Log(driverlog::Error,
            platform::FormatW(L"Saving \"%ls\": %u value(s) cannot be kept in an ini file "
                              L"and were left out.",
                              m_strFile.c_str(), refused));
        bOk = false;
    }
    if (!save->batch.Commit()) {
        m_strFailure = save->batch.FailureText();
        Log(driverlog::Error, m_strFailure);
        return false;
    }
    return bOk;
}

std::string CSettingsStorageIniFile::ReadText(const std::wstring& name) const {
    // Without a file (no data folder) there is nothing to read.
    if (m_strFile.empty()) return {};
    if (m_pRead) {
        std::wstring value = m_pRead->Value(m_strSection, name).value_or(std::wstring());
        if (value.size() > kValueBufferChars - 1) value.resize(kValueBufferChars - 1);
        return platform::ToUtf8(value);
    }
    wchar_t buffer[kValueBufferChars] = {};
    GetPrivateProfileStringW(m_strSection.c_str(), name.c_str(), L"", buffer, kValueBufferChars,
                             m_strFile.c_str());
    return platform::ToUtf8(buffer);
}

bool CSettingsStorageIniFile::WriteText(const std::wstring& name, const std::string& utf8) const {
    if (m_pSave)
        return m_pSave->open &&
               m_pSave->batch.WriteString(m_strSection, name, platform::FromUtf8(utf8));
    if (m_strFile.empty()) return false;
    return WritePrivateProfileStringW(m_strSection.c_str(), name.c_str(),
                                      platform::FromUtf8(utf8).c_str(), m_strFile.c_str()) != FALSE;
}

bool CSettingsStorageIniFile::BinaryItem(const std::wstring& name, void* pData,
                                         std::size_t nSize, bool bSave) {
    if (bSave && m_pSave)
        return m_pSave->open &&
               m_pSave->batch.WriteStruct(m_strSection, name, pData, static_cast<UINT>(nSize));
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
