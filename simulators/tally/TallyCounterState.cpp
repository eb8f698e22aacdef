// The simulated counter's registers (see TallyCounterState.h).
#include "TallyCounterState.h"

#include <utility>

namespace sim {

CTallyCounterState::CTallyCounterState(std::string identification, std::string version)
    : m_registers{{"s", 0}, {"b", 0}, {"b0", 0}, {"b1", 0}, {"b2", 0},
                  {"e", 0}, {"e0", 0}, {"e1", 0}, {"e2", 0}},
      m_identification(std::move(identification)),
      m_version(std::move(version)) {}

void CTallyCounterState::Fold(Clock::time_point now) {
    if (!m_lit) return;
    const auto ticks = (now - m_litSince) / kTick;
    m_count += static_cast<uint32_t>(ticks);  // wraps like the counter's register
    m_litSince += ticks * kTick;
}

void CTallyCounterState::SetLamp(bool outputOn, double amps, bool countCycle) {
    std::lock_guard lock(m_mutex);
    const auto now = Clock::now();
    Fold(now);
    if (countCycle && outputOn && !m_outputOn) ++m_powerCycles;
    m_outputOn = outputOn;
    const bool lit = outputOn && amps > 0.0;
    if (lit && !m_lit) m_litSince = now;
    m_lit = lit;
    // Status bit 0: the count is running.
    m_registers["s"] = (m_registers["s"] & ~1u) | (lit ? 1u : 0u);
}

void CTallyCounterState::OnLamp(bool outputOn, double amps) { SetLamp(outputOn, amps, true); }

void CTallyCounterState::InitLamp(bool outputOn, double amps) { SetLamp(outputOn, amps, false); }

uint32_t CTallyCounterState::ElapsedCount() {
    std::lock_guard lock(m_mutex);
    Fold(Clock::now());
    return m_count;
}

void CTallyCounterState::SetElapsedCount(uint32_t count) {
    std::lock_guard lock(m_mutex);
    const auto now = Clock::now();
    Fold(now);
    m_count = count;
    m_litSince = now;
}

uint32_t CTallyCounterState::PowerCycles() const {
    std::lock_guard lock(m_mutex);
    return m_powerCycles;
}

void CTallyCounterState::SetPowerCycles(uint32_t count) {
    std::lock_guard lock(m_mutex);
    m_powerCycles = count;
}

void CTallyCounterState::Reset() {
    std::lock_guard lock(m_mutex);
    m_count = 0;
    m_litSince = Clock::now();
    m_powerCycles = 0;
}

void CTallyCounterState::SetBaseElapsedCount(uint32_t value) {
    std::lock_guard lock(m_mutex);
    m_count = value;
    m_litSince = Clock::now();
    for (const char* name : {"b", "b0", "b1", "b2"}) m_registers[name] = value;
}

void CTallyCounterState::SetBasePowerCycles(uint32_t value) {
    std::lock_guard lock(m_mutex);
    m_powerCycles = value;
    for (const char* name : {"e", "e0", "e1", "e2"}) m_registers[name] = value;
}

uint32_t CTallyCounterState::BaseElapsedCount() const {
    std::lock_guard lock(m_mutex);
    return m_registers.at("b");
}

uint32_t CTallyCounterState::BasePowerCycles() const {
    std::lock_guard lock(m_mutex);
    return m_registers.at("e");
}

std::optional<uint32_t> CTallyCounterState::Diagnostic(const std::string& name) {
    std::lock_guard lock(m_mutex);
    if (name == "t") {
        Fold(Clock::now());
        return m_count;
    }
    if (name == "p") return m_powerCycles;
    const auto it = m_registers.find(name);
    if (it == m_registers.end()) return std::nullopt;
    return it->second;
}

void CTallyCounterState::SetDiagnostic(const std::string& name, uint32_t value) {
    if (name == "t") return SetElapsedCount(value);
    if (name == "p") return SetPowerCycles(value);
    std::lock_guard lock(m_mutex);
    m_registers[name] = value;
}

std::string CTallyCounterState::Identification() const {
    std::lock_guard lock(m_mutex);
    return m_identification;
}

void CTallyCounterState::SetIdentification(std::string reply) {
    std::lock_guard lock(m_mutex);
    m_identification = std::move(reply);
}

std::string CTallyCounterState::Version() const {
    std::lock_guard lock(m_mutex);
    return m_version;
}

void CTallyCounterState::SetVersion(std::string version) {
    std::lock_guard lock(m_mutex);
    m_version = std::move(version);
}

std::optional<std::string> CTallyCounterState::RawReply(const std::string& command) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_rawReplies.find(command);
    if (it == m_rawReplies.end()) return std::nullopt;
    return it->second;
}

void CTallyCounterState::SetRawReply(const std::string& command, std::optional<std::string> bytes) {
    std::lock_guard lock(m_mutex);
    if (bytes)
        m_rawReplies[command] = std::move(*bytes);
    else
        m_rawReplies.erase(command);
}

}  // namespace sim
