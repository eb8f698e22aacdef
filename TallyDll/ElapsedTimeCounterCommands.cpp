// CElapsedTimeCounter: the elapsed-time and power-cycle queries and the
// reset and set-base commands, in their waiting, event and callback forms
// (see ElapsedTimeCounter.h).
#include "ElapsedTimeCounter.h"

#include "ElapsedTimeCounterProtocol.h"

#include <platform/text.h>

#include <utility>

using driverlog::Debug;
using tallydll::LineRequest;
using tallydll::ParseCount;
using tallydll::ParseResult;

namespace {

constexpr const wchar_t* kElapsedTimeTimeout = L": T? command timed out! Partial response received: \"";

// Quarter seconds, unsigned: a count with the top bit set is not negative.
double QuarterSeconds(uint32_t count) { return count * 0.25; }

}  // namespace

EtcError CElapsedTimeCounter::GetElapsedTime(double& seconds) {
    Log().Log(Debug, L": Getting the elapsed time count.");
    const auto count = Ask(LineRequest("T?"), Reply(ParseCount, kElapsedTimeTimeout));
    if (!count || !*count) return EtcErrorCommandFailed;
    seconds = QuarterSeconds(**count);
    return EtcSuccess;
}

EtcError CElapsedTimeCounter::GetPowerCycleCount(uint32_t& count) {
    Log().Log(Debug, L": Getting the number of power cycles.");
    const auto value = Ask(LineRequest("P?"), Reply(ParseCount));
    if (!value || !*value) return EtcErrorCommandFailed;
    count = **value;
    return EtcSuccess;
}

EtcError CElapsedTimeCounter::ReadCountCallback(const char* query, const wchar_t* logText,
                                                const wchar_t* timeoutMessage,
                                                EtcPowerCycleCountCallback callback) {
    Log().Log(Debug, logText);
    // A failed reply still reaches the callback, with valid 0.
    auto reply = driver::CPendingReply<std::optional<uint32_t>>::ForCallback(
        [callback = std::move(callback)](const std::optional<uint32_t>& count) {
            if (callback) callback(count ? 1 : 0, count.value_or(0));
        });
    Send(LineRequest(query), Reply(ParseCount, timeoutMessage), std::move(reply));
    return EtcSuccess;
}

EtcError CElapsedTimeCounter::GetElapsedTimeCallback(EtcElapsedTimeCallback callback) {
    EtcPowerCycleCountCallback countCallback;
    if (callback) {
        countCallback = [callback = std::move(callback)](int valid, uint32_t count) {
            callback(valid, QuarterSeconds(count));
        };
    }
    return ReadCountCallback("T?", L": Getting the elapsed time count.", kElapsedTimeTimeout,
                             std::move(countCallback));
}

EtcError CElapsedTimeCounter::GetPowerCycleCountCallback(EtcPowerCycleCountCallback callback) {
    return ReadCountCallback("P?", L": Getting the power cycle count.", kCommandTimeout, std::move(callback));
}

EtcError CElapsedTimeCounter::RunCommand(const std::string& command, bool wait, HANDLE event) {
    if (wait) {
        const auto result = Ask(LineRequest(command), Reply(ParseResult));
        return result && *result ? EtcSuccess : EtcErrorCommandFailed;
    }
    // The caller's event (may be null) is signalled once the reply was
    // handled, success or not.
    Send(LineRequest(command), Reply(ParseResult), driver::CPendingReply<std::optional<int>>::ForCallback(nullptr, event));
    return EtcSuccess;
}

EtcError CElapsedTimeCounter::Reset(bool wait, HANDLE event) {
    Log().Log(Debug, L": Resetting the elapsed time counter.");
    return RunCommand("R!", wait, event);
}

EtcError CElapsedTimeCounter::SetBaseElapsedTimeCount(uint32_t value, bool wait, HANDLE event) {
    Log().Log(Debug, platform::FormatW(L": Setting the base elapsed time count to 0x%08X.", value));
    return RunCommand(platform::Format("!0BB%08X", value), wait, event);
}

EtcError CElapsedTimeCounter::SetBasePowerCycleCount(uint32_t value, bool wait, HANDLE event) {
    Log().Log(Debug, platform::FormatW(L": Setting the base power cycle count to 0x%08X.", value));
    return RunCommand(platform::Format("!0EE%06X", value), wait, event);
}
