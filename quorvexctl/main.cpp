// quorvexctl: the light source's three instruments from a shell, for
// scripted calibration runs.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include <QString>

#include "Batch.h"
#include "Commands.h"
#include "CommandLine.h"
#include "DriverLogSetup.h"
#include "Failure.h"
#include "InterruptWatch.h"
#include "Output.h"

using namespace quorvexctl;

namespace {

// Our own messages keep the real standard error; the libraries' copy of
// their log ("the debugger") goes there only with -v, so that --log FILE
// alone leaves the terminal to the progress bar.
std::FILE* OwnStandardError(const Invocation& inv) {
    if (inv.logFile.empty() || inv.verbosity > 0) return stderr;
    const int own = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::FILE* err = own >= 0 ? fdopen(own, "w") : nullptr;
    if (!err || null < 0) {
        if (null >= 0) close(null);
        return stderr;
    }
    dup2(null, STDERR_FILENO);
    close(null);
    return err;
}

void SetUpLogging(const Invocation& inv) {
    if (!inv.logFile.empty()) {
        std::error_code error;
        const std::filesystem::path path = std::filesystem::absolute(inv.logFile, error);
        driverlogsetup::SetLogfilePath(QString::fromStdString(path.string()).toStdWString());
    }
    const unsigned ceiling = inv.verbosity >= 2 ? 7 : (inv.verbosity == 1 || !inv.logFile.empty()) ? 6 : 0;
    if (ceiling > 0) driverlogsetup::SetLogCeiling(ceiling);
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread starts, so that only the watch ever sees the signals.
    CInterruptWatch::BlockSignals();

    SetUpCodeset();

    const std::vector<std::string> args(argv + 1, argv + argc);
    Invocation inv;
    try {
        inv = Parse(args);
        ApplyEnvironment(inv);
    } catch (const CFailure& failure) {
        // --json may not have been reached when the command line broke off.
        const bool json = std::find(args.begin(), std::find(args.begin(), args.end(), "--"), "--json") != args.end();
        ReportFailure(stdout, stderr, json, failure.Code(), failure.what(), " (see quorvexctl --help)");
        return failure.Code();
    }

    std::FILE* err = OwnStandardError(inv);
    SetUpLogging(inv);
    try {
        CInterruptWatch interrupts;
        CInstruments instruments(LoadPortSettings(inv));
        const bool errIsTerminal = isatty(fileno(err)) == 1;
        int code = kExitOk;
        if (inv.command == Command::Batch) {
            code = RunBatch(inv, instruments, interrupts, STDIN_FILENO, stdout, err, errIsTerminal);
        } else {
            Context context{inv, instruments, interrupts, stdout, err, errIsTerminal};
            code = Run(context);
        }
        std::fflush(stdout);
        return code;
    } catch (const CFailure& failure) {
        ReportFailure(stdout, err, inv.json, failure.Code(), failure.what());
        std::fflush(stdout);
        return failure.Code();
    } catch (const std::exception& e) {
        ReportFailure(stdout, err, inv.json, kExitFailed, e.what());
        std::fflush(stdout);
        return kExitFailed;
    }
}
