// Text conversions of the supply's SCPI protocol (see ScpiText.h).
#include "ScpiText.h"

namespace psudll {

std::optional<std::string> QuoteScpiString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return std::nullopt;
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

}  // namespace psudll
