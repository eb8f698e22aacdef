// Tests of the pseudo-terminal ports: the COMn link, raw mode from the
// start and the kept-alive line (vanishing is seen through the device).
#include "PtyPort.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::CTempXdg;

namespace {

TEST(DefaultPortsFolder, FollowsXdgConfigHomeElseDotConfigInHome) {
    CTempXdg xdg;
    EXPECT_EQ(sim::DefaultPortsFolder(), xdg.PortsFolder());
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", xdg.Root().c_str(), 1);
    const fs::path folder = sim::DefaultPortsFolder();
    if (oldHome) setenv("HOME", savedHome.c_str(), 1); else unsetenv("HOME");
    EXPECT_EQ(folder, xdg.Root() / ".config" / "Vandrel Scientific Ltd" / "ports");
}

TEST(PtyPort, LinksComNameToARawKeptAliveSlaveOverAStaleLinkButNotAFileAndUnlinksOnDestruction) {
    CTempXdg xdg;
    fs::path link;
    {
        sim::CPtyPort port(xdg.PortsFolder(), 7);  // the folder does not exist yet
        link = port.LinkPath();
        EXPECT_EQ(link, xdg.PortsFolder() / "COM7");
        EXPECT_EQ(port.ComName(), "COM7");
        ASSERT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link), fs::path(port.SlavePath()));
        EXPECT_FALSE(port.Vanished());

        // Raw before the driver configures it, and the kept-alive line takes
        // no lock the driver's would collide with.
        const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        termios tio{};
        EXPECT_EQ(::tcgetattr(fd, &tio), 0);
        EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
        EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR), 0u);
        // The master sees no hang-up once the driver has closed the slave.
        pollfd p{port.MasterFd(), POLLIN, 0};
        ASSERT_GE(::poll(&p, 1, 0), 0);
        EXPECT_EQ(p.revents & POLLHUP, 0);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    fs::create_symlink("/dev/pts/does-not-exist", xdg.PortsFolder() / "COM2");
    {
        sim::CPtyPort port(xdg.PortsFolder(), 2);
        EXPECT_EQ(fs::read_symlink(port.LinkPath()), fs::path(port.SlavePath()));
    }
    std::ofstream(xdg.PortsFolder() / "COM3") << "not a port";
    EXPECT_THROW(sim::CPtyPort(xdg.PortsFolder(), 3), std::system_error);
    EXPECT_TRUE(fs::is_regular_file(xdg.PortsFolder() / "COM3"));
}

}  // namespace
