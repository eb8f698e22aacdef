// The spectral radiance the source delivers at any wavelength inside its
// calibration: the spectral table's value (exact at a table wavelength,
// interpolated log-linearly between the two neighbours, linearly where a
// neighbour is not positive) times an aperture position's attenuation
// factor / 100, as the panel's aperture list scales it.
//
// Pure functions of their arguments, callable from any thread.
#pragma once

#include <optional>
#include <vector>

#include "CalibrationData.h"

namespace radiance {

// The table's radiance at `wavelength` (nm); nothing when the table is
// empty or the wavelength lies outside its range.
std::optional<double> TableRadiance(const std::vector<CSpectralData>& table, double wavelength);

// The range the table covers, nothing when it is empty.
std::optional<std::pair<double, double>> Range(const std::vector<CSpectralData>& table);

}  // namespace radiance
