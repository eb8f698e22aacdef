// The settings storage on the per-user registry, which is QSettings in its
// native format: a key is a settings group, a sub-storage a sub-group.
//
// A save ends with one QSettings sync, made by the EndWrite of the storage
// whose StartWrite began it (sub-storages made during the save only close);
// a failed sync (QSettings::status()) is logged at Error through the
// storage's log function and fails the save.
//
// Ownership and threads: storages share their QSettings object; one thread
// uses a storage and its sub-storages (the GUI thread in the program).
#pragma once

#include <memory>

#include <QSettings>
#include <QString>

#include "Settings.h"

class CSettingsStorageRegistry : public CSettingsStorage {
public:
    // The program's key: organisation "Vandrel Scientific Ltd", application
    // "Quorvex Control Panel", group "Application Settings".
    static std::unique_ptr<CSettingsStorageRegistry> ForApplicationSettings(LogFunction log = {});

    // `parentKey` is a group path ("" for the application's root); `subKey`
    // is a path below it, with '/' or '\\' between its parts.
    CSettingsStorageRegistry(std::shared_ptr<QSettings> settings, QString parentKey,
                             const QString& subKey);

    std::unique_ptr<CSettingsStorage> CreateSubStorage(const std::wstring& name) override;

    bool StartWrite() override;
    bool EndWrite() override;
    // Fails when the key does not exist.
    bool StartRead() override;
    bool EndRead() override;

    bool BinaryItem(const std::wstring& name, void* pData, std::size_t nSize,
                    bool bSave) override;
    bool WideStringItem(const std::wstring& name, std::wstring& value, bool bSave) override;
    bool DoubleItem(const std::wstring& name, double& value, bool bSave) override;
    bool FloatItem(const std::wstring& name, float& value, bool bSave) override;
    bool BoolItem(const std::wstring& name, bool& value, bool bSave) override;
    bool UIntItem(const std::wstring& name, std::uint32_t& value, bool bSave) override;
    bool IntItem(const std::wstring& name, std::int32_t& value, bool bSave) override;

    const QString& KeyPath() const { return m_strKey; }

private:
    enum class EOpen { Closed, Read, Write };

    QString ValuePath(const std::wstring& name) const;
    bool KeyExists() const;
    bool DwordItem(const std::wstring& name, std::uint32_t& value, bool bSave);

    std::shared_ptr<QSettings> m_settings;
    QString m_strKey;  // parent key joined with the sub-key path
    EOpen m_open = EOpen::Closed;
    bool m_bInsideSave = false;  // made while its parent was open for writing
};
