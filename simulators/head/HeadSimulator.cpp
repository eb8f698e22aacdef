// Simulated head instrument (see HeadSimulator.h).
#include "HeadSimulator.h"

namespace sim {

CHeadSimulator::CHeadSimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                               CLampBus*)
    : CSimDevice(portsFolder, comNumber, "\r") {}

CHeadSimulator::~CHeadSimulator() { Stop(); }

}  // namespace sim
