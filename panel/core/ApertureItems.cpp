// The aperture list's order and texts.
#include "ApertureItems.h"

#include <algorithm>

#include "DisplayUnits.h"

namespace apertureitems {

std::vector<CApertureData> ListOrder(const std::vector<CApertureData>& stored) {
    std::vector<CApertureData> entries;
    if (stored.empty()) {
        for (int primary = 0; primary < 3; ++primary)
            for (int secondary = 0; secondary < 12; ++secondary)
                entries.emplace_back(0.0, primary, secondary);
        return entries;
    }
    entries = stored;
    // Decreasing and stable, then reversed: equal factors come out in the
    // reverse of their stored order, as operators have always seen them.
    std::stable_sort(entries.begin(), entries.end(), [](const CApertureData& a, const CApertureData& b) {
        return a.m_dAttenuationFactor > b.m_dAttenuationFactor;
    });
    std::reverse(entries.begin(), entries.end());
    return entries;
}

double FactorAt(const std::vector<CApertureData>& stored, int primary, int secondary) {
    double factor = -1.0;
    for (const CApertureData& entry : stored)
        if (entry.m_nPrimaryPosition == primary && entry.m_nSecondaryPosition == secondary)
            factor = entry.m_dAttenuationFactor;
    return factor;
}

double ItemRadiance(double factor, double pickedRadiance) {
    if (pickedRadiance < 0.0 || factor <= -1.0) return -1.0;
    return factor * pickedRadiance / 100.0;
}

std::string FactorText(double f) {
    const char* format = f >= 100.0  ? "%.0f%%"
                         : f >= 10.0 ? "%.1f%%"
                         : f >= 1.0  ? "%.2f%%"
                         : f >= 0.1  ? "%.3f%%"
                         : f >= 0.01 ? "%.4f%%"
                                     : "%.5f%%";
    return displayunits::Format(format, f);
}

std::string RadianceText(double radiance) { return displayunits::Format("%.3E", radiance); }

std::string PositionText(int primary, int secondary) {
    return "(" + std::to_string(primary + 1) + "," + std::to_string(secondary + 1) + ")";
}

std::string ItemText(int primary, int secondary) {
    return "Position (" + std::to_string(primary) + "," + std::to_string(secondary) + ")";
}

}  // namespace apertureitems
