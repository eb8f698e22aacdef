// A pseudo-terminal pair linked as COMn (see PtyPort.h).
#include "PtyPort.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

fs::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return fs::temp_directory_path();
}

}  // namespace

fs::path DefaultPortsFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const fs::path configHome = (config && *config) ? fs::path(config) : HomeFolder() / ".config";
    return configHome / "Vandrel Scientific Ltd" / "ports";
}

CPtyPort::CPtyPort(const fs::path& portsFolder, unsigned comNumber) : m_comNumber(comNumber) {
    fs::create_directories(portsFolder);
    m_linkPath = portsFolder / ComName();
    try {
        Open();
    } catch (...) {
        m_linkPath.clear();
        throw;
    }
}

void CPtyPort::Reopen() {
    Vanish();
    Open();
}

void CPtyPort::Open() {
    const std::string oldSlave = m_slavePath;
    try {
        m_masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_masterFd < 0) ThrowErrno("posix_openpt");
        if (::grantpt(m_masterFd) != 0) ThrowErrno("grantpt");
        if (::unlockpt(m_masterFd) != 0) ThrowErrno("unlockpt");
        char name[128];
        if (const int err = ::ptsname_r(m_masterFd, name, sizeof name); err != 0) {
            errno = err;
            ThrowErrno("ptsname_r");
        }
        m_slavePath = name;

        // Holding the slave open keeps the master from reporting a hang-up
        // while no driver has the port open. It takes no flock and sets no
        // exclusive mode, so the driver's own exclusive open still works.
        m_slaveKeepAliveFd = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_slaveKeepAliveFd < 0) ThrowErrno("open " + m_slavePath);

        // Raw from the start: nothing written before the driver configures
        // the port may be echoed back or translated.
        termios tio{};
        if (::tcgetattr(m_slaveKeepAliveFd, &tio) != 0) ThrowErrno("tcgetattr");
        ::cfmakeraw(&tio);
        if (::tcsetattr(m_slaveKeepAliveFd, TCSANOW, &tio) != 0) ThrowErrno("tcsetattr");

        // A link left behind by a simulator that did not stop cleanly (or
        // our own, on reopening) is replaced; anything that is not a link
        // is someone else's.
        std::error_code ec;
        const auto status = fs::symlink_status(m_linkPath, ec);
        if (fs::is_symlink(status)) {
            fs::remove(m_linkPath);
        } else if (fs::exists(status)) {
            throw std::system_error(std::make_error_code(std::errc::file_exists),
                                    m_linkPath.string() + " is not a link");
        }
        fs::create_symlink(m_slavePath, m_linkPath);
    } catch (...) {
        CloseFd(m_slaveKeepAliveFd);
        CloseFd(m_masterFd);
        m_slavePath = oldSlave;  // the link, if any, still names it
        throw;
    }
}

CPtyPort::~CPtyPort() {
    CloseFd(m_slaveKeepAliveFd);
    CloseFd(m_masterFd);
    if (!m_linkPath.empty()) {
        std::error_code ec;
        // Only our own link: another simulator may have replaced it since.
        if (fs::read_symlink(m_linkPath, ec) == fs::path(m_slavePath)) fs::remove(m_linkPath, ec);
    }
}

void CPtyPort::Vanish() {
    // Both must go: with the keep-alive slave open the line would merely
    // fall silent, and the driver should see the hang-up a pulled cable
    // gives.
    CloseFd(m_masterFd);
    CloseFd(m_slaveKeepAliveFd);
}

}  // namespace sim
