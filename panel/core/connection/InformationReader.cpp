// The diagnostics reads on the reader's worker, and the texts of their values.
#include "InformationReader.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "DisplayUnits.h"
#include "PsuDll/PsuDll.h"
#include "QuorvexDll/QuorvexDll.h"
#include "TallyDll/TallyDll.h"

namespace information {

TemperatureTexts TemperatureFields(const std::array<double, 4>& t) {
    return {TemperatureText(t[2]), TemperatureText(t[3]), TemperatureText(t[0]),
            TemperatureText(t[1])};
}

std::string TemperatureText(double celsius) { return displayunits::Format("%.1f \u00B0C", celsius); }

std::string CurrentText(double amperes) { return displayunits::Format("%.3f A", amperes); }

std::string VoltageText(double volts) { return displayunits::Format("%.3f V", volts); }

std::string HourCountText(double seconds) {
    // Rounded before the split, or 59.7 s would show as "00H:00M:60S".
    const double whole = std::max(0.0, std::round(seconds));
    const double hours = std::floor(whole / 3600.0);
    const double minutes = std::floor((whole - hours * 3600.0) / 60.0);
    const double rest = whole - hours * 3600.0 - minutes * 60.0;
    return displayunits::Format("%02.0fH:", hours) + displayunits::Format("%02.0fM:", minutes) +
           displayunits::Format("%02.0fS", rest);
}

std::string PowerCyclesText(std::uint32_t count) {
    // "%d" of the counter's value as the counter keeps it.
    return std::to_string(static_cast<int>(count));
}

}  // namespace information

CInformationReader::CInformationReader(void* head, void* supply, void* counter,
                                       IdentificationsCallback onIds, ValuesCallback onValues)
    : m_head(head),
      m_supply(supply),
      m_counter(counter),
      m_onIds(std::move(onIds)),
      m_onValues(std::move(onValues)) {
    QObject::connect(&m_worker, &CWorker::Finished, &m_worker, [this](const QVariant& result) {
        if (result.metaType() == QMetaType::fromType<information::Identifications>())
            m_onIds(result.value<information::Identifications>());
        else
            m_onValues(result.value<information::Values>());
    });
}

void CInformationReader::Start() {
    m_worker.Request([this] { return QVariant::fromValue(ReadIdentifications()); });
    m_worker.Request([this] { return QVariant::fromValue(ReadValues()); });
}

bool CInformationReader::Refresh() {
    return m_worker.Request([this] { return QVariant::fromValue(ReadValues()); }, CWorker::IfBusy::Skip);
}

information::Identifications CInformationReader::ReadIdentifications() const {
    information::Identifications ids{information::kReadError, information::kReadError,
                                     information::kReadError};
    if (QuorvexIdentificationStruct id; m_head && Quorvex_GetIdentification(m_head, &id) == QuorvexSuccess)
        ids.head = id.response;
    if (AgilentIdentificationStruct id;
        m_supply && Agilent_GetIdentification(m_supply, &id) == AgilentSuccess)
        ids.supply = id.response;
    if (EtcIdentificationStruct id; m_counter && Etc_GetIdentification(m_counter, &id) == EtcSuccess)
        ids.counter = id.response;
    return ids;
}

information::Values CInformationReader::ReadValues() const {
    information::Values values;
    if (m_head) {
        std::array<double, 4> t{};
        if (Quorvex_GetTemperature(m_head, t.data()) == QuorvexSuccess) values.temperatures = t;
    }
    if (m_supply) {
        double value = 0.0;
        if (Agilent_MeasureCurrent(m_supply, &value) == AgilentSuccess) values.current = value;
        if (Agilent_MeasureVoltage(m_supply, &value) == AgilentSuccess) values.voltage = value;
    }
    if (m_counter) {
        double seconds = 0.0;
        if (Etc_GetElapsedTime(m_counter, &seconds) == EtcSuccess) values.elapsedSeconds = seconds;
        std::uint32_t count = 0;
        if (Etc_GetPowerCycleCount(m_counter, &count) == EtcSuccess) values.powerCycles = count;
    }
    return values;
}
