// Interpolating the spectral table.
#include "Radiance.h"

#include <algorithm>
#include <cmath>

namespace radiance {

std::optional<std::pair<double, double>> Range(const std::vector<CSpectralData>& table) {
    if (table.empty()) return std::nullopt;
    const auto [low, high] = std::minmax_element(table.begin(), table.end(), [](const auto& a, const auto& b) {
        return a.m_dWavelength < b.m_dWavelength;
    });
    return std::make_pair(low->m_dWavelength, high->m_dWavelength);
}

std::optional<double> TableRadiance(const std::vector<CSpectralData>& table, double wavelength) {
    const auto range = Range(table);
    if (!range || !(wavelength >= range->first && wavelength <= range->second)) return std::nullopt;
    // The stored order is the head's; neighbours are found by wavelength.
    const CSpectralData* below = nullptr;
    const CSpectralData* above = nullptr;
    for (const CSpectralData& point : table) {
        if (point.m_dWavelength == wavelength) return point.m_dRadiance;
        if (point.m_dWavelength < wavelength && (!below || point.m_dWavelength > below->m_dWavelength)) below = &point;
        if (point.m_dWavelength > wavelength && (!above || point.m_dWavelength < above->m_dWavelength)) above = &point;
    }
    if (!below || !above) return std::nullopt;
    const double t = (wavelength - below->m_dWavelength) / (above->m_dWavelength - below->m_dWavelength);
    if (below->m_dRadiance > 0 && above->m_dRadiance > 0)
        return std::exp(std::log(below->m_dRadiance) + t * (std::log(above->m_dRadiance) - std::log(below->m_dRadiance)));
    return below->m_dRadiance + t * (above->m_dRadiance - below->m_dRadiance);
}

}  // namespace radiance
