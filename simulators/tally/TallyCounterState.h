// The simulated counter's registers: the operating time that runs while the
// lamp is lit, the power cycles, the bases and their stored copies, and the
// texts it reports. Shared by the device thread, the lamp bus and tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace sim {

class CTallyCounterState {
public:
    using Clock = std::chrono::steady_clock;
    // One count is a quarter of a second.
    static constexpr std::chrono::milliseconds kTick{250};

    CTallyCounterState(std::string identification, std::string version);

    // The lamp as the supply drives it: lit while the output is on with a
    // current flowing; each switch of the output to on is a power cycle.
    void OnLamp(bool outputOn, double amps);
    // The lamp's state when the counter is connected: no power cycle.
    void InitLamp(bool outputOn, double amps);

    uint32_t ElapsedCount();
    void SetElapsedCount(uint32_t count);
    uint32_t PowerCycles() const;
    void SetPowerCycles(uint32_t count);

    // "R!": both counts back to zero.
    void Reset();
    // "!0BB" / "!0EE": the count and the base with its three stored copies.
    void SetBaseElapsedCount(uint32_t value);
    void SetBasePowerCycles(uint32_t value);
    uint32_t BaseElapsedCount() const;
    uint32_t BasePowerCycles() const;

    // A diagnostic register by query name ("s", "t", "b0", ...); nullopt for
    // a name the counter does not know.
    std::optional<uint32_t> Diagnostic(const std::string& name);
    void SetDiagnostic(const std::string& name, uint32_t value);

    std::string Identification() const;
    void SetIdentification(std::string reply);
    std::string Version() const;
    void SetVersion(std::string version);

    std::optional<std::string> RawReply(const std::string& command) const;
    void SetRawReply(const std::string& command, std::optional<std::string> bytes);

private:
    // Adds the whole ticks lit since the last fold to the count; the part of
    // a tick left over keeps counting.
    void Fold(Clock::time_point now);
    void SetLamp(bool outputOn, double amps, bool countCycle);

    mutable std::mutex m_mutex;  // guards everything below
    uint32_t m_count = 0;
    uint32_t m_powerCycles = 0;
    bool m_outputOn = false;
    bool m_lit = false;
    Clock::time_point m_litSince{};
    std::map<std::string, uint32_t> m_registers;  // s, b, b0..b2, e, e0..e2
    std::string m_identification;
    std::string m_version;
    std::map<std::string, std::string> m_rawReplies;
};

}  // namespace sim
