// The elapsed-time counter's commands and reply parsers (see
// ElapsedTimeCounterProtocol.h).
#include "ElapsedTimeCounterProtocol.h"

#include <serial/ReplyText.h>

#include <cstdio>
#include <utility>

namespace tallydll {

using driverlog::Error;

driver::Request LineRequest(std::string text) { return {std::move(text), "\r", 1000, 1}; }

// Without a terminator the port hands over whatever arrived once the
// time-out has passed, as a reply that did not time out.
driver::Request SilenceRequest(std::string text) { return {std::move(text), "", 50, 1}; }

std::optional<uint32_t> ParseCount(driverlog::CDeviceLog& log, const char* text) {
    unsigned parsed = 0;
    if (std::sscanf(text, "%X", &parsed) == 1) return parsed;
    log.Log(Error, L": Error converting response to DWORD. Response = \"", text, L"\".");
    return std::nullopt;
}

std::optional<int> ParseResult(driverlog::CDeviceLog& log, const char* text) {
    int parsed = 0;
    if (std::sscanf(text, "%d", &parsed) == 1) return parsed;
    log.Log(Error, L": Error converting response to integer. Response = \"", text, L"\".");
    return std::nullopt;
}

std::optional<std::string> ParseText(driverlog::CDeviceLog&, const char* text) { return text; }

void SplitIdentification(const std::string& reply, EtcIdentificationStruct& identification) {
    replytext::SplitFields(reply, ',',
                           {&identification.manufacturer, &identification.model, &identification.firmwareRevision});
}

const std::map<std::string, uint32_t EtcDiagnosticsStruct::*>& NumericDiagnostics() {
    static const std::map<std::string, uint32_t EtcDiagnosticsStruct::*> queries = {
        {"!0s", &EtcDiagnosticsStruct::s},   {"!0t", &EtcDiagnosticsStruct::t},
        {"!0p", &EtcDiagnosticsStruct::p},   {"!0b", &EtcDiagnosticsStruct::b},
        {"!0b0", &EtcDiagnosticsStruct::b0}, {"!0b1", &EtcDiagnosticsStruct::b1},
        {"!0b2", &EtcDiagnosticsStruct::b2}, {"!0e", &EtcDiagnosticsStruct::e},
        {"!0e0", &EtcDiagnosticsStruct::e0}, {"!0e1", &EtcDiagnosticsStruct::e1},
        {"!0e2", &EtcDiagnosticsStruct::e2},
    };
    return queries;
}

}  // namespace tallydll
