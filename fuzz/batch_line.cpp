// Fuzz target: a line of a quorvexctl batch, as it comes from standard
// input, split into words (quotes, backslashes) and parsed as a subcommand.
// A bad line may only be refused as a usage error; one that parses keeps
// the batch's own global options, starts no batch of its own, and holds
// only values the instruments accept.
#include "FuzzSupport.h"

#include <cstdint>
#include <string>

#include "CommandLine.h"
#include "Failure.h"

using fuzzsupport::Require;
using namespace quorvexctl;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    Invocation global;
    global.headPort = 7;
    global.json = true;
    global.quiet = true;
    try {
        const std::optional<Invocation> inv = ParseBatchLine(line, global);
        if (!inv) return 0;
        Require(inv->command != Command::Batch, "a line starts no batch");
        Require(inv->headPort == 7 && !inv->supplyPort && !inv->counterPort && inv->json && inv->quiet &&
                    inv->verbosity == 0 && inv->logFile.empty(),
                "a line keeps the batch's global options");
        if (inv->command == Command::Move)
            Require(inv->primary < kPrimaryPositions && inv->secondary < kSecondaryPositions, "move within the wheels");
        if (inv->command == Command::Display && !inv->clearDisplay) {
            Require(inv->displayText.size() <= kDisplayCharacters, "the display text fits the supply's display");
            for (const unsigned char c : inv->displayText)
                Require(c >= 0x20 && c <= 0x7e && c != '"', "the display text cannot end the supply's command");
        }
        if (inv->current) Require(*inv->current > 0 && *inv->current <= kMaxRampCurrent, "current within the lamp's limit");
        if (inv->voltage) Require(*inv->voltage > 0 && *inv->voltage <= kMaxRampVoltage, "voltage within the lamp's limit");
    } catch (const CFailure& failure) {
        Require(failure.Code() == kExitBadArgument, "a bad line is a usage error");
    }
    return 0;
}
