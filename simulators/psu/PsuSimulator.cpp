// Simulated psu instrument (see PsuSimulator.h).
#include "PsuSimulator.h"

namespace sim {

CPsuSimulator::CPsuSimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                               CLampBus*)
    : CSimDevice(portsFolder, comNumber, "\r") {}

CPsuSimulator::~CPsuSimulator() { Stop(); }

}  // namespace sim
