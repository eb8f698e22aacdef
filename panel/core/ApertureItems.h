// What the aperture list shows, apart from any widget: the order of its
// entries, the 36 entries of a head with no aperture table, and the texts
// of one item. Pure functions of their arguments, callable from any thread.
#pragma once

#include <string>
#include <vector>

#include "CalibrationData.h"

namespace apertureitems {

// The entries the list shows, in list order: the stored table by increasing
// attenuation factor, entries with equal factors in the reverse of their
// stored order; with no stored entry, primary 0..2 by secondary 0..11 with
// factor 0.
std::vector<CApertureData> ListOrder(const std::vector<CApertureData>& stored);

// The factor of the stored entry at (primary, secondary), the last one when
// several match; -1 when none does.
double FactorAt(const std::vector<CApertureData>& stored, int primary, int secondary);

// The radiance an item delivers: factor x radiance / 100, or -1 when no
// wavelength is picked (pickedRadiance < 0) or the item has no factor.
double ItemRadiance(double factor, double pickedRadiance);

// "150%", "12.5%", "0.0500%": more decimals the smaller the factor.
std::string FactorText(double factor);
// "%.3E".
std::string RadianceText(double radiance);
// "(1,12)": the 1-based positions an operator reads on the wheels.
std::string PositionText(int primary, int secondary);
// "Position (0,11)": the item's own text, 0-based.
std::string ItemText(int primary, int secondary);

}  // namespace apertureitems
