// The colours of the program's looks (the AppLook ids of AppSettings.h):
// view backgrounds, header gradients and the fixed panel colours the small
// view widgets paint with. Colours are 32-bit ARGB, the same layout as
// QRgb, so this stays free of Qt's GUI module. Pure functions; callable from
// any thread, though only the GUI thread paints with them.
#pragma once

#include <cstdint>

namespace lookcolours {

inline constexpr std::uint32_t kOutline = 0xFF828790;
inline constexpr std::uint32_t kPanelTop = 0xFFFAFAFA;
inline constexpr std::uint32_t kPanelBottom = 0xFFE1E1E1;
inline constexpr std::uint32_t kPanelText = 0xFF323232;

struct Gradient {
    std::uint32_t top, bottom;
};

// The background behind the plot and lists in `look`; a light grey for any
// id that is not a look, so a hand-edited setting still paints sensibly.
std::uint32_t ViewBackground(int look);

// The vertical gradient of item headers in `look`.
Gradient HeaderGradient(int look);

// The text colour of the status bar's temperature and lamp panes in `look`;
// red for any look once the head is hotter than 75 degrees, so an overheating
// head stands out whatever the look. An id that is not a look keeps
// `current`, the colour the pane has now.
std::uint32_t StatusPaneColour(int look, double temperature, std::uint32_t current);

}  // namespace lookcolours
