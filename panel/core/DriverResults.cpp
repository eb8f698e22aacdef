// The result-code tables of the head, supply and counter libraries.
#include "DriverResults.h"

#include "PsuDll/PsuDll.h"
#include "QuorvexDll/QuorvexDll.h"
#include "TallyDll/TallyDll.h"

namespace driverresults {

Meaning Head(int result) {
    switch (result) {
        case QuorvexSuccess: return {Kind::Success, ""};
        case QuorvexErrorCommandFailed: return {Kind::TimedOut, "the head unit did not answer"};
        case QuorvexErrorHomeTimeout: return {Kind::TimedOut, "the wheels did not report home within 20 s"};
        case QuorvexErrorMoveTimeout: return {Kind::TimedOut, "the wheels did not report the move within 20 s"};
        case QuorvexErrorBusy: return {Kind::Busy, "a transfer of that table is already running"};
        case QuorvexErrorInvalidParameter: return {Kind::BadArgument, "the head library refused the arguments"};
        case QuorvexErrorSaveFailed: return {Kind::Failed, "the file cannot be written"};
        default: return {Kind::Failed, "the head library failed"};
    }
}

Meaning Supply(int result) {
    switch (result) {
        case AgilentSuccess: return {Kind::Success, ""};
        case AgilentErrorCommandFailed: return {Kind::TimedOut, "the power supply did not answer"};
        case AgilentErrorBusy: return {Kind::Busy, "a ramp is already running on the power supply"};
        case AgilentErrorInvalidParameter: return {Kind::BadArgument, "the supply library refused the arguments"};
        case AgilentErrorAborted: return {Kind::Aborted, "aborted"};
        default: return {Kind::Failed, "the supply library failed"};
    }
}

Meaning Counter(int result) {
    switch (result) {
        case EtcSuccess: return {Kind::Success, ""};
        case EtcErrorCommandFailed: return {Kind::TimedOut, "the elapsed-time counter did not answer"};
        case EtcErrorBusy: return {Kind::Busy, "the elapsed-time counter is busy"};
        case EtcErrorInvalidParameter: return {Kind::BadArgument, "the counter library refused the arguments"};
        default: return {Kind::Failed, "the counter library failed"};
    }
}

}  // namespace driverresults
