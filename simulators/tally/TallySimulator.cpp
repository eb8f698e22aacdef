// Simulated tally instrument (see TallySimulator.h).
#include "TallySimulator.h"

namespace sim {

CTallySimulator::CTallySimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                               CLampBus*)
    : CSimDevice(portsFolder, comNumber, "\r") {}

CTallySimulator::~CTallySimulator() { Stop(); }

}  // namespace sim
