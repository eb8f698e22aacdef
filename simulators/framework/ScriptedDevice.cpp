// A device whose replies a test scripts (see ScriptedDevice.h).
#include "ScriptedDevice.h"

namespace sim {

CScriptedDevice::CScriptedDevice(const std::filesystem::path& portsFolder, unsigned comNumber,
                                 std::string commandTerminator)
    : CSimDevice(portsFolder, comNumber, std::move(commandTerminator)) {}

CScriptedDevice::~CScriptedDevice() { Stop(); }

void CScriptedDevice::Script(const std::string& pattern, std::vector<Chunk> chunks) {
    On(pattern, [this, chunks = std::move(chunks)](const std::smatch&) -> Reply {
        // Timed from the arrival, not from now: the test's timings are what
        // the driver sees, however long the device took to get here.
        const auto arrival = CommandArrival();
        for (const auto& chunk : chunks) SendRawAt(arrival + chunk.after, chunk.bytes);
        return std::nullopt;
    });
}

void CScriptedDevice::Script(const std::string& pattern, const std::string& reply) {
    On(pattern, [reply](const std::smatch&) -> Reply { return reply; });
}

}  // namespace sim
