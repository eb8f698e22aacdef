// The settings sheet's working copy, its change log entries and its port rules.
#include "SettingsSheetModel.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include <QString>

#include "DisplayUnits.h"
#include "serial/DriverLog.h"

namespace {

// The six fields one by one: the records also carry the settings
// framework's own state, which is not the sheet's to copy.
void CopySerial(SerialPortSettingsStruct& to, const SerialPortSettingsStruct& from) {
    to.port = from.port;
    to.baud = from.baud;
    to.parity = from.parity;
    to.dataBits = from.dataBits;
    to.stopBits = from.stopBits;
    to.flowControl = from.flowControl;
}

std::wstring Wide(const char* utf8) { return QString::fromUtf8(utf8).toStdWString(); }

}  // namespace

CSettingsSheetModel::CSettingsSheetModel(CAppSettings& live, LogFunction log)
    : m_live(live),
      m_log(std::move(log)),
      m_logCeiling(live.m_nLogCeiling),
      m_look(live.m_nAppStyle),
      m_wavelengthUnits(live.m_nWavelengthDisplayUnits),
      m_yAxisUnits(live.m_nYAxisDisplayUnits),
      m_disableSupplyDisplay(live.m_nDisableAgilentDisplay),
      m_showAperturePositions(live.m_nShowAperturePositions) {
    CopySerial(m_serial[Head], live.m_quorvexSerialSettings);
    CopySerial(m_serial[Supply], live.m_agilentSerialSettings);
    CopySerial(m_serial[Counter], live.m_etcSerialSettings);
}

void CSettingsSheetModel::Log(const std::wstring& text) const {
    if (m_log) m_log(driverlog::Debug, text);
}

void CSettingsSheetModel::SetLookIndex(int index) {
    const int look = AppLookOffice2007Blue + index;
    if (look == m_look) return;
    Log(L"Changing application visual style from " + std::to_wstring(m_look) + L" to " +
        std::to_wstring(look) + L".");
    m_look = look;
    m_modified[ApplicationPage] = true;
}

void CSettingsSheetModel::SetLoggingIndex(int index) {
    // Compared with what the combo shows, so a hand-set ceiling such as 5
    // survives the sheet unless the user really picks another entry.
    if (index == LoggingIndex()) return;
    const int ceiling = index + 6;
    Log(L"Changing application logging level from " + std::to_wstring(LoggingIndex() + 6) +
        L" to " + std::to_wstring(ceiling) + L".");
    m_logCeiling = ceiling;
    m_modified[ApplicationPage] = true;
}

void CSettingsSheetModel::SetWavelengthUnits(int index) {
    if (index == m_wavelengthUnits) return;
    Log(L"Changing wavelength display units from " +
        Wide(displayunits::Wavelength(m_wavelengthUnits).longName) + L" to " +
        Wide(displayunits::Wavelength(index).longName) + L".");
    m_wavelengthUnits = index;
    m_modified[ApplicationPage] = true;
}

void CSettingsSheetModel::SetYAxisUnits(int index) {
    if (index == m_yAxisUnits) return;
    Log(L"Changing y axis display units from " + Wide(displayunits::Radiance(m_yAxisUnits).label) +
        L" to " + Wide(displayunits::Radiance(index).label) + L".");
    m_yAxisUnits = index;
    m_modified[ApplicationPage] = true;
}

void CSettingsSheetModel::SetDisableSupplyDisplay(bool disable) {
    if (disable == DisableSupplyDisplay()) return;
    m_disableSupplyDisplay = disable ? 1 : 0;
    m_modified[HardwarePage] = true;
}

void CSettingsSheetModel::SetPresentPorts(std::vector<PortItem> ports) {
    m_present = std::move(ports);
}

std::wstring CSettingsSheetModel::PortText(int port, bool discovered) {
    std::wstring text = L"COM" + std::to_wstring(port);
    if (discovered) text += L" (not present)";
    return text;
}

std::vector<CSettingsSheetModel::PortItem> CSettingsSheetModel::PortItems(
    Instrument instrument) const {
    std::vector<PortItem> items{{0, kSelectOne}};
    if (m_present) {
        items.insert(items.end(), m_present->begin(), m_present->end());
        const int own = m_serial[instrument].port;
        const bool listed = std::any_of(m_present->begin(), m_present->end(),
                                        [own](const PortItem& item) { return item.port == own; });
        if (own > 0 && !listed) items.push_back({own, PortText(own, true)});
        return items;
    }
    // Before discovery has answered: every stored port, so each combo can
    // show its own and a pick of another's is recognised as one.
    std::vector<int> stored;
    for (const auto& serial : m_serial)
        if (serial.port > 0) stored.push_back(serial.port);
    std::sort(stored.begin(), stored.end());
    stored.erase(std::unique(stored.begin(), stored.end()), stored.end());
    for (int port : stored) items.push_back({port, PortText(port, false)});
    return items;
}

int CSettingsSheetModel::PortItemIndex(Instrument instrument) const {
    const auto items = PortItems(instrument);
    const int own = std::max(0, m_serial[instrument].port);
    const auto it = std::find_if(items.begin(), items.end(),
                                 [own](const PortItem& item) { return item.port == own; });
    return it == items.end() ? 0 : static_cast<int>(it - items.begin());
}

std::optional<std::wstring> CSettingsSheetModel::ChoosePort(Instrument instrument, int port) {
    if (port < 0) port = 0;
    if (port == std::max(0, m_serial[instrument].port)) return std::nullopt;
    if (port > 0) {
        for (int other = 0; other < kInstrumentCount; ++other)
            if (other != instrument && m_serial[other].port == port) return std::wstring(kPortInUse);
    }
    m_serial[instrument].port = port;
    m_modified[HardwarePage] = true;
    return std::nullopt;
}

void CSettingsSheetModel::UseDetectedPorts(const std::array<int, kInstrumentCount>& found) {
    for (int i = 0; i < kInstrumentCount; ++i) {
        if (found[i] > 0) continue;
        for (int port : found)
            if (port > 0 && m_serial[i].port == port) m_serial[i].port = 0;
    }
    for (int i = 0; i < kInstrumentCount; ++i)
        if (found[i] > 0) m_serial[i].port = found[i];
    m_modified[HardwarePage] = true;
}

void CSettingsSheetModel::CopyBack() {
    // Other threads read the ceiling through atomic_ref: one whole store.
    std::atomic_ref<int>(m_live.m_nLogCeiling).store(m_logCeiling, std::memory_order_relaxed);
    m_live.m_nAppStyle = m_look;
    CopySerial(m_live.m_quorvexSerialSettings, m_serial[Head]);
    CopySerial(m_live.m_agilentSerialSettings, m_serial[Supply]);
    CopySerial(m_live.m_etcSerialSettings, m_serial[Counter]);
    m_live.m_nWavelengthDisplayUnits = m_wavelengthUnits;
    m_live.m_nYAxisDisplayUnits = m_yAxisUnits;
    m_live.m_nDisableAgilentDisplay = m_disableSupplyDisplay;
    m_live.m_nShowAperturePositions = m_showAperturePositions;
    m_modified = {false, false};
}

void CSettingsSheetModel::Ok() {
    Log(L"Settings applied OK button.");
    CopyBack();
}

void CSettingsSheetModel::Apply() {
    Log(L"Settings applied Apply button.");
    CopyBack();
}
