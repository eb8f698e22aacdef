// Serialisation of the calibration records, filling from the head's tables
// and the CSV export.
#include "CalibrationData.h"

#include <cstdio>
#include <fstream>

#include "NumberText.h"
#include "platform/text.h"

namespace {

// A corrupt "Count" (say -1 read as 4294967295) must not keep start-up busy
// for hours probing sections that cannot exist.
constexpr std::uint32_t kMaxLoadedEntries = 65536;

// Runs the items of an entry record: every item must succeed.
class CEntryRun {
public:
    CEntryRun(bool bContinueOnError, bool bSave) : m_bContinue(bContinueOnError), m_bSave(bSave) {}
    bool operator()(bool bItemOk) {
        if (!bItemOk) m_bResult = false;
        return bItemOk || m_bContinue;
    }
    bool Result() const { return m_bResult; }
    bool Save() const { return m_bSave; }

private:
    bool m_bContinue;
    bool m_bSave;
    bool m_bResult = true;
};

template <typename Entry>
bool SerializeTable(std::vector<Entry>& table, const wchar_t* name, CSettingsStorage& storage,
                    bool bContinueOnError, bool bSave) {
    if (!bSave) table.clear();
    auto count = static_cast<std::uint32_t>(table.size());
    bool bOk = storage.BeginCollection(name, count, bSave);
    if (bOk && bSave) {
        for (std::uint32_t i = 0; i < table.size(); ++i) {
            if (!storage.CollectionItem(i, table[i], true)) {
                bOk = false;
                if (!bContinueOnError) break;
            }
        }
    } else if (bOk) {
        const std::uint32_t toRead = count < kMaxLoadedEntries ? count : kMaxLoadedEntries;
        for (std::uint32_t i = 0; i < toRead; ++i) {
            Entry entry;
            if (storage.CollectionItem(i, entry, false)) {
                table.push_back(std::move(entry));
            } else {
                bOk = false;
                if (!bContinueOnError) break;
            }
        }
    }
    return storage.EndCollection(bSave) && bOk;
}

const char* const kCrLf = "\r\n";

}  // namespace

bool CApertureData::Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                              bool bReset) {
    if (bReset) return true;
    CEntryRun run(bContinueOnError, bSave);
    run(storage.DoubleItem(L"AttenuationFactor", m_dAttenuationFactor, bSave)) &&
        run(storage.IntItem(L"PrimaryPosition", m_nPrimaryPosition, bSave)) &&
        run(storage.IntItem(L"SecondaryPosition", m_nSecondaryPosition, bSave));
    return run.Result();
}

bool CSpectralData::Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                              bool bReset) {
    if (bReset) return true;
    CEntryRun run(bContinueOnError, bSave);
    run(storage.DoubleItem(L"Wavelength", m_dWavelength, bSave)) &&
        run(storage.DoubleItem(L"Radiance", m_dRadiance, bSave));
    return run.Result();
}

bool CCalibrationData::Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                                 bool bReset) {
    if (bReset) {
        m_nSerialNumber = -1;
        return true;
    }
    bool bResult = true;
    if (!storage.IntItem(L"SerialNumber", m_nSerialNumber, bSave)) {
        if (!bContinueOnError) return false;
        if (bSave)
            bResult = false;
        else
            m_nSerialNumber = -1;
    }
    if (!SerializeTable(m_apertureData, L"ApertureData", storage, bContinueOnError, bSave)) {
        if (!bContinueOnError) return false;
        bResult = false;
    }
    if (!SerializeTable(m_spectralData, L"SpectralData", storage, bContinueOnError, bSave))
        bResult = false;
    return bResult;
}

void CCalibrationData::FillFromHead(const HeadApertureTable& apertureRows,
                                    const HeadSpectralTable& spectralPairs) {
    m_apertureData.clear();
    m_spectralData.clear();
    for (std::size_t r = 0; r < apertureRows.size(); ++r) {
        const std::vector<double>& row = apertureRows[r];
        for (std::size_t c = 0; c < row.size(); ++c)
            m_apertureData.emplace_back(row[c], 2 - static_cast<int>(c),
                                        11 - static_cast<int>(r));
    }
    for (const auto& [wavelength, radiance] : spectralPairs)
        m_spectralData.emplace_back(wavelength, radiance);
}

std::string CCalibrationData::ExportText() const {
    std::string text;
    auto line = [&text](const std::string& s) { text += s + kCrLf; };

    line("[Serial Number]");
    line(platform::Format("%05d", m_nSerialNumber));
    line("");
    line("[Aperture Data]");
    line(",3,2,1");
    // Three entries per line; a final incomplete group is left out.
    int label = 12;
    for (std::size_t i = 0; i + 3 <= m_apertureData.size(); i += 3, --label) {
        std::string row = std::to_string(label) + ",";
        for (std::size_t k = 0; k < 3; ++k) {
            if (k) row += ',';
            row += numbertext::Scientific3(m_apertureData[i + k].m_dAttenuationFactor);
        }
        line(row);
    }
    line("");
    line("[Spectral Data]");
    line("Wavelength (nm),Spectral Radiance (W/m^2/sr/nm)");
    for (const CSpectralData& entry : m_spectralData)
        line(numbertext::Fixed(entry.m_dWavelength, 2) + "," +
             numbertext::Scientific3(entry.m_dRadiance));
    return text;
}

bool CCalibrationData::ExportCalibrationData(const std::wstring& path) const {
    std::ofstream out(platform::ToUtf8(path), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << ExportText();
    out.close();
    return static_cast<bool>(out);
}
