// Fuzz target: Calibration.ini as the program loads it at start-up, through
// the settings framework's ini storage. The input is the file.
//
// A corrupt "Count" has the load probe up to 65,536 entries of several
// items each: one read of the file, but a great many lookups for a single
// input. Such a load is cut short here after kItemBudget items (the later
// entries fail at once, as missing ones would), so the fuzzer keeps its
// pace and a time-out stays a real finding.
#include "FuzzSupport.h"

#include "CalibrationData.h"
#include "SettingsStorageIniFile.h"

#include <cstdint>
#include <memory>

using fuzzsupport::Require;

namespace {

constexpr int kItemBudget = 64;

// The ini storage, each item counted against a budget shared by the
// storage and every sub-storage made from it.
class CBudgetedStorage final : public CSettingsStorage {
public:
    CBudgetedStorage(std::unique_ptr<CSettingsStorage> inner, std::shared_ptr<int> left)
        : m_inner(std::move(inner)), m_left(std::move(left)) {}

    std::unique_ptr<CSettingsStorage> CreateSubStorage(const std::wstring& name) override {
        if (*m_left <= 0) return nullptr;  // the entries left all fail alike
        auto sub = m_inner->CreateSubStorage(name);
        if (!sub) return nullptr;
        return std::make_unique<CBudgetedStorage>(std::move(sub), m_left);
    }
    bool StartWrite() override { return m_inner->StartWrite(); }
    bool EndWrite() override { return m_inner->EndWrite(); }
    bool StartRead() override { return m_inner->StartRead(); }
    bool EndRead() override { return m_inner->EndRead(); }
    bool BinaryItem(const std::wstring& n, void* p, std::size_t s, bool b) override {
        return Spend() && m_inner->BinaryItem(n, p, s, b);
    }
    bool WideStringItem(const std::wstring& n, std::wstring& v, bool b) override {
        return Spend() && m_inner->WideStringItem(n, v, b);
    }
    bool DoubleItem(const std::wstring& n, double& v, bool b) override { return Spend() && m_inner->DoubleItem(n, v, b); }
    bool FloatItem(const std::wstring& n, float& v, bool b) override { return Spend() && m_inner->FloatItem(n, v, b); }
    bool BoolItem(const std::wstring& n, bool& v, bool b) override { return Spend() && m_inner->BoolItem(n, v, b); }
    bool UIntItem(const std::wstring& n, std::uint32_t& v, bool b) override {
        return Spend() && m_inner->UIntItem(n, v, b);
    }
    bool IntItem(const std::wstring& n, std::int32_t& v, bool b) override { return Spend() && m_inner->IntItem(n, v, b); }

private:
    bool Spend() { return (*m_left)-- > 0; }
    std::unique_ptr<CSettingsStorage> m_inner;
    std::shared_ptr<int> m_left;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::CScratchFile file("Calibration.ini");
    file.Write(std::string_view(reinterpret_cast<const char*>(data), size));

    CCalibrationData calibration;
    calibration.m_apertureData.emplace_back(1.0, 2, 3);  // replaced by the load
    CBudgetedStorage storage(std::make_unique<CSettingsStorageIniFile>(file.WidePath(), L"CalibrationData"),
                             std::make_shared<int>(kItemBudget));
    calibration.Load(storage);
    Require(calibration.m_apertureData.size() + calibration.m_spectralData.size() <= kItemBudget,
            "Calibration.ini: no entry without its items");
    // What the export makes of the tables.
    Require(!calibration.ExportText().empty(), "Calibration.ini: the export text");
    return 0;
}
