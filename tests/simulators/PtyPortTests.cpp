// Tests of the pseudo-terminal ports: the COMn link, raw mode from the
// start, the kept-alive line, and the hang-up when an instrument vanishes.
#include "PtyPort.h"
#include "SlaveLine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <system_error>

#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using simtest::CSlaveLine;
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

TEST(PtyPort, LinksComNameToTheSlaveOverAStaleLinkButNotAFileAndUnlinksOnDestruction) {
    CTempXdg xdg;
    fs::path link;
    {
        sim::CPtyPort port(xdg.PortsFolder(), 7);  // the folder does not exist yet
        link = port.LinkPath();
        EXPECT_EQ(link, xdg.PortsFolder() / "COM7");
        EXPECT_EQ(port.ComName(), "COM7");
        ASSERT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link), fs::path(port.SlavePath()));
        EXPECT_TRUE(fs::exists(port.SlavePath()));
        EXPECT_FALSE(port.Vanished());
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

TEST(PtyPort, SlaveIsRawUnlockedAndKeptAliveAcrossDriverOpens) {
    CTempXdg xdg;
    sim::CPtyPort port(xdg.PortsFolder(), 1);
    {
        // Raw before the driver configures it.
        const int fd = ::open(port.LinkPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        termios tio{};
        ASSERT_EQ(::tcgetattr(fd, &tio), 0);
        ::close(fd);
        EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR), 0u);
    }
    {
        // The kept-alive line takes no lock the driver's would collide with.
        CSlaveLine line(port.LinkPath());
        EXPECT_EQ(::flock(line.Fd(), LOCK_EX | LOCK_NB), 0);
    }
    // The master sees no hang-up once the driver has closed the slave.
    pollfd p{port.MasterFd(), POLLIN, 0};
    ASSERT_GE(::poll(&p, 1, 0), 0);
    EXPECT_EQ(p.revents & POLLHUP, 0);
}

TEST(PtyPort, VanishHangsUpTheDriversSideAndKeepsTheLink) {
    CTempXdg xdg;
    sim::CPtyPort port(xdg.PortsFolder(), 1);
    CSlaveLine line(port.LinkPath());
    port.Vanish();
    EXPECT_TRUE(port.Vanished());
    EXPECT_TRUE(line.WaitForHangUp());
    EXPECT_TRUE(fs::is_symlink(port.LinkPath()));
    port.Vanish();  // twice is harmless
}

}  // namespace
