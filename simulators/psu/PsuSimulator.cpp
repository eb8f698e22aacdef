// Simulated E3633A power supply (see PsuSimulator.h).
#include "PsuSimulator.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

// SCPI keywords are accepted in short and long form and in any case; the
// optional part of a keyword is in brackets.
const std::string kNumber = R"(([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?))";
const std::string kBool = "(ON|OFF|1|0)";
const std::string kSpace = R"(\s+)";
const std::string kCurr = "(?:SOUR(?:CE)?:)?CURR(?:ENT)?(?::LEV(?:EL)?)?(?::IMM(?:EDIATE)?)?(?::AMPL(?:ITUDE)?)?";
const std::string kVolt = "(?:SOUR(?:CE)?:)?VOLT(?:AGE)?(?::LEV(?:EL)?)?(?::IMM(?:EDIATE)?)?(?::AMPL(?:ITUDE)?)?";
const std::string kCurrProt = "(?:SOUR(?:CE)?:)?CURR(?:ENT)?:PROT(?:ECTION)?";
const std::string kVoltProt = "(?:SOUR(?:CE)?:)?VOLT(?:AGE)?:PROT(?:ECTION)?";
const std::string kLevel = "(?::LEV(?:EL)?)?";
const std::string kRange = "(?:SOUR(?:CE)?:)?VOLT(?:AGE)?:RANG(?:E)?";
const std::string kOutp = "OUTP(?:UT)?(?::STAT(?:E)?)?";
const std::string kDisp = "DISP(?:LAY)?(?::WIND(?:OW)?)?(?::STAT(?:E)?)?";
const std::string kText = "DISP(?:LAY)?(?::WIND(?:OW)?)?:TEXT";
const std::string kMeas = "MEAS(?:URE)?(?::SCAL(?:AR)?)?";
const std::string kSyst = "SYST(?:EM)?";

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool IsOn(const std::string& value) { return value == "1" || Upper(value) == "ON"; }

double Number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// A SCPI string parameter: in double or single quotes, the quote inside
// written twice. Empty when it is not one.
std::optional<std::string> UnquoteScpi(const std::string& parameter) {
    if (parameter.size() < 2) return std::nullopt;
    const char quote = parameter.front();
    if ((quote != '"' && quote != '\'') || parameter.back() != quote) return std::nullopt;
    std::string text;
    for (size_t i = 1; i + 1 < parameter.size(); ++i) {
        if (parameter[i] == quote) {
            if (i + 2 >= parameter.size() || parameter[i + 1] != quote) return std::nullopt;
            ++i;  // a doubled quote stands for one
        }
        text += parameter[i];
    }
    return text;
}

std::string QuoteScpi(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

CPsuSimulator::CPsuSimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                             CLampBus* lamp)
    : CSimDevice(portsFolder, comNumber, "\r\n"), m_lamp(lamp) {
    SetTurnaround(kTurnaround);
    DefineCommands();
    // One entry takes every command, so test overrides come before the
    // instrument's own replies.
    On(R"(([\s\S]*))", [this](const std::smatch& match) { return Dispatch(match[1].str()); });
}

CPsuSimulator::~CPsuSimulator() { Stop(); }

void CPsuSimulator::SetIdentity(std::string identity) {
    std::lock_guard lock(m_mutex);
    m_identity = std::move(identity);
}

void CPsuSimulator::OverrideReply(const std::string& pattern, std::string bytes) {
    Override entry{std::regex(pattern), std::move(bytes)};
    std::lock_guard lock(m_mutex);
    m_overrides.insert(m_overrides.begin(), std::move(entry));
}

void CPsuSimulator::ClearOverrides() {
    std::lock_guard lock(m_mutex);
    m_overrides.clear();
}

void CPsuSimulator::SetLoadResistance(double ohms) {
    Change([&](CE3633AModel& model) { model.SetLoadResistance(ohms); });
}

CE3633AModel CPsuSimulator::State() const {
    std::lock_guard lock(m_mutex);
    return m_model;
}

std::string CPsuSimulator::FormatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.8E", value);
    return text;
}

void CPsuSimulator::Define(const std::string& pattern, Action action) {
    m_commands.push_back(
        Command{std::regex(pattern, std::regex::ECMAScript | std::regex::icase), std::move(action)});
}

void CPsuSimulator::DefineCommands() {
    using M = const std::smatch&;
    auto set = [this](std::function<void(CE3633AModel&, M)> change) {
        return [this, change](M m) {
            Change([&](CE3633AModel& model) { change(model, m); });
            return std::string();
        };
    };
    auto query = [this](std::function<std::string(const CE3633AModel&)> read) {
        return [this, read](M) {
            std::lock_guard lock(m_mutex);
            return read(m_model);
        };
    };

    Define(R"(\*IDN\?)", [this](M) {
        std::lock_guard lock(m_mutex);
        return m_identity;
    });
    Define(R"(\*RST)", set([](CE3633AModel& s, M) { s.Reset(); }));
    Define(R"(\*CLS)", [this](M) {
        std::lock_guard lock(m_mutex);
        m_errors.clear();
        return std::string();
    });
    Define(kSyst + ":RWL(?:OCK)?", set([](CE3633AModel& s, M) { s.SetRemoteLocked(true); }));
    Define(kSyst + ":REM(?:OTE)?", set([](CE3633AModel& s, M) { s.SetRemoteLocked(false); }));
    Define(kSyst + ":LOC(?:AL)?", set([](CE3633AModel& s, M) { s.SetRemoteLocked(false); }));
    Define(kSyst + R"(:ERR(?:OR)?\?)", [this](M) {
        std::lock_guard lock(m_mutex);
        if (m_errors.empty()) return std::string("+0,\"No error\"");
        std::string error = m_errors.front();
        m_errors.erase(m_errors.begin());
        return error;
    });

    Define(kOutp + kSpace + kBool, set([](CE3633AModel& s, M m) { s.SetOutput(IsOn(m[1].str())); }));
    Define(kOutp + R"(\?)", query([](const CE3633AModel& s) { return std::string(s.OutputEnabled() ? "1" : "0"); }));

    Define(kText + R"((?::DATA)?\s+(.*))", [this](M m) {
        const auto text = UnquoteScpi(m[1].str());
        if (!text) {
            PushError("-151,\"Invalid string data\"");
            return std::string();
        }
        Change([&](CE3633AModel& s) { s.SetDisplayText(*text); });
        return std::string();
    });
    Define(kText + ":CLE(?:AR)?", set([](CE3633AModel& s, M) { s.ClearDisplayText(); }));
    Define(kText + R"((?::DATA)?\?)", query([](const CE3633AModel& s) { return QuoteScpi(s.DisplayText()); }));
    Define(kDisp + kSpace + kBool, set([](CE3633AModel& s, M m) { s.SetDisplay(IsOn(m[1].str())); }));
    Define(kDisp + R"(\?)", query([](const CE3633AModel& s) { return std::string(s.DisplayOn() ? "1" : "0"); }));

    Define(kRange + kSpace + "(P8V|P20V|LOW|HIGH)", set([](CE3633AModel& s, M m) {
               const std::string r = Upper(m[1].str());
               s.SetLowRange(r == "P8V" || r == "LOW");
           }));
    Define(kRange + R"(\?)", query([](const CE3633AModel& s) { return std::string(s.LowRange() ? "P8V" : "P20V"); }));

    Define(kCurrProt + kLevel + kSpace + kNumber,
           set([](CE3633AModel& s, M m) { s.SetCurrentLimit(Number(m[1].str())); }));
    Define(kCurrProt + ":CLE(?:AR)?", set([](CE3633AModel& s, M) { s.ClearCurrentTrip(); }));
    Define(kCurrProt + ":STAT(?:E)?" + kSpace + kBool,
           set([](CE3633AModel& s, M m) { s.SetCurrentProtectionEnabled(IsOn(m[1].str())); }));
    Define(kCurrProt + R"(:TRIP\?)", query([](const CE3633AModel& s) { return std::string(s.CurrentTripped() ? "1" : "0"); }));
    Define(kCurrProt + kLevel + R"(\?)", query([](const CE3633AModel& s) { return FormatNumber(s.CurrentLimit()); }));

    Define(kVoltProt + kLevel + kSpace + kNumber,
           set([](CE3633AModel& s, M m) { s.SetVoltageLimit(Number(m[1].str())); }));
    Define(kVoltProt + ":CLE(?:AR)?", set([](CE3633AModel& s, M) { s.ClearVoltageTrip(); }));
    Define(kVoltProt + R"(:TRIP\?)", query([](const CE3633AModel& s) { return std::string(s.VoltageTripped() ? "1" : "0"); }));
    Define(kVoltProt + kLevel + R"(\?)", query([](const CE3633AModel& s) { return FormatNumber(s.VoltageLimit()); }));

    Define(kCurr + kSpace + kNumber, set([](CE3633AModel& s, M m) { s.SetCurrent(Number(m[1].str())); }));
    Define(kCurr + R"(\?)", query([](const CE3633AModel& s) { return FormatNumber(s.CurrentSetPoint()); }));
    Define(kVolt + kSpace + kNumber, set([](CE3633AModel& s, M m) { s.SetVoltage(Number(m[1].str())); }));
    Define(kVolt + R"(\?)", query([](const CE3633AModel& s) { return FormatNumber(s.VoltageSetPoint()); }));

    Define(kMeas + R"(:CURR(?:ENT)?(?::DC)?\?)", query([](const CE3633AModel& s) { return FormatNumber(s.Output().amps); }));
    Define(kMeas + R"(:VOLT(?:AGE)?(?::DC)?\?)", query([](const CE3633AModel& s) { return FormatNumber(s.Output().volts); }));
}

CSimDevice::Reply CPsuSimulator::Dispatch(const std::string& command) {
    std::optional<std::string> overridden;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& entry : m_overrides) {
            if (std::regex_match(command, entry.pattern)) {
                overridden = entry.bytes;
                break;
            }
        }
    }
    std::smatch match;
    for (const auto& entry : m_commands) {
        if (!std::regex_match(command, match, entry.pattern)) continue;
        const std::string reply = entry.action(match);
        if (overridden) return overridden;
        if (reply.empty()) return std::nullopt;
        return reply + "\r\n";
    }
    PushError("-113,\"Undefined header\"");
    return overridden;
}

void CPsuSimulator::PushError(const std::string& error) {
    std::lock_guard lock(m_mutex);
    // The instrument's queue holds 20 errors; later ones are lost.
    if (m_errors.size() < 20) m_errors.push_back(error);
}

void CPsuSimulator::Change(const std::function<void(CE3633AModel&)>& change) {
    PsuOutput output;
    bool moved;
    {
        std::lock_guard lock(m_mutex);
        change(m_model);
        output = m_model.Output();
        moved = output.on != m_published.on || output.amps != m_published.amps;
        if (moved) m_published = output;
    }
    // Outside the lock: the listeners are other instruments. Changes come
    // from the I/O thread, so they reach the bus in order.
    if (moved && m_lamp) m_lamp->SetState(output.on, output.amps);
}

}  // namespace sim
