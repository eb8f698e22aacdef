// Simulated elapsed-time counter: the protocol table over the counter's
// registers (see TallySimulator.h).
#include "TallySimulator.h"

#include "TallyCounterState.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

namespace sim {

namespace {

const std::string kCr = "\r";

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%" PRIX32, value);
    return text;
}

// The digits of a set-base command; nullopt when they do not fit the
// counter's 32-bit registers.
std::optional<uint32_t> ParseRegister(const std::string& digits) {
    unsigned long long value = 0;
    for (const char c : digits) {
        value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'A' + 10);
        if (value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

// The decimal results of the commands.
const std::string kDone = "0" + kCr;
const std::string kOutOfRange = "-1" + kCr;

}  // namespace

CTallySimulator::CTallySimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                                 CLampBus* lamp)
    : CSimDevice(portsFolder, comNumber, "\r"),
      m_state(std::make_shared<CTallyCounterState>(kDefaultIdentification, kDefaultVersion)) {
    SetTurnaround(kTurnaround);
    const auto state = m_state;
    Serve("I\\?", [state](const std::smatch&) { return state->Identification() + kCr; });
    Serve("T\\?", [state](const std::smatch&) { return Hex(state->ElapsedCount()) + kCr; });
    Serve("P\\?", [state](const std::smatch&) { return Hex(state->PowerCycles()) + kCr; });
    Serve("R!", [state](const std::smatch&) {
        state->Reset();
        return kDone;
    });
    Serve("!0BB([0-9A-F]{8,})", [state](const std::smatch& match) {
        const auto value = ParseRegister(match[1].str());
        if (!value) return kOutOfRange;
        state->SetBaseElapsedCount(*value);
        return kDone;
    });
    Serve("!0EE([0-9A-F]{6,})", [state](const std::smatch& match) {
        const auto value = ParseRegister(match[1].str());
        if (!value) return kOutOfRange;
        state->SetBasePowerCycles(*value);
        return kDone;
    });
    // Diagnostics: no terminator, the driver takes what arrived in its time.
    Serve("!0(s|t|p|b|b0|b1|b2|e|e0|e1|e2)", [state](const std::smatch& match) {
        return Hex(state->Diagnostic(match[1].str()).value_or(0));
    });
    Serve("!0v", [state](const std::smatch&) { return state->Version(); });

    if (lamp) {
        m_state->InitLamp(lamp->OutputOn(), lamp->Amps());
        // The bus keeps its listeners for its lifetime; the listener keeps the
        // registers alive, not this device.
        lamp->Subscribe([state](bool outputOn, double amps) { state->OnLamp(outputOn, amps); });
    }
}

CTallySimulator::~CTallySimulator() { Stop(); }

void CTallySimulator::Serve(const std::string& pattern,
                            std::function<std::string(const std::smatch&)> reply) {
    On(pattern, [state = m_state, reply = std::move(reply)](const std::smatch& match) -> Reply {
        // The command still acts on the counter when a test replaced its reply.
        std::string normal = reply(match);
        if (auto raw = state->RawReply(match[0].str())) return *raw;
        return normal;
    });
}

void CTallySimulator::SetIdentification(std::string reply) { m_state->SetIdentification(std::move(reply)); }
void CTallySimulator::SetVersion(std::string version) { m_state->SetVersion(std::move(version)); }
void CTallySimulator::SetElapsedCount(uint32_t quarterSeconds) { m_state->SetElapsedCount(quarterSeconds); }
uint32_t CTallySimulator::ElapsedCount() const { return m_state->ElapsedCount(); }
void CTallySimulator::SetPowerCycles(uint32_t count) { m_state->SetPowerCycles(count); }
uint32_t CTallySimulator::PowerCycles() const { return m_state->PowerCycles(); }
uint32_t CTallySimulator::BaseElapsedCount() const { return m_state->BaseElapsedCount(); }
uint32_t CTallySimulator::BasePowerCycles() const { return m_state->BasePowerCycles(); }
void CTallySimulator::SetLampLit(bool lit) { m_state->OnLamp(lit, lit ? 1.0 : 0.0); }
void CTallySimulator::SetDiagnostic(const std::string& name, uint32_t value) {
    m_state->SetDiagnostic(name, value);
}
void CTallySimulator::SetRawReply(const std::string& command, std::optional<std::string> bytes) {
    m_state->SetRawReply(command, std::move(bytes));
}

}  // namespace sim
