// Simulated head instrument on a pseudo-terminal (protocol filled in by the
// head driver work).
#pragma once

#include "framework/LampBus.h"
#include "framework/SimDevice.h"

namespace sim {

class CHeadSimulator : public CSimDevice {
public:
    // The lamp bus is optional: quorvex-sim couples the three instruments
    // through it; tests usually run one instrument alone.
    CHeadSimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                   CLampBus* lamp = nullptr);
    ~CHeadSimulator() override;
};

}  // namespace sim
