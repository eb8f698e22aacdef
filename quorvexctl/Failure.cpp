// Driver result codes turned into quorvexctl's exit codes and messages.
#include "Failure.h"

#include <PsuDll/PsuDll.h>
#include <QuorvexDll/QuorvexDll.h>
#include <TallyDll/TallyDll.h>

#include "DriverResults.h"

namespace quorvexctl {

namespace {

[[noreturn]] void Fail(ExitCode code, const std::string& what, const char* why, int result) {
    throw CFailure(code, what + ": " + why + " (error " + std::to_string(result) + ")");
}

void Check(const driverresults::Meaning& meaning, const std::string& what, int result) {
    switch (meaning.kind) {
        case driverresults::Kind::Success: return;
        case driverresults::Kind::TimedOut: Fail(kExitTimedOut, what, meaning.text, result);
        case driverresults::Kind::Busy: Fail(kExitBusy, what, meaning.text, result);
        case driverresults::Kind::BadArgument: Fail(kExitBadArgument, what, meaning.text, result);
        case driverresults::Kind::Aborted: Fail(kExitInterrupted, what, meaning.text, result);
        case driverresults::Kind::Failed: Fail(kExitFailed, what, meaning.text, result);
    }
}

}  // namespace

void CheckHead(int result, const std::string& what, void* head) {
    int code = 0;
    const wchar_t* message = nullptr;
    if (result == QuorvexErrorCommandFailed && head &&
        Quorvex_GetLastDeviceError(head, &code, &message) == QuorvexSuccess && message && *message) {
        // The unit's messages are ASCII.
        std::string text;
        for (const wchar_t* c = message; *c; ++c) text += static_cast<char>(*c);
        throw CFailure(kExitFailed, what + ": the head unit refused it: " + text + " (head error " +
                                        std::to_string(code) + ")");
    }
    Check(driverresults::Head(result), what, result);
}

void CheckSupply(int result, const std::string& what) { Check(driverresults::Supply(result), what, result); }

void CheckCounter(int result, const std::string& what) { Check(driverresults::Counter(result), what, result); }

}  // namespace quorvexctl
