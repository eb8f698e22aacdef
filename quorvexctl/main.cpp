// quorvexctl: the light source's three instruments from a shell, for
// scripted calibration runs.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include <QString>

#include "Commands.h"
#include "CommandLine.h"
#include "DriverLogSetup.h"
#include "Failure.h"
#include "InterruptWatch.h"

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

    Invocation inv;
    try {
        inv = Parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const CFailure& failure) {
        std::fprintf(stderr, "quorvexctl: %s (see quorvexctl --help)\n", failure.what());
        return failure.Code();
    }
    if (inv.command == Command::Help) {
        std::fputs(HelpText().c_str(), stdout);
        return kExitOk;
    }

    std::FILE* err = OwnStandardError(inv);
    SetUpLogging(inv);
    try {
        CInterruptWatch interrupts;
        Context context{inv, LoadPortSettings(inv), interrupts, stdout, err, isatty(fileno(err)) == 1};
        const int code = Run(context);
        std::fflush(stdout);
        return code;
    } catch (const CFailure& failure) {
        std::fflush(stdout);
        std::fprintf(err, "quorvexctl: %s\n", failure.what());
        return failure.Code();
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(err, "quorvexctl: %s\n", e.what());
        return kExitFailed;
    }
}
