// Simulated tally instrument on a pseudo-terminal (protocol filled in by the
// tally driver work).
#pragma once

#include "framework/LampBus.h"
#include "framework/SimDevice.h"

namespace sim {

class CTallySimulator : public CSimDevice {
public:
    // The lamp bus is optional: quorvex-sim couples the three instruments
    // through it; tests usually run one instrument alone.
    CTallySimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                   CLampBus* lamp = nullptr);
    ~CTallySimulator() override;
};

}  // namespace sim
