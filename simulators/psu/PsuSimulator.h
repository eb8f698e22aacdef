// Simulated Agilent E3633A power supply on a pseudo-terminal. It speaks the
// SCPI subset the driver uses (commands and replies end with CR LF):
// "*IDN?" in the instrument's four-field form, set points, protection
// levels with their trips and ":CLE" commands, output and display state,
// remote/local lock and display text, the set-point queries "CURR?" and
// "VOLT?" and the measurements "MEAS:CURR?" and "MEAS:VOLT?" of a lamp
// load, numbers in the instrument's "+8.33300000E+00" form. Every command is
// recorded with its arrival time, so a test can check a ramp on the wire.
//
// With a lamp bus, every change of the output or its current is passed on,
// so the head's bulb and the counter follow the lamp.
#pragma once

#include "E3633AModel.h"
#include "framework/LampBus.h"
#include "framework/SimDevice.h"

#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace sim {

class CPsuSimulator : public CSimDevice {
public:
    // Line-rate mode: the supply's SCPI parser answers a query this long
    // after its line end (the E3633A is the slowest of the three).
    static constexpr std::chrono::microseconds kTurnaround{5000};

    // The lamp bus is optional: quorvex-sim couples the three instruments
    // through it; tests usually run one instrument alone.
    CPsuSimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                  CLampBus* lamp = nullptr);
    ~CPsuSimulator() override;

    static constexpr const char* kDefaultIdentity = "Agilent Technologies,E3633A,0,1.7-5.0-1.0";

    // The "*IDN?" reply, without its CR LF.
    void SetIdentity(std::string identity);
    // Answers commands matching `pattern` (whole command, case as sent) with
    // these exact bytes instead of the instrument's reply; the command still
    // acts on the state. Latest first.
    void OverrideReply(const std::string& pattern, std::string bytes);
    void ClearOverrides();
    void SetLoadResistance(double ohms);

    // A copy of the instrument's state.
    CE3633AModel State() const;

    // The instrument's number format, for example "+8.33300000E+00".
    static std::string FormatNumber(double value);

private:
    using Action = std::function<std::string(const std::smatch& match)>;
    struct Command {
        std::regex pattern;
        Action action;  // returns the reply without CR LF, empty for none
    };
    struct Override {
        std::regex pattern;
        std::string bytes;
    };

    void DefineCommands();
    void Define(const std::string& pattern, Action action);
    Reply Dispatch(const std::string& command);
    // Runs `change` on the state and tells the lamp if its output moved.
    void Change(const std::function<void(CE3633AModel&)>& change);
    void PushError(const std::string& error);

    CLampBus* m_lamp;
    std::vector<Command> m_commands;  // fixed after construction

    mutable std::mutex m_mutex;  // guards everything below
    CE3633AModel m_model;
    std::string m_identity = kDefaultIdentity;
    std::vector<Override> m_overrides;
    std::vector<std::string> m_errors;
    PsuOutput m_published;
};

}  // namespace sim
