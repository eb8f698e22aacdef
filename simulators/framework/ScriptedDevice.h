// A device whose replies a test scripts, for exercising the serial transport
// byte by byte: each expected command is answered by a list of timed chunks.
#pragma once

#include "SimDevice.h"

#include <chrono>
#include <string>
#include <vector>

namespace sim {

struct Chunk {
    std::chrono::milliseconds after;  // delay after the command arrived
    std::string bytes;
};

class CScriptedDevice : public CSimDevice {
public:
    CScriptedDevice(const std::filesystem::path& portsFolder, unsigned comNumber,
                    std::string commandTerminator = "\r");
    ~CScriptedDevice() override;

    // Answers every command matching `pattern` with the chunks, each sent
    // its delay after the command's arrival.
    void Script(const std::string& pattern, std::vector<Chunk> chunks);
    // Answers with one immediate reply.
    void Script(const std::string& pattern, const std::string& reply);
};

}  // namespace sim
