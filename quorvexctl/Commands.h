// The subcommands of quorvexctl, each run on the main thread from start to
// end: connect what it needs, do its work, print its result, disconnect.
//
// A failure throws CFailure (Failure.h) after the instruments it held were
// disconnected; an interrupted ramp-up has ramped the lamp down first.
#pragma once

#include <cstdio>

#include "CommandLine.h"
#include "Instruments.h"
#include "InterruptWatch.h"

namespace quorvexctl {

struct Context {
    const Invocation& inv;
    PortSettings ports;
    CInterruptWatch& interrupts;
    std::FILE* out;        // results
    std::FILE* err;        // progress and messages
    bool errIsTerminal;
};

// Runs inv.command (not Help) and returns kExitOk, or throws CFailure.
int Run(Context& context);

}  // namespace quorvexctl
