// quorvexctl: the light source's three instruments from a shell, for
// scripted calibration runs.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
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

// A log file that cannot be appended to is refused before anything
// connects, as a bad argument: the run it was to record would go unlogged.
void CheckLogFile(const Invocation& inv) {
    if (inv.logFile.empty()) return;
    std::FILE* file = std::fopen(inv.logFile.c_str(), "a");
    if (!file)
        throw CFailure(kExitBadArgument,
                       "--log \"" + inv.logFile + "\": cannot append to it: " + std::strerror(errno));
    std::fclose(file);
}

// Results that did not reach standard output (a full disk, a closed pipe)
// are a failure of the run, not a silent success.
int CheckOutput(std::FILE* err, int code) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
    const int error = errno;
    std::fprintf(err, "quorvexctl: cannot write the results to standard output: %s\n", std::strerror(error));
    return code == kExitOk ? kExitFailed : code;
}

// A signal still pending once the watch has gone.
int PendingSignal() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0) return 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        if (sigismember(&pending, signal) == 1) return signal;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread starts, so that only the watch ever sees the signals.
    CInterruptWatch::BlockSignals();
    // A closed pipe on standard output becomes a write error (EPIPE) that
    // is reported, instead of a silent death.
    std::signal(SIGPIPE, SIG_IGN);

    SetUpCodeset();

    const std::vector<std::string> args(argv + 1, argv + argc);
    Invocation inv;
    try {
        inv = Parse(args);
        ApplyEnvironment(inv);
        if (inv.command != Command::Help && inv.command != Command::Version) CheckLogFile(inv);
    } catch (const CFailure& failure) {
        // --json may not have been reached when the command line broke off.
        const bool json = std::find(args.begin(), std::find(args.begin(), args.end(), "--"), "--json") != args.end();
        ReportFailure(stdout, stderr, json, failure.Code(), failure.what(), " (see quorvexctl --help)");
        return CheckOutput(stderr, failure.Code());
    }

    std::FILE* err = OwnStandardError(inv);
    SetUpLogging(inv);
    int code = kExitOk;
    int stoppedBy = 0;
    try {
        CInterruptWatch interrupts;
        try {
            CInstruments instruments(LoadPortSettings(inv), 0, interrupts.AbortEvent());
            const bool errIsTerminal = isatty(fileno(err)) == 1;
            if (inv.command == Command::Batch) {
                code = RunBatch(inv, instruments, interrupts, STDIN_FILENO, stdout, err, errIsTerminal);
            } else {
                Context context{inv, instruments, interrupts, stdout, err, errIsTerminal};
                code = Run(context);
            }
        } catch (const CFailure& failure) {
            std::fflush(stdout);
            ReportFailure(stdout, err, inv.json, failure.Code(), failure.what());
            code = failure.Code();
        } catch (const std::exception& e) {
            std::fflush(stdout);
            ReportFailure(stdout, err, inv.json, kExitFailed, e.what());
            code = kExitFailed;
        }
        stoppedBy = interrupts.FirstSignal();
    } catch (const std::exception& e) {  // the watch could not start
        std::fflush(stdout);
        ReportFailure(stdout, err, inv.json, kExitFailed, e.what());
        code = kExitFailed;
    }
    code = CheckOutput(err, code);
    // Every instrument is disconnected by now. A signal that came while the
    // subcommand ran (a ramp-down included) ends the process as it asked.
    if (!stoppedBy) stoppedBy = PendingSignal();
    if (stoppedBy) {
        std::fflush(err);
        CInterruptWatch::DieOf(stoppedBy);
    }
    return code;
}
