// quorvex-sim's fault commands (see SimConsole.h).
#include "SimConsole.h"

#include <charconv>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace sim {

namespace {

[[noreturn]] void Refuse(const std::string& what) { throw std::invalid_argument(what); }

int ParseCount(std::string_view text, const char* what, int minimum) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < minimum)
        Refuse(std::string(what) + " needs a whole number of at least " + std::to_string(minimum) + ", not \"" +
               std::string(text) + "\"");
    return value;
}

std::vector<std::string> SplitWords(std::string_view line) {
    std::vector<std::string> words;
    std::istringstream in{std::string(line)};
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

}  // namespace

FaultOrder ParseFaultWords(std::string_view device, const std::vector<std::string>& words) {
    FaultOrder order;
    order.device = std::string(device);
    order.fault.count = -1;
    if (words.empty()) Refuse("a fault needs a kind: late=MS, none, garbage, split, terminator or vanish");
    const std::string& kind = words[0];
    const auto equals = kind.find('=');
    const std::string name = kind.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : kind.substr(equals + 1);
    if (name == "late") {
        if (value.empty()) Refuse("late needs its delay: late=MS");
        order.fault.kind = FaultKind::Late;
        order.fault.delayMs = ParseCount(value, "late", 0);
    } else if (name == "split") {
        order.fault.kind = FaultKind::Split;
        if (!value.empty()) order.fault.gapMs = ParseCount(value, "split", 0);
    } else if (!value.empty()) {
        Refuse(name + " takes no value");
    } else if (name == "none") {
        order.fault.kind = FaultKind::NoReply;
    } else if (name == "garbage") {
        order.fault.kind = FaultKind::Garbage;
    } else if (name == "terminator") {
        order.fault.kind = FaultKind::WrongTerminator;
    } else if (name == "vanish") {
        order.fault.kind = FaultKind::Vanish;
    } else {
        Refuse("unknown fault \"" + name + "\" (late=MS, none, garbage, split, terminator, vanish)");
    }
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.starts_with("count=")) {
            const std::string_view count = std::string_view(word).substr(6);
            order.fault.count = count == "all" ? -1 : ParseCount(count, "count", 1);
        } else if (word.starts_with("match=")) {
            // The regex may hold blanks or commas: it is all the rest.
            std::string pattern = word.substr(6);
            for (size_t j = i + 1; j < words.size(); ++j) pattern += " " + words[j];
            try {
                std::regex check(pattern);
            } catch (const std::regex_error& e) {
                Refuse("match=" + pattern + " is no regular expression: " + e.what());
            }
            order.pattern = pattern;
            break;
        } else {
            Refuse("unknown fault option \"" + word + "\" (count=N, match=REGEX)");
        }
    }
    return order;
}

FaultOrder ParseFaultOption(std::string_view option) {
    const auto colon = option.find(':');
    if (colon == std::string_view::npos || colon == 0)
        Refuse("--fault needs DEVICE:KIND, for example head:late=800 or psu:none");
    std::vector<std::string> words;
    std::string_view rest = option.substr(colon + 1);
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        std::string word(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (word.starts_with("match=")) {
            // Commas inside the regex belong to it.
            if (!rest.empty()) word += "," + std::string(rest);
            rest = {};
        }
        words.push_back(std::move(word));
    }
    return ParseFaultWords(option.substr(0, colon), words);
}

std::string FaultWord(const Fault& fault) {
    switch (fault.kind) {
    case FaultKind::Late: return "late=" + std::to_string(fault.delayMs);
    case FaultKind::NoReply: return "none";
    case FaultKind::Split: return "split=" + std::to_string(fault.gapMs);
    case FaultKind::Garbage: return "garbage";
    case FaultKind::WrongTerminator: return "terminator";
    case FaultKind::Vanish: return "vanish";
    }
    return "?";
}

CSimConsole::CSimConsole(std::map<std::string, CSimDevice*> devices) : m_devices(std::move(devices)) {}

CSimDevice& CSimConsole::Device(const std::string& name) const {
    const auto it = m_devices.find(name);
    if (it == m_devices.end()) {
        std::string known;
        for (const auto& [key, device] : m_devices) known += (known.empty() ? "" : ", ") + key;
        Refuse("no instrument called \"" + name + "\" (" + known + ")");
    }
    return *it->second;
}

void CSimConsole::Arm(const FaultOrder& order) { Device(order.device).InjectFault(order.pattern, order.fault); }

std::string CSimConsole::Execute(std::string_view line) {
    const std::vector<std::string> words = SplitWords(line);
    if (words.empty()) return {};
    const std::string& verb = words[0];
    try {
        if (verb == "help" || verb == "?") return Help();
        if (verb == "status") return Armed();
        if (verb == "fault") {
            // "fault head:late=800" is the command-line form typed in.
            if (words.size() == 2 && words[1].find(':') != std::string::npos) {
                Arm(ParseFaultOption(words[1]));
                return Armed();
            }
            if (words.size() < 3) Refuse("fault DEVICE KIND [count=N] [match=REGEX]");
            Arm(ParseFaultWords(words[1], {words.begin() + 2, words.end()}));
            return Armed();
        }
        if (verb == "vanish" || verb == "return") {
            if (words.size() != 2) Refuse(verb + " DEVICE");
            CSimDevice& device = Device(words[1]);
            if (verb == "vanish") {
                device.Vanish();
            } else {
                device.Reappear();
            }
            return Armed();
        }
        if (verb == "clear") {
            if (words.size() > 2) Refuse("clear [DEVICE]");
            if (words.size() == 2) {
                Device(words[1]).ClearFaults();
            } else {
                for (const auto& [name, device] : m_devices) device->ClearFaults();
            }
            return Armed();
        }
        Refuse("unknown command \"" + verb + "\" (help lists them)");
    } catch (const std::invalid_argument& e) {
        return std::string("error: ") + e.what();
    } catch (const std::system_error& e) {
        return std::string("error: ") + e.what();
    }
}

std::string CSimConsole::Armed() const {
    std::string text;
    for (const auto& [name, device] : m_devices) {
        std::string entry;
        if (device->Vanished()) entry = name + " vanished";
        for (const auto& armed : device->ArmedFaults()) {
            if (!entry.empty()) entry += "; ";
            entry += name + " " + FaultWord(armed.fault) + " (" +
                     (armed.pattern == ".*" ? std::string("all commands") : "match " + armed.pattern) + ", " +
                     (armed.fault.count < 0 ? std::string("every time") : std::to_string(armed.fault.count) + " left") +
                     ")";
        }
        if (entry.empty()) continue;
        text += (text.empty() ? "" : "; ") + entry;
    }
    return "armed: " + (text.empty() ? std::string("nothing") : text);
}

const char* CSimConsole::Help() {
    return "Faults (DEVICE is head, psu or counter; KIND one of late=MS, none, garbage,\n"
           "split[=MS], terminator, vanish; each for every matching command unless\n"
           "count=N, and for every command unless match=REGEX, a whole-command\n"
           "regular expression, given last):\n"
           "  --fault DEVICE:KIND[,count=N][,match=REGEX]   at start, repeatable\n"
           "Typed on standard input while it runs:\n"
           "  fault DEVICE KIND [count=N] [match=REGEX]     arm a fault\n"
           "  vanish DEVICE                                 the instrument's cable is pulled\n"
           "  return DEVICE                                 it comes back on the same COMn\n"
           "  clear [DEVICE]                                disarm faults (all or one's)\n"
           "  status                                        what is armed\n"
           "Each is answered with a line saying what is armed now.";
}

}  // namespace sim
