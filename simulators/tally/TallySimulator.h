// Simulated elapsed-time counter on a pseudo-terminal. It answers "I?" with
// its identification, "T?" with the lamp's operating time in quarter seconds
// and "P?" with the power-cycle count (upper-case hexadecimal, CR), takes
// "R!", "!0BB<hex>" and "!0EE<hex>" (decimal result, CR), and answers the
// diagnostic queries "!0s" ... "!0e2" with a hexadecimal number and "!0v"
// with its version text, both without a terminator.
//
// With a lamp bus the count runs while the lamp is lit and the power cycles
// go up each time the supply's output is switched on; without one, tests set
// the counts and the lamp directly.
#pragma once

#include "framework/LampBus.h"
#include "framework/SimDevice.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace sim {

class CTallyCounterState;

class CTallySimulator : public CSimDevice {
public:
    // Line-rate mode: the counter's microcontroller answers this long after
    // a command's carriage return.
    static constexpr std::chrono::microseconds kTurnaround{2000};

    // The lamp bus is optional: quorvex-sim couples the three instruments
    // through it; tests usually run one instrument alone.
    CTallySimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                    CLampBus* lamp = nullptr);
    ~CTallySimulator() override;

    static constexpr const char* kDefaultIdentification = "Vandrel Scientific Ltd,ETC,2.04";
    static constexpr const char* kDefaultVersion = "ETC firmware 2.04 (2019-03-11)";

    // The "I?" reply without its terminator.
    void SetIdentification(std::string reply);
    // The "!0v" reply.
    void SetVersion(std::string version);

    // The operating time in quarter seconds.
    void SetElapsedCount(uint32_t quarterSeconds);
    uint32_t ElapsedCount() const;
    void SetPowerCycles(uint32_t count);
    uint32_t PowerCycles() const;
    // The bases last written with "!0BB" and "!0EE".
    uint32_t BaseElapsedCount() const;
    uint32_t BasePowerCycles() const;

    // Lights or darkens the lamp without a bus (switching it on counts a
    // power cycle, as the supply's output would).
    void SetLampLit(bool lit);

    // Sets a diagnostic register by its query name without "!0" ("s", "b1",
    // ...); "t", "p", "b" and "e" are the live counts and bases and are set
    // through them.
    void SetDiagnostic(const std::string& name, uint32_t value);

    // Replaces the reply to one exact command text by these bytes (sent as
    // they stand, so a terminator must be included if wanted); nullopt
    // restores the normal reply.
    void SetRawReply(const std::string& command, std::optional<std::string> bytes);

private:
    void Serve(const std::string& pattern, std::function<std::string(const std::smatch&)> reply);

    // Shared with the lamp-bus listener, which the bus keeps for its lifetime.
    std::shared_ptr<CTallyCounterState> m_state;
};

}  // namespace sim
