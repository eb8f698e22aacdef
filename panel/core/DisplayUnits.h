// The units wavelengths and radiances are shown in, everywhere in the
// program: two fixed tables indexed by the wavelength and radiance unit
// settings. Stored wavelengths are nanometres and stored radiances
// W/m^2/sr/nm; these functions turn them into what the operator reads.
// Pure functions of their arguments, callable from any thread. An index
// outside a table is treated as its first row, so a hand-edited setting
// never indexes past the end.
#pragma once

#include <string>

namespace displayunits {

struct WavelengthUnit {
    const char* shortLabel;   // "nm"
    const char* longName;     // "Nanometers (nm)"
    const char* valueFormat;  // printf format of one value: "%.1f"
    const char* tickFormat;   // printf format of an axis label: "%.0f"
    double factor;            // applied to nanometres
};

struct RadianceUnit {
    const char* label;  // "W/m^2/sr/nm"
    int exponent;       // power of the wavelength in metres
    double factor;
};

inline constexpr int kWavelengthUnitCount = 2;
inline constexpr int kRadianceUnitCount = 6;
inline constexpr const char* kQuantityName = "Spectral Radiance";

const WavelengthUnit& Wavelength(int index);
const RadianceUnit& Radiance(int index);

// (wavelength * 1e-9)^e * k * radiance, with the row of `unitIndex`.
double ConvertRadiance(double radianceWPerM2SrNm, double wavelengthNm, int unitIndex);

// The wavelength in the unit, printed with its value format and short
// label: 630 nm in unit 0 -> "630.0 nm", in unit 1 -> "6300 Å".
std::string WavelengthText(double wavelengthNm, int unitIndex);
// The axis label of a tick: its value in the unit with the tick format.
std::string WavelengthTickText(double wavelengthNm, int unitIndex);

// printf-style formatting in the C locale, whatever locale Qt chose.
std::string Format(const char* format, double value);

}  // namespace displayunits
