// The subcommands of quorvexctl, each run on the main thread from start to
// end: connect what it needs (through the context's instruments, which a
// batch shares between its lines), do its work, print its result.
//
// A failure throws CFailure (Failure.h); an interrupted ramp-up has ramped
// the lamp down first. Under --json a subcommand prints its one object only
// when it succeeds, so the caller can print the failure's object instead.
#pragma once

#include <cstdio>

#include "CommandLine.h"
#include "Instruments.h"
#include "InterruptWatch.h"

namespace quorvexctl {

struct Context {
    const Invocation& inv;
    CInstruments& instruments;  // connected on demand, disconnected by its owner
    CInterruptWatch& interrupts;
    std::FILE* out;        // results
    std::FILE* err;        // progress and messages
    bool errIsTerminal;

    CInstruments& Connect(unsigned needs) {
        instruments.Need(needs);
        return instruments;
    }
};

// Runs inv.command and returns kExitOk, or throws CFailure. Help and
// Version print their text; Batch is run by RunBatch (Batch.h).
int Run(Context& context);

}  // namespace quorvexctl
