// Fuzz target: the supply's replies and the texts sent to it. Every input
// is read as a numeric reply and as an "*IDN?" reply, and quoted as a SCPI
// string parameter (the display text command).
#include "FuzzSupport.h"

#include <PsuDll/AgilentE3633AProtocol.h>
#include <serial/ReplyText.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <locale.h>

using fuzzsupport::Require;

namespace {

void CheckNumber(const std::string& reply) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const std::optional<double> value = replytext::ReadDouble(reply.c_str());
    char* end = nullptr;
    const double expected = strtod_l(reply.c_str(), &end, cLocale);
    Require(value.has_value() == (end != reply.c_str()), "numeric reply: a number exactly when strtod finds one");
    if (!value) return;
    Require(std::isnan(*value) ? std::isnan(expected) : *value == expected, "numeric reply: strtod's value");
    // What a set command and its log entry make of a value.
    Require(!replytext::FormatFixed(*value, 3).empty(), "%.3f of any double");
    Require(!replytext::FormatFixedW(*value, 3).empty(), "%.3f of any double, wide");
}

void CheckIdentification(const std::string& reply) {
    AgilentIdentificationStruct id{"m", "o", "v", "i", "f", "r"};
    psudll::ParseIdentification(reply, id);
    Require(id.response == reply, "identification: the whole reply kept");
    if (id.frontPanelRevision != "f")
        Require(reply.size() >= id.manufacturer.size() + id.model.size() + id.mainVersion.size() +
                                    id.ioRevision.size() + id.frontPanelRevision.size() + 5,
                "identification: fields come from the reply");
}

void CheckQuoting(const std::string& text) {
    const std::optional<std::string> quoted = psudll::QuoteScpiString(text);
    if (!quoted) return;
    Require(quoted->size() >= 2 && quoted->front() == '"' && quoted->back() == '"', "quoted: in quotes");
    std::string inner;
    for (size_t i = 1; i + 1 < quoted->size(); ++i) {
        const char c = (*quoted)[i];
        Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "quoted: no control character");
        if (c == '"') {
            Require(i + 2 < quoted->size() && (*quoted)[i + 1] == '"', "quoted: inner quotes doubled");
            ++i;
        }
        inner += c;
    }
    Require(inner == text, "quoted: the text comes back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    CheckNumber(reply);
    CheckIdentification(reply);
    CheckQuoting(reply);
    return 0;
}
