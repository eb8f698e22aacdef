// The colour tables of the looks.
#include "LookColours.h"

#include "AppSettings.h"

namespace lookcolours {

namespace {

constexpr std::uint32_t Opaque(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

}  // namespace

std::uint32_t ViewBackground(int look) {
    switch (look) {
    case AppLookOffice2007Blue: return Opaque(173, 195, 221);
    case AppLookOffice2007Black: return Opaque(90, 90, 90);
    case AppLookOffice2007Silver: return Opaque(197, 202, 205);
    case AppLookOffice2007Aqua: return Opaque(155, 165, 188);
    case AppLookWindows7: return Opaque(207, 217, 231);
    default: return Opaque(240, 240, 240);
    }
}

Gradient HeaderGradient(int look) {
    switch (look) {
    case AppLookOffice2007Blue: return {0xFFE3F4FF, 0xFFC8D9ED};
    case AppLookOffice2007Black: return {0xFFE6F1F1, 0xFFBEC4CC};
    case AppLookOffice2007Aqua: return {0xFFC3CAD9, 0xFFC3CAD9};
    case AppLookWindows7: return {0xFFFBFDFF, 0xFFDCE7F5};
    // Silver shares the neutral gradient of an unknown look.
    default: return {0xFFF0FAFB, 0xFFD0D4DD};
    }
}

std::uint32_t StatusPaneColour(int look, double temperature, std::uint32_t current) {
    // Strictly above: exactly 75 degrees is still within the normal range.
    if (temperature > 75.0) return 0xFFFF0000u;
    switch (look) {
    case AppLookOffice2007Blue: return Opaque(21, 66, 139);
    case AppLookOffice2007Black: return Opaque(255, 255, 255);
    case AppLookOffice2007Silver: return Opaque(35, 38, 42);
    case AppLookOffice2007Aqua: return Opaque(0, 21, 110);
    case AppLookWindows7: return Opaque(109, 109, 109);
    default: return current;
    }
}

}  // namespace lookcolours
