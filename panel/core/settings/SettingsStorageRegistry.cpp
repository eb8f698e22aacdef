// Registry items on QSettings. Values keep the registry's kinds: DWORDs are
// integers, strings strings, binary values byte arrays; doubles, floats and
// 64-bit integers travel as their raw bytes.
#include "SettingsStorageRegistry.h"

#include <cstring>
#include <limits>

#include <QByteArray>
#include <QVariant>

#include "serial/DriverLog.h"

namespace {

const QString kOrganisation = QStringLiteral("Vandrel Scientific Ltd");
const QString kApplication = QStringLiteral("Quorvex Control Panel");
const QString kApplicationSettingsKey = QStringLiteral("Application Settings");

QString NormaliseKey(QString key) {
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (key.startsWith(QLatin1Char('/'))) key.remove(0, 1);
    while (key.endsWith(QLatin1Char('/'))) key.chop(1);
    return key;
}

}  // namespace

std::unique_ptr<CSettingsStorageRegistry> CSettingsStorageRegistry::ForApplicationSettings(
    LogFunction log) {
    auto settings = std::make_shared<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                kOrganisation, kApplication);
    auto storage = std::make_unique<CSettingsStorageRegistry>(std::move(settings), QString(),
                                                              kApplicationSettingsKey);
    storage->SetLog(std::move(log));
    return storage;
}

CSettingsStorageRegistry::CSettingsStorageRegistry(std::shared_ptr<QSettings> settings,
                                                   QString parentKey, const QString& subKey)
    : m_settings(std::move(settings)) {
    parentKey = NormaliseKey(parentKey);
    const QString sub = NormaliseKey(subKey);
    m_strKey = parentKey.isEmpty() ? sub
               : sub.isEmpty()     ? parentKey
                                   : parentKey + QLatin1Char('/') + sub;
}

std::unique_ptr<CSettingsStorage> CSettingsStorageRegistry::CreateSubStorage(
    const std::wstring& name) {
    auto sub = std::make_unique<CSettingsStorageRegistry>(m_settings, m_strKey,
                                                          QString::fromStdWString(name));
    sub->SetLog(GetLog());
    sub->m_bInsideSave = m_bInsideSave || m_open == EOpen::Write;
    return sub;
}

bool CSettingsStorageRegistry::StartWrite() {
    if (!m_settings->isWritable()) {
        if (!m_bInsideSave)
            Log(driverlog::Error, L"Saving the settings to \"" +
                                      m_settings->fileName().toStdWString() +
                                      L"\" failed: the file cannot be written.");
        return false;
    }
    m_open = EOpen::Write;
    return true;
}

bool CSettingsStorageRegistry::EndWrite() {
    const bool bWasOpen = m_open == EOpen::Write;
    m_open = EOpen::Closed;
    if (!bWasOpen || m_bInsideSave) return true;
    m_settings->sync();
    const QSettings::Status status = m_settings->status();
    if (status == QSettings::NoError) return true;
    Log(driverlog::Error,
        L"Saving the settings to \"" + m_settings->fileName().toStdWString() + L"\" failed: " +
            (status == QSettings::AccessError ? L"the file could not be written (access error)."
                                              : L"the file is not in the settings format (format error)."));
    return false;
}

bool CSettingsStorageRegistry::StartRead() {
    if (!KeyExists()) return false;
    m_open = EOpen::Read;
    return true;
}

bool CSettingsStorageRegistry::EndRead() {
    m_open = EOpen::Closed;
    return true;
}

bool CSettingsStorageRegistry::KeyExists() const {
    if (m_strKey.isEmpty()) return true;
    m_settings->beginGroup(m_strKey);
    const bool bExists =
        !m_settings->childKeys().isEmpty() || !m_settings->childGroups().isEmpty();
    m_settings->endGroup();
    return bExists;
}

QString CSettingsStorageRegistry::ValuePath(const std::wstring& name) const {
    const QString value = QString::fromStdWString(name);
    return m_strKey.isEmpty() ? value : m_strKey + QLatin1Char('/') + value;
}

bool CSettingsStorageRegistry::BinaryItem(const std::wstring& name, void* pData,
                                          std::size_t nSize, bool bSave) {
    if (bSave) {
        if (m_open != EOpen::Write) return false;
        m_settings->setValue(ValuePath(name),
                             QByteArray(static_cast<const char*>(pData),
                                        static_cast<qsizetype>(nSize)));
        return true;
    }
    if (m_open != EOpen::Read) return false;
    const QVariant stored = m_settings->value(ValuePath(name));
    if (!stored.isValid() || stored.typeId() != QMetaType::QByteArray) return false;
    const QByteArray bytes = stored.toByteArray();
    if (static_cast<std::size_t>(bytes.size()) != nSize) return false;
    std::memcpy(pData, bytes.constData(), nSize);
    return true;
}

bool CSettingsStorageRegistry::WideStringItem(const std::wstring& name, std::wstring& value,
                                              bool bSave) {
    if (bSave) {
        if (m_open != EOpen::Write) return false;
        m_settings->setValue(ValuePath(name), QString::fromStdWString(value));
        return true;
    }
    if (m_open != EOpen::Read) return false;
    const QVariant stored = m_settings->value(ValuePath(name));
    if (!stored.isValid() || !stored.canConvert<QString>()) return false;
    value = stored.toString().toStdWString();
    return true;
}

bool CSettingsStorageRegistry::DoubleItem(const std::wstring& name, double& value, bool bSave) {
    return BinaryItem(name, &value, sizeof value, bSave);
}

bool CSettingsStorageRegistry::FloatItem(const std::wstring& name, float& value, bool bSave) {
    return BinaryItem(name, &value, sizeof value, bSave);
}

bool CSettingsStorageRegistry::BoolItem(const std::wstring& name, bool& value, bool bSave) {
    std::uint32_t dword = value ? 1u : 0u;
    if (!DwordItem(name, dword, bSave)) return false;
    if (!bSave) value = dword != 0;
    return true;
}

bool CSettingsStorageRegistry::UIntItem(const std::wstring& name, std::uint32_t& value,
                                        bool bSave) {
    return DwordItem(name, value, bSave);
}

bool CSettingsStorageRegistry::IntItem(const std::wstring& name, std::int32_t& value,
                                       bool bSave) {
    // Signed values share the DWORD form: -1 is stored as 4294967295.
    std::uint32_t dword = static_cast<std::uint32_t>(value);
    if (!DwordItem(name, dword, bSave)) return false;
    if (!bSave) value = static_cast<std::int32_t>(dword);
    return true;
}

bool CSettingsStorageRegistry::DwordItem(const std::wstring& name, std::uint32_t& value,
                                         bool bSave) {
    if (bSave) {
        if (m_open != EOpen::Write) return false;
        m_settings->setValue(ValuePath(name), static_cast<uint>(value));
        return true;
    }
    if (m_open != EOpen::Read) return false;
    const QVariant stored = m_settings->value(ValuePath(name));
    if (!stored.isValid() || stored.typeId() == QMetaType::QByteArray) return false;
    // The native format on Linux keeps only the text of a number, so a value
    // written by hand as "-1" is accepted as well as "4294967295".
    bool bOk = false;
    const qlonglong number = stored.toLongLong(&bOk);
    if (!bOk || number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::uint32_t>::max())
        return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}
