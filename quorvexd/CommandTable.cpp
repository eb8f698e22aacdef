// The command table and header matching.
#include "CommandTable.h"

#include <string_view>

namespace scpi {

namespace {

struct Node {
    std::string shortForm;  // "APER"
    std::string longForm;   // "APERTURE"
    bool optional = false;
};

std::vector<Node> Nodes(std::string_view header) {
    std::vector<Node> nodes;
    std::size_t i = 0;
    while (i < header.size()) {
        Node node;
        if (header[i] == '[') {
            node.optional = true;
            ++i;
        }
        if (i < header.size() && header[i] == ':') ++i;
        while (i < header.size() && header[i] != ':' && header[i] != '[' && header[i] != ']') {
            const char c = header[i++];
            if (c >= 'a' && c <= 'z') {
                node.longForm.push_back(static_cast<char>(c - 'a' + 'A'));
            } else {
                node.shortForm.push_back(c);
                node.longForm.push_back(c);
            }
        }
        if (i < header.size() && header[i] == ']') ++i;
        nodes.push_back(std::move(node));
    }
    return nodes;
}

bool MatchFrom(const std::vector<Node>& nodes, std::size_t n, const std::vector<std::string>& mnemonics,
               std::size_t m) {
    if (n == nodes.size()) return m == mnemonics.size();
    const Node& node = nodes[n];
    if (m < mnemonics.size() && (mnemonics[m] == node.shortForm || mnemonics[m] == node.longForm) &&
        MatchFrom(nodes, n + 1, mnemonics, m + 1))
        return true;
    return node.optional && MatchFrom(nodes, n + 1, mnemonics, m);
}

using I = Instrument;
using C = CommandId;

const std::vector<CommandSpec> kTable = {
    {"*IDN", true, C::Identify, 0, 0, I::None, false},
    {"*CLS", false, C::ClearStatus, 0, 0, I::None, false},
    {"*OPC", true, C::OperationComplete, 0, 0, I::None, false},
    {"*WAI", false, C::Wait, 0, 0, I::None, false},
    {"SYSTem:ERRor[:NEXT]", true, C::ErrorNext, 0, 0, I::None, false},
    {"SYSTem:VERSion", true, C::Version, 0, 0, I::None, false},
    {"SYSTem:CONNect", true, C::Connected, 0, 0, I::None, false},
    {"SYSTem:LOCK:REQuest", true, C::LockRequest, 0, 0, I::None, false},
    {"SYSTem:LOCK:RELease", false, C::LockRelease, 0, 0, I::None, false},
    {"SOURce:APERture[:POSition]", false, C::AperturePosition, 2, 2, I::Head, true},
    {"SOURce:APERture[:POSition]", true, C::AperturePosition, 0, 0, I::Head, false},
    {"SOURce:APERture:HOME", false, C::ApertureHome, 0, 0, I::Head, true},
    {"SOURce:APERture:FACTor", true, C::ApertureFactor, 0, 0, I::Head, false},
    {"SOURce:RADiance", true, C::Radiance, 1, 1, I::Head, false},
    {"OUTPut[:STATe]", false, C::Output, 1, 1, I::Supply, true},
    {"OUTPut[:STATe]", true, C::Output, 0, 0, I::Supply, false},
    {"OUTPut:RAMP:PROGress", true, C::OutputRampProgress, 0, 0, I::Supply, false},
    {"ABORt", false, C::Abort, 0, 0, I::Supply, true},
    {"MEASure:CURRent", true, C::MeasureCurrent, 0, 0, I::Supply, false},
    {"MEASure:VOLTage", true, C::MeasureVoltage, 0, 0, I::Supply, false},
    {"MEASure:TEMPerature", true, C::MeasureTemperature, 0, 1, I::Head, false},
    {"MEASure:HOURs", true, C::MeasureHours, 0, 0, I::Counter, false},
    {"MEASure:CYCLes", true, C::MeasureCycles, 0, 0, I::Counter, false},
    {"CALibration:SPECtral", true, C::CalibrationSpectral, 0, 0, I::None, false},
    {"CALibration:APERture", true, C::CalibrationAperture, 0, 0, I::None, false},
    {"CALibration:SERial", true, C::CalibrationSerial, 0, 0, I::None, false},
    {"CALibration:DOWNload", false, C::CalibrationDownload, 0, 0, I::Head, true},
    {"DISPlay:TEXT", false, C::DisplayText, 1, 1, I::Supply, true},
    {"DISPlay:TEXT:CLEar", false, C::DisplayClear, 0, 0, I::Supply, true},
};

}  // namespace

bool HeaderMatches(const char* header, const std::vector<std::string>& mnemonics) {
    if (header[0] == '*') return mnemonics.size() == 1 && mnemonics[0] == header;
    return MatchFrom(Nodes(header), 0, mnemonics, 0);
}

const std::vector<CommandSpec>& Table() { return kTable; }

Match Lookup(const Command& command) {
    Match match;
    bool otherForm = false;
    for (const CommandSpec& spec : kTable) {
        if ((spec.header[0] == '*') != command.common || !HeaderMatches(spec.header, command.mnemonics)) continue;
        if (spec.query != command.query) {
            otherForm = true;
            continue;
        }
        const int count = static_cast<int>(command.parameters.size());
        if (count < spec.minParameters) {
            match.error = code::kMissingParameter;
            match.detail = std::string(spec.header) + (spec.query ? "?" : "") + " needs " +
                           std::to_string(spec.minParameters) + " parameter" + (spec.minParameters > 1 ? "s" : "");
        } else if (count > spec.maxParameters) {
            match.error = code::kParameterNotAllowed;
            match.detail = spec.maxParameters == 0 ? "this command takes no parameter"
                                                   : "at most " + std::to_string(spec.maxParameters) + " parameter" +
                                                         (spec.maxParameters > 1 ? "s" : "");
        } else {
            match.spec = &spec;
        }
        return match;
    }
    match.error = code::kUndefinedHeader;
    match.detail = otherForm ? (command.query ? "this command has no query form" : "this is a query only")
                             : "no such command";
    return match;
}

}  // namespace scpi
