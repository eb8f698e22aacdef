// A program run as a child process for a test, with its standard output and
// error captured to files, signalled on request and waited for with a
// deadline, so a child that hangs fails the test instead of hanging it.
//
// Owned by one test thread. The destructor kills a child still running and
// reaps it, so no test leaves a process behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace testsupport {

class CChildProcess {
public:
    // argv[0] is the program's path; `input` is its standard input (none:
    // /dev/null). Throws std::runtime_error when it cannot start.
    // `stdoutFd` (when not -1) becomes the child's standard output instead
    // of a capture file (the caller keeps and closes its copy).
    explicit CChildProcess(const std::vector<std::string>& argv, const std::optional<std::string>& input = {},
                           int stdoutFd = -1);
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    void Signal(int signal) const;
    // For reading the child's own figures (/proc/PID/stat).
    pid_t Pid() const { return m_pid; }
    // The exit code (128 + the signal when one ended it); nothing when the
    // child still runs at the deadline.
    std::optional<int> Wait(std::chrono::milliseconds limit = kLimit);
    // The signal that killed the child, 0 when it exited (or still runs):
    // a program that dies of SIGINT and one that exits 130 look alike in
    // Wait, but not to a calling shell loop.
    int KilledBy() const { return m_killedBy; }

    std::string Out() const { return ReadFile(m_out); }
    std::string Err() const { return ReadFile(m_err); }

private:
    pid_t m_pid = -1;
    int m_pidFd = -1;
    std::optional<int> m_exit;
    int m_killedBy = 0;
    std::filesystem::path m_in, m_out, m_err;
};

struct ProcessResult {
    int code = -1;  // -1: still running at the deadline (then killed)
    std::string out, err;
};

// Runs argv to its end (or the deadline) and hands back what it printed.
ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds limit = 60s,
                         const std::optional<std::string>& input = {});

}  // namespace testsupport
