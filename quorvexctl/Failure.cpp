// Driver result codes turned into quorvexctl's exit codes and messages.
#include "Failure.h"

#include <PsuDll/PsuDll.h>
#include <QuorvexDll/QuorvexDll.h>
#include <TallyDll/TallyDll.h>

namespace quorvexctl {

namespace {

[[noreturn]] void Fail(ExitCode code, const std::string& what, const char* why, int result) {
    throw CFailure(code, what + ": " + why + " (error " + std::to_string(result) + ")");
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
    switch (result) {
        case QuorvexSuccess: return;
        case QuorvexErrorCommandFailed: Fail(kExitTimedOut, what, "the head unit did not answer", result);
        case QuorvexErrorHomeTimeout: Fail(kExitTimedOut, what, "the wheels did not report home within 20 s", result);
        case QuorvexErrorMoveTimeout: Fail(kExitTimedOut, what, "the wheels did not report the move within 20 s", result);
        case QuorvexErrorBusy: Fail(kExitBusy, what, "a transfer of that table is already running", result);
        case QuorvexErrorInvalidParameter: Fail(kExitBadArgument, what, "the head library refused the arguments", result);
        case QuorvexErrorSaveFailed: Fail(kExitFailed, what, "the file cannot be written", result);
        default: Fail(kExitFailed, what, "the head library failed", result);
    }
}

void CheckSupply(int result, const std::string& what) {
    switch (result) {
        case AgilentSuccess: return;
        case AgilentErrorCommandFailed: Fail(kExitTimedOut, what, "the power supply did not answer", result);
        case AgilentErrorBusy: Fail(kExitBusy, what, "a ramp is already running on the power supply", result);
        case AgilentErrorInvalidParameter: Fail(kExitBadArgument, what, "the supply library refused the arguments", result);
        case AgilentErrorAborted: Fail(kExitInterrupted, what, "aborted", result);
        default: Fail(kExitFailed, what, "the supply library failed", result);
    }
}

void CheckCounter(int result, const std::string& what) {
    switch (result) {
        case EtcSuccess: return;
        case EtcErrorCommandFailed: Fail(kExitTimedOut, what, "the elapsed-time counter did not answer", result);
        case EtcErrorBusy: Fail(kExitBusy, what, "the elapsed-time counter is busy", result);
        case EtcErrorInvalidParameter: Fail(kExitBadArgument, what, "the counter library refused the arguments", result);
        default: Fail(kExitFailed, what, "the counter library failed", result);
    }
}

}  // namespace quorvexctl
