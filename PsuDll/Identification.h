// Reading the supply's "*IDN?" reply into its identification record.
#pragma once

#include "PsuDll.h"

#include <string>

namespace psudll {

// The reply is manufacturer, model, serial number and a firmware field of
// three parts joined by '-'. Parsing stops at the first missing separator:
// fields before it get their new values, later ones keep what they held.
void ParseIdentification(const std::string& reply, AgilentIdentificationStruct& identification);

// The only model this driver serves; the comparison is exact.
constexpr const char* kSupportedModel = "E3633A";

}  // namespace psudll
