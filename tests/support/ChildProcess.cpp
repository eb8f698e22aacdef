// Starting, signalling and reaping a test's child process.
#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {

std::filesystem::path OutputFile(const char* stream) {
    static std::atomic<int> serial{0};
    return std::filesystem::temp_directory_path() /
           ("child-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + "." + stream);
}

}  // namespace

CChildProcess::CChildProcess(const std::vector<std::string>& argv, const std::optional<std::string>& input,
                             int stdoutFd)
    : m_in(input ? OutputFile("in") : std::filesystem::path("/dev/null")), m_out(OutputFile("out")), m_err(OutputFile("err")) {
    if (input && !(std::ofstream(m_in, std::ios::binary) << *input))
        throw std::runtime_error("cannot write the input of " + argv[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, m_in.c_str(), O_RDONLY, 0);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // The child starts with no signal blocked or ignored, whatever the test runner did.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int failed = posix_spawn(&m_pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) throw std::runtime_error("cannot start " + argv[0]);
    m_pidFd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
}

CChildProcess::~CChildProcess() {
    if (!m_exit) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_pidFd >= 0) close(m_pidFd);
    std::error_code ignored;
    if (m_in != "/dev/null") std::filesystem::remove(m_in, ignored);
    std::filesystem::remove(m_out, ignored);
    std::filesystem::remove(m_err, ignored);
}

void CChildProcess::Signal(int signal) const {
    if (!m_exit) kill(m_pid, signal);
}

std::optional<int> CChildProcess::Wait(std::chrono::milliseconds limit) {
    if (m_exit) return m_exit;
    pollfd fd{m_pidFd, POLLIN, 0};
    if (m_pidFd >= 0 && poll(&fd, 1, static_cast<int>(limit.count())) <= 0) return std::nullopt;
    int status = 0;
    if (waitpid(m_pid, &status, m_pidFd >= 0 ? WNOHANG : 0) != m_pid) return std::nullopt;
    m_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_killedBy = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return m_exit;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                         const std::optional<std::string>& input) {
    CChildProcess child(argv, input);
    ProcessResult result;
    result.code = child.Wait(limit).value_or(-1);
    result.out = child.Out();
    result.err = child.Err();
    return result;
}

}  // namespace testsupport
