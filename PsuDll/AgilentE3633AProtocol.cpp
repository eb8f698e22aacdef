// The supply's SCPI replies and string parameters (see
// AgilentE3633AProtocol.h).
#include "AgilentE3633AProtocol.h"

#include <serial/ReplyText.h>

#include <utility>

namespace psudll {

driver::Request QueryRequest(std::string text) { return {std::move(text), kLineEnding, 1000, 1}; }

void ParseIdentification(const std::string& reply, AgilentIdentificationStruct& identification) {
    identification.response = reply;
    // The serial number between the second and third comma is not kept.
    std::string firmware;
    if (!replytext::SplitFields(reply, ',', {&identification.manufacturer, &identification.model, nullptr, &firmware}))
        return;
    replytext::SplitFields(firmware, '-',
                           {&identification.mainVersion, &identification.ioRevision, &identification.frontPanelRevision});
}

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
