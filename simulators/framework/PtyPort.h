// A pseudo-terminal pair standing in for one instrument's serial cable: the
// simulator owns the master side, and the slave side is linked as COMn in a
// ports folder so the drivers open it like any other port.
#pragma once

#include <filesystem>
#include <string>

namespace sim {

// The ports folder the platform layer looks in:
// $XDG_CONFIG_HOME/Vandrel Scientific Ltd/ports (XDG_CONFIG_HOME defaulting to
// ~/.config).
std::filesystem::path DefaultPortsFolder();

class CPtyPort {
public:
    // Opens a pty pair in raw mode and links <portsFolder>/COM<comNumber> to
    // the slave (the folder is created when missing). Throws
    // std::system_error on failure.
    CPtyPort(const std::filesystem::path& portsFolder, unsigned comNumber);
    // Closes both sides and removes the link.
    ~CPtyPort();

    CPtyPort(const CPtyPort&) = delete;
    CPtyPort& operator=(const CPtyPort&) = delete;

    int MasterFd() const { return m_masterFd; }
    const std::string& SlavePath() const { return m_slavePath; }
    const std::filesystem::path& LinkPath() const { return m_linkPath; }
    unsigned ComNumber() const { return m_comNumber; }
    std::string ComName() const { return "COM" + std::to_string(m_comNumber); }

    // The instrument disappears: the master is closed, so the driver's side
    // sees a hang-up. The link stays until destruction.
    void Vanish();
    bool Vanished() const { return m_masterFd < 0; }
    // The instrument comes back under the same COM number: a fresh pty
    // pair, with the link pointed at its slave (the old slave is dead for
    // whoever still holds it, as a re-plugged adapter's old handle is).
    // Not while another thread uses MasterFd() or SlavePath(). Throws
    // std::system_error on failure, leaving the port vanished.
    void Reopen();

private:
    void Open();

    int m_masterFd = -1;
    int m_slaveKeepAliveFd = -1;  // keeps the master from seeing hang-ups between driver opens
    std::string m_slavePath;
    std::filesystem::path m_linkPath;
    unsigned m_comNumber;
};

}  // namespace sim
