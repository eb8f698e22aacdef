// The exit codes of quorvexctl, one for each kind of failure a calibration
// script may want to tell apart, and the exception that carries one of them
// with its one-line message from where the failure is found up to main.
//
// Thrown on the main thread only; the sessions that hold instruments
// disconnect them as the exception passes.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvexctl {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,        // the instrument refused, or an output could not be written
    kExitBadArgument = 2,   // the command line or a file named on it
    kExitNoInstrument = 3,  // no such port, or nothing answered on it
    kExitPermission = 4,    // the port is not open to this user (dialout group)
    kExitBusy = 5,          // the port is in use, or the instrument is busy
    kExitTimedOut = 6,      // the instrument stopped answering
    // Stopped by SIGINT, SIGTERM or SIGHUP: never an exit status, since the
    // program then dies of the signal itself (CInterruptWatch::DieOf).
    kExitInterrupted = 130,
};

class CFailure : public std::runtime_error {
public:
    CFailure(ExitCode code, const std::string& message) : std::runtime_error(message), m_code(code) {}
    ExitCode Code() const { return m_code; }

private:
    ExitCode m_code;
};

// The failure a driver's result code stands for, with `what` ("moving the
// apertures to 1,5") in the message; nothing when the call succeeded. With
// the head's handle, a command the unit refused is told from one it left
// unanswered: exit 1 with the unit's own message rather than 6.
void CheckHead(int quorvexError, const std::string& what, void* head = nullptr);
void CheckSupply(int agilentError, const std::string& what);
void CheckCounter(int etcError, const std::string& what);

}  // namespace quorvexctl
