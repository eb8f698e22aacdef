// The display unit tables and the conversions every view of a wavelength or
// radiance goes through.
#include "DisplayUnits.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <locale.h>

namespace displayunits {

namespace {

constexpr std::array<WavelengthUnit, kWavelengthUnitCount> kWavelengthUnits{{
    {"nm", "Nanometers (nm)", "%.1f", "%.0f", 1.0},
    {"\u00C5", "Angstroms (\u00C5)", "%.0f", "%.0f", 10.0},
}};

constexpr std::array<RadianceUnit, kRadianceUnitCount> kRadianceUnits{{
    {"W/m^2/sr/nm", 0, 1.0},
    {"\u00B5W/cm^2/sr/nm", 0, 100.0},
    {"R/nm", 1, 6.33186e15},
    {"kR/nm", 1, 6.33186e12},
    {"R/\u00C5", 1, 6.33186e14},
    {"kR/\u00C5", 1, 6.33186e11},
}};

}  // namespace

const WavelengthUnit& Wavelength(int index) {
    return kWavelengthUnits[index >= 0 && index < kWavelengthUnitCount ? index : 0];
}

const RadianceUnit& Radiance(int index) {
    return kRadianceUnits[index >= 0 && index < kRadianceUnitCount ? index : 0];
}

double ConvertRadiance(double radiance, double wavelengthNm, int unitIndex) {
    const RadianceUnit& unit = Radiance(unitIndex);
    return std::pow(wavelengthNm * 1e-9, unit.exponent) * unit.factor * radiance;
}

std::string Format(const char* format, double value) {
    // Qt sets the C library to the user's locale; a displayed number keeps
    // its decimal point whatever that locale is.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const locale_t previous = uselocale(cLocale);
    char buffer[512];
    const int length = std::snprintf(buffer, sizeof buffer, format, value);
    uselocale(previous);
    if (length < 0) return {};
    return std::string(buffer, static_cast<std::size_t>(std::min<int>(length, sizeof buffer - 1)));
}

std::string WavelengthText(double wavelengthNm, int unitIndex) {
    const WavelengthUnit& unit = Wavelength(unitIndex);
    return Format(unit.valueFormat, wavelengthNm * unit.factor) + " " + unit.shortLabel;
}

std::string WavelengthTickText(double wavelengthNm, int unitIndex) {
    const WavelengthUnit& unit = Wavelength(unitIndex);
    return Format(unit.tickFormat, wavelengthNm * unit.factor);
}

}  // namespace displayunits
