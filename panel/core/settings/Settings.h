// The persistence framework shared by the settings record (kept in the
// registry) and the calibration copy (kept in Calibration.ini): records that
// list their items once in Serialize and storages that know how to move each
// kind of item in or out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QString>

class CSettingsStorage;

// A persisted record. Serialize lists the record's items; Load and Save wrap
// it in the storage's start/end calls and the hooks.
class CSettings {
public:
    virtual ~CSettings() = default;

    virtual void OnBeforeSave(bool /*bStarted*/) {}
    virtual void OnAfterSave(bool /*bOk*/) {}
    virtual void OnBeforeLoad(bool /*bStarted*/) {}
    virtual void OnAfterLoad(bool /*bOk*/) {}

    // With bReset the record assigns its defaults and leaves the storage
    // alone. Otherwise each item goes through the storage; a failed item
    // either ends the call (bContinueOnError false) or, when loading, takes
    // its default.
    virtual bool Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                           bool bReset) = 0;

    virtual bool Load(CSettingsStorage& storage);
    virtual bool Save(CSettingsStorage& storage);

    // Serialize with bReset on a storage that is never touched.
    void Reset();

protected:
    CSettings() = default;
    CSettings(const CSettings&) = default;
    CSettings& operator=(const CSettings&) = default;
};

// Where records are kept. Every item operation moves one named value in the
// direction bSave says and reports whether it could. A storage and the
// sub-storages made from it are used on one thread (the owner's).
class CSettingsStorage {
public:
    // Where a storage reports a failed save (severity as in the driver log).
    using LogFunction = std::function<void(int severity, const std::wstring& message)>;

    virtual ~CSettingsStorage();

    // Sub-storages made after this call report through the same function.
    void SetLog(LogFunction log) { m_fnLog = std::move(log); }
    const LogFunction& GetLog() const { return m_fnLog; }

    // A storage for the named part below this one; the caller owns it.
    virtual std::unique_ptr<CSettingsStorage> CreateSubStorage(const std::wstring& name) = 0;
    virtual bool ContinueOnError() const { return true; }

    virtual bool StartWrite() = 0;
    virtual bool EndWrite() = 0;
    virtual bool StartRead() = 0;
    virtual bool EndRead() = 0;

    // The primitive items each storage implements.
    virtual bool BinaryItem(const std::wstring& name, void* pData, std::size_t nSize,
                            bool bSave) = 0;
    virtual bool WideStringItem(const std::wstring& name, std::wstring& value, bool bSave) = 0;
    virtual bool DoubleItem(const std::wstring& name, double& value, bool bSave) = 0;
    virtual bool FloatItem(const std::wstring& name, float& value, bool bSave) = 0;
    virtual bool BoolItem(const std::wstring& name, bool& value, bool bSave) = 0;
    virtual bool UIntItem(const std::wstring& name, std::uint32_t& value, bool bSave) = 0;
    virtual bool IntItem(const std::wstring& name, std::int32_t& value, bool bSave) = 0;

    // Items built on the primitives.
    bool Item(const std::wstring& name, std::wstring& value, bool bSave);
    // Narrow strings are kept as their UTF-8 text.
    bool Item(const std::wstring& name, std::string& value, bool bSave);
    bool Item(const std::wstring& name, QString& value, bool bSave);
    // A nested record in the sub-storage of that name.
    bool Item(const std::wstring& name, CSettings& record, bool bSave);
    bool Item(const std::wstring& name, float& value, bool bSave);
    bool Item(const std::wstring& name, double& value, bool bSave);
    bool Item(const std::wstring& name, bool& value, bool bSave);
    bool Item(const std::wstring& name, std::int64_t& value, bool bSave);
    bool Item(const std::wstring& name, std::uint64_t& value, bool bSave);
    bool Item(const std::wstring& name, std::uint8_t& value, bool bSave);
    bool Item(const std::wstring& name, std::int8_t& value, bool bSave);
    bool Item(const std::wstring& name, std::uint16_t& value, bool bSave);
    bool Item(const std::wstring& name, std::int16_t& value, bool bSave);
    bool Item(const std::wstring& name, std::uint32_t& value, bool bSave);
    bool Item(const std::wstring& name, std::int32_t& value, bool bSave);

    // A collection is a sub-storage holding "Count" and one sub-storage per
    // item named by its index. One collection is open at a time.
    virtual bool BeginCollection(const std::wstring& name, std::uint32_t& count, bool bSave);
    virtual bool CollectionItem(std::uint32_t index, CSettings& record, bool bSave);
    virtual bool EndCollection(bool bSave);

protected:
    CSettingsStorage() = default;
    void Log(int severity, const std::wstring& message) const {
        if (m_fnLog) m_fnLog(severity, message);
    }

private:
    std::unique_ptr<CSettingsStorage> m_pCollection;
    LogFunction m_fnLog;
};
