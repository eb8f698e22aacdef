// The record load/save sequence and the items every storage builds on its
// primitives: nested records, collections, narrow strings and integers of
// other widths.
#include "Settings.h"

#include <cstring>

#include "platform/text.h"

namespace {

// Stands in for a storage when a record only resets itself; every item fails
// so a record that touched it by mistake would notice.
class CNullStorage final : public CSettingsStorage {
public:
    std::unique_ptr<CSettingsStorage> CreateSubStorage(const std::wstring&) override {
        return nullptr;
    }
    bool StartWrite() override { return false; }
    bool EndWrite() override { return false; }
    bool StartRead() override { return false; }
    bool EndRead() override { return false; }
    bool BinaryItem(const std::wstring&, void*, std::size_t, bool) override { return false; }
    bool WideStringItem(const std::wstring&, std::wstring&, bool) override { return false; }
    bool DoubleItem(const std::wstring&, double&, bool) override { return false; }
    bool FloatItem(const std::wstring&, float&, bool) override { return false; }
    bool BoolItem(const std::wstring&, bool&, bool) override { return false; }
    bool UIntItem(const std::wstring&, std::uint32_t&, bool) override { return false; }
    bool IntItem(const std::wstring&, std::int32_t&, bool) override { return false; }
};

// Moves a narrower integer through the 32-bit item of the same signedness.
template <typename Wide, typename Narrow, typename Move>
bool ThroughWider(Narrow& value, bool bSave, Move move) {
    Wide wide = static_cast<Wide>(value);
    if (!move(wide)) return false;
    if (!bSave) value = static_cast<Narrow>(wide);
    return true;
}

}  // namespace

// ---- CSettings ------------------------------------------------------------

bool CSettings::Load(CSettingsStorage& storage) {
    const bool bStarted = storage.StartRead();
    OnBeforeLoad(bStarted);
    bool bOk = bStarted && Serialize(storage.ContinueOnError(), storage, false, false);
    bOk = storage.EndRead() && bOk;
    OnAfterLoad(bOk);
    return bOk;
}

bool CSettings::Save(CSettingsStorage& storage) {
    const bool bStarted = storage.StartWrite();
    OnBeforeSave(bStarted);
    bool bOk = bStarted && Serialize(storage.ContinueOnError(), storage, true, false);
    bOk = storage.EndWrite() && bOk;
    OnAfterSave(bOk);
    return bOk;
}

void CSettings::Reset() {
    CNullStorage none;
    Serialize(true, none, false, true);
}

// ---- CSettingsStorage -----------------------------------------------------

CSettingsStorage::~CSettingsStorage() = default;

bool CSettingsStorage::Item(const std::wstring& name, std::wstring& value, bool bSave) {
    return WideStringItem(name, value, bSave);
}

bool CSettingsStorage::Item(const std::wstring& name, std::string& value, bool bSave) {
    std::wstring wide = platform::FromUtf8(value);
    if (!WideStringItem(name, wide, bSave)) return false;
    if (!bSave) value = platform::ToUtf8(wide);
    return true;
}

bool CSettingsStorage::Item(const std::wstring& name, QString& value, bool bSave) {
    std::wstring wide = value.toStdWString();
    if (!WideStringItem(name, wide, bSave)) return false;
    if (!bSave) value = QString::fromStdWString(wide);
    return true;
}

bool CSettingsStorage::Item(const std::wstring& name, CSettings& record, bool bSave) {
    std::unique_ptr<CSettingsStorage> sub = CreateSubStorage(name);
    if (!sub) return false;
    return bSave ? record.Save(*sub) : record.Load(*sub);
}

bool CSettingsStorage::Item(const std::wstring& name, float& value, bool bSave) {
    return FloatItem(name, value, bSave);
}

bool CSettingsStorage::Item(const std::wstring& name, double& value, bool bSave) {
    return DoubleItem(name, value, bSave);
}

bool CSettingsStorage::Item(const std::wstring& name, bool& value, bool bSave) {
    return BoolItem(name, value, bSave);
}

bool CSettingsStorage::Item(const std::wstring& name, std::int64_t& value, bool bSave) {
    return BinaryItem(name, &value, sizeof value, bSave);
}

bool CSettingsStorage::Item(const std::wstring& name, std::uint64_t& value, bool bSave) {
    return BinaryItem(name, &value, sizeof value, bSave);
}

bool CSettingsStorage::Item(const std::wstring& name, std::uint8_t& value, bool bSave) {
    return ThroughWider<std::uint32_t>(value, bSave,
                                       [&](std::uint32_t& v) { return UIntItem(name, v, bSave); });
}

bool CSettingsStorage::Item(const std::wstring& name, std::int8_t& value, bool bSave) {
    return ThroughWider<std::int32_t>(value, bSave,
                                      [&](std::int32_t& v) { return IntItem(name, v, bSave); });
}

bool CSettingsStorage::Item(const std::wstring& name, std::uint16_t& value, bool bSave) {
    return ThroughWider<std::uint32_t>(value, bSave,
                                       [&](std::uint32_t& v) { return UIntItem(name, v, bSave); });
}

bool CSettingsStorage::Item(const std::wstring& name, std::int16_t& value, bool bSave) {
    return ThroughWider<std::int32_t>(value, bSave,
                                      [&](std::int32_t& v) { return IntItem(name, v, bSave); });
}

bool CSettingsStorage::Item(const std::wstring& name, std::uint32_t& value, bool bSave) {
    return UIntItem(name, value, bSave);
}

bool CSettingsStorage::Item(const std::wstring& name, std::int32_t& value, bool bSave) {
    return IntItem(name, value, bSave);
}

bool CSettingsStorage::BeginCollection(const std::wstring& name, std::uint32_t& count,
                                       bool bSave) {
    m_pCollection = CreateSubStorage(name);
    if (!m_pCollection || count == 0xFFFFFFFFu) return false;
    if (bSave)
        m_pCollection->StartWrite();
    else
        m_pCollection->StartRead();
    return m_pCollection->UIntItem(L"Count", count, bSave);
}

bool CSettingsStorage::CollectionItem(std::uint32_t index, CSettings& record, bool bSave) {
    if (!m_pCollection) return false;
    std::unique_ptr<CSettingsStorage> sub = m_pCollection->CreateSubStorage(std::to_wstring(index));
    if (!sub) return false;
    return bSave ? record.Save(*sub) : record.Load(*sub);
}

bool CSettingsStorage::EndCollection(bool bSave) {
    if (!m_pCollection) return false;
    if (bSave)
        m_pCollection->EndWrite();
    else
        m_pCollection->EndRead();
    m_pCollection.reset();
    return true;
}
