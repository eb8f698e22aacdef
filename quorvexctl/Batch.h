// quorvexctl's batch mode: subcommands read from standard input, one a line,
// run one after another on one set of connections, so a scripted loop over
// the apertures connects each instrument once instead of once a command.
//
// Runs on the main thread. The caller owns the instruments (connected on
// demand by the lines, disconnected by their owner when the batch ends) and
// the interrupt watch, whose signal also ends a wait for the next line.
#pragma once

#include <cstdio>

#include "CommandLine.h"
#include "Instruments.h"
#include "InterruptWatch.h"

namespace quorvexctl {

// Reads lines from `in` until its end. Each line's result and failure are
// printed as a single command's would be ("line N: " before a failure's
// message). Returns kExitOk, or the first failing line's exit code: the
// batch stops there unless `global.keepGoing` (an interrupt always stops it).
int RunBatch(const Invocation& global, CInstruments& instruments, CInterruptWatch& interrupts, int in,
             std::FILE* out, std::FILE* err, bool errIsTerminal);

}  // namespace quorvexctl
