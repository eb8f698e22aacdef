// Simulated psu instrument on a pseudo-terminal (protocol filled in by the
// psu driver work).
#pragma once

#include "framework/LampBus.h"
#include "framework/SimDevice.h"

namespace sim {

class CPsuSimulator : public CSimDevice {
public:
    // The lamp bus is optional: quorvex-sim couples the three instruments
    // through it; tests usually run one instrument alone.
    CPsuSimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                   CLampBus* lamp = nullptr);
    ~CPsuSimulator() override;
};

}  // namespace sim
