// Fuzz target: the SCPI lines network clients send quorvexd. Every input is
// one line for the parser (a bad command ends its line, blank ones are
// dropped), each parsed command goes through the command table (a match
// has a parameter count in its entry's range), and every error it earns
// makes a well-formed error queue entry.
#include "FuzzSupport.h"

#include <cstdint>
#include <string_view>

#include "CommandTable.h"
#include "ErrorQueue.h"
#include "ScpiParser.h"

using fuzzsupport::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::vector<scpi::Command> commands = scpi::ParseLine(line);
    scpi::CErrorQueue queue;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const scpi::Command& command = commands[i];
        if (command.error != scpi::code::kNoError) {
            Require(i + 1 == commands.size(), "a command that failed to parse ends its line");
            Require(!command.detail.empty(), "a parse error says why");
            queue.Push(command.error, command.detail);
            continue;
        }
        Require(!command.mnemonics.empty(), "a parsed command has a header");
        Require(command.text.size() <= line.size(), "a command's text is part of its line");
        for (const std::string& mnemonic : command.mnemonics)
            for (char c : mnemonic) Require(!(c >= 'a' && c <= 'z'), "mnemonics are upper case");
        const scpi::Match match = scpi::Lookup(command);
        if (match.spec) {
            const int count = static_cast<int>(command.parameters.size());
            Require(count >= match.spec->minParameters && count <= match.spec->maxParameters,
                    "a match has an allowed number of parameters");
            Require(match.spec->query == command.query, "a match is of the command's form");
        } else {
            Require(match.error != scpi::code::kNoError, "no match is an error");
            queue.Push(match.error, match.detail);
        }
        for (const scpi::Parameter& parameter : command.parameters) {
            double value = 0;
            if (!parameter.quoted && scpi::ParseNumber(parameter.text, value))
                Require(!scpi::FormatScientific(value).empty(), "%.6E of a parsed number");
        }
    }
    while (queue.Size() > 0) {
        const std::string entry = queue.Pop();
        Require(entry.size() >= 4 && entry.back() == '"' && entry.find(",\"") != std::string::npos,
                "an error entry is <code>,\"<text>\"");
    }
    return 0;
}
