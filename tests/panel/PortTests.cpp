// Tests of port discovery, Auto Detect and Assign against pseudo-terminals
// linked as COMn in a private XDG folder (the simulated instruments and bare
// ptys), with a fake /dev for Assign.
#include "AppSettings.h"
#include "AutoDetect.h"
#include "PortAssign.h"
#include "PortDiscovery.h"
#include "PortScanner.h"

#include "HeadSimulator.h"
#include "PsuSimulator.h"
#include "PtyPort.h"
#include "TallySimulator.h"
#include "TestSupport.h"

#include <platform/win32.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace portdiscovery;

namespace {

const PortInfo* Find(const std::vector<PortInfo>& ports, int number) {
    for (const PortInfo& port : ports)
        if (port.number == number) return &port;
    return nullptr;
}

std::string PtyText(const sim::CPtyPort& pty) {
    return "pseudo-terminal (pts/" + fs::path(pty.SlavePath()).filename().string() + ")";
}

// True when the machine's /dev/ttyS<index> opens but has no UART behind it.
bool IsEmptyUartNode(int index) {
    const int fd = open(("/dev/ttyS" + std::to_string(index)).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    serial_struct serial{};
    const bool empty = ioctl(fd, TIOCGSERIAL, &serial) == 0 && serial.type == PORT_UNKNOWN;
    close(fd);
    return empty;
}

}  // namespace

TEST(PortDiscovery, ItemTextsAndTheirPortNumbers) {
    const struct {
        const char* text;
        int number;
    } numbers[] = {{"COM4 \u2014 USB serial FT232R (ttyUSB0)", 4}, {"COM12", 12}, {"COM255 (in use)", 255},
                   {"COM7x", 7}, {"COM", -1}, {"COM0", -1}, {"COM256", -1}, {"COM99999999999", -1},
                   {" COM4", -1}, {"com4", -1}, {"COM 4", -1}, {"", -1}};
    for (const auto& row : numbers) EXPECT_EQ(PortNumberOf(row.text), row.number) << row.text;

    PortInfo port{4, PortState::Free, "/dev/ttyUSB0", "USB serial FT232R (ttyUSB0)"};
    EXPECT_EQ(ItemText(port), "COM4 \u2014 USB serial FT232R (ttyUSB0)");
    port.state = PortState::Busy;
    EXPECT_EQ(ItemText(port), "COM4 \u2014 USB serial FT232R (ttyUSB0) (in use)");
    port.state = PortState::NoPermission;
    EXPECT_EQ(ItemText(port), "COM4 \u2014 no permission: add your user to the dialout group");
    EXPECT_EQ(PortNumberOf(ItemText(port)), 4);
}

TEST(PortDiscovery, ListsPtyPortsFreeOrBusyAndLeavesOutDanglingLinksNoTerminalsAndEmptyUarts) {
    testsupport::CTempXdg xdg;
    sim::CPtyPort first(xdg.PortsFolder(), 1), second(xdg.PortsFolder(), 7);
    constexpr int kDangling = 250;
    fs::create_symlink(xdg.Root() / "missing", xdg.PortsFolder() / ("COM" + std::to_string(kDangling)));
    // Nodes that are no terminals: the drivers refuse them, so they are no ports.
    std::ofstream(xdg.Root() / "plain-file") << "not a port";
    const int kNoTerminals[] = {251, 252};
    fs::create_symlink(xdg.Root() / "plain-file", xdg.PortsFolder() / "COM251");
    fs::create_symlink("/dev/zero", xdg.PortsFolder() / "COM252");

    const HANDLE busy = Serial_Open(7);
    ASSERT_NE(busy, nullptr);
    const std::vector<PortInfo> ports = Discover();
    CloseHandle(busy);

    const PortInfo* free = Find(ports, 1);
    const PortInfo* taken = Find(ports, 7);
    ASSERT_TRUE(free && taken);
    EXPECT_EQ(free->state, PortState::Free);
    EXPECT_EQ(free->device, first.SlavePath());
    EXPECT_EQ(free->description, PtyText(first));
    EXPECT_EQ(taken->state, PortState::Busy);
    EXPECT_EQ(ItemText(*taken), "COM7 \u2014 " + PtyText(second) + " (in use)");
    if (!fs::exists("/dev/ttyS" + std::to_string(kDangling - 1))) {
        EXPECT_EQ(Find(ports, kDangling), nullptr);
    }
    for (int n : kNoTerminals) {
        PortInfo info;
        EXPECT_EQ(Find(ports, n), nullptr) << "COM" << n;
        EXPECT_FALSE(Probe(n, info)) << "COM" << n;
    }
    for (std::size_t i = 1; i < ports.size(); ++i) EXPECT_LT(ports[i - 1].number, ports[i].number);
    // Only nodes the test's links do not hide and that this machine has.
    for (int n = 2; n <= 255; ++n) {
        if (n != 7 && IsEmptyUartNode(n - 1)) {
            EXPECT_EQ(Find(ports, n), nullptr) << "COM" << n;
        }
    }

    PortInfo again;
    ASSERT_TRUE(Probe(7, again));  // closed again: free
    EXPECT_EQ(again.state, PortState::Free);
    const std::atomic<bool> cancel{true};
    EXPECT_TRUE(Discover(&cancel).empty());
}

TEST(AutoDetect, FindsEachInstrumentOnShuffledPortsAndStopsWhenCancelled) {
    testsupport::CTempXdg xdg;
    // The silent pty comes first, so every instrument waits out its time-out there.
    sim::CPtyPort silent(xdg.PortsFolder(), 1);
    sim::CTallySimulator counter(xdg.PortsFolder(), 2);
    sim::CHeadSimulator head(xdg.PortsFolder(), 3);
    sim::CPsuSimulator supply(xdg.PortsFolder(), 4);
    counter.Start();
    head.Start();
    supply.Start();
    std::vector<PortInfo> present;
    for (const PortInfo& port : Discover())
        if (port.number <= 4) present.push_back(port);  // never the machine's own ports
    ASSERT_EQ(present.size(), 4u);

    const CSerialSettings headSettings, counterSettings;
    const CAgilentSerialSettings supplySettings;
    std::vector<std::string> tries;
    int lastDone = -1, lastTotal = 0;
    const auto progress = [&](int done, int total, const std::string& what) {
        tries.push_back(what);
        lastDone = done;
        lastTotal = total;
    };
    std::atomic<bool> cancel{false};
    autodetect::Ports found =
        autodetect::Detect(present, headSettings, supplySettings, counterSettings, progress, cancel);
    EXPECT_EQ(found.head, 3);
    EXPECT_EQ(found.supply, 4);
    EXPECT_EQ(found.counter, 2);
    EXPECT_EQ(lastDone, lastTotal);
    EXPECT_EQ(lastTotal, 12);
    // The supply first on every port: a CR-terminated try would spoil its query.
    EXPECT_EQ(tries.front(), "COM1: power supply");
    // A port is not tried further once an instrument answered there.
    EXPECT_EQ(std::count(tries.begin(), tries.end(), "COM3: elapsed time counter"), 0);
    EXPECT_EQ(std::count(tries.begin(), tries.end(), "COM4: head unit"), 0);  // found before

    // A busy port is skipped without a try.
    std::vector<PortInfo> busyHead{present[2]};
    busyHead[0].state = PortState::Busy;
    tries.clear();
    found = autodetect::Detect(busyHead, headSettings, supplySettings, counterSettings, progress, cancel);
    EXPECT_EQ(found.head, 0);
    EXPECT_EQ(tries, std::vector<std::string>{"done"});

    cancel = true;
    tries.clear();
    found = autodetect::Detect(present, headSettings, supplySettings, counterSettings, progress, cancel);
    EXPECT_EQ(found.head + found.supply + found.counter, 0);
    EXPECT_TRUE(tries.empty());
}

TEST(PortScanner, ListsAgainOnceWhenAskedMidwayAndDetectsOnTheOwnersThread) {
    int argc = 1;
    char name[] = "panel_core_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    testsupport::CTempXdg xdg;
    // In the order Auto Detect tries them, so that no try waits out a time-out.
    sim::CPsuSimulator supply(xdg.PortsFolder(), 1);
    sim::CHeadSimulator head(xdg.PortsFolder(), 2);
    sim::CTallySimulator counter(xdg.PortsFolder(), 3);
    supply.Start();
    head.Start();
    counter.Start();
    const auto pump = [](const std::function<bool()>& done) {
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return done();
        });
    };

    CPortScanner scanner;
    std::vector<bool> moreToCome;
    size_t listed = 0;
    QObject::connect(&scanner, &CPortScanner::PortsFound, [&](const std::vector<PortInfo>& ports) {
        moreToCome.push_back(scanner.Discovering());
        listed = ports.size();
    });
    scanner.Discover();
    scanner.Discover();  // while the first runs: one more listing, not two
    scanner.Discover();
    const CSerialSettings headSettings, counterSettings;
    const CAgilentSerialSettings supplySettings;
    EXPECT_FALSE(scanner.StartAutoDetect(headSettings, supplySettings, counterSettings)) << "refused while listing";
    ASSERT_TRUE(pump([&] { return !scanner.Busy(); }));
    EXPECT_EQ(moreToCome, (std::vector<bool>{true, false}));
    EXPECT_GE(listed, 3u);

    std::vector<QString> tries;
    std::vector<autodetect::Ports> found;
    std::vector<bool> cancelled;
    QObject::connect(&scanner, &CPortScanner::Progress,
                     [&](int, int, const QString& what) { tries.push_back(what); });
    QObject::connect(&scanner, &CPortScanner::Detected,
                     [&](const std::vector<PortInfo>&, const autodetect::Ports& ports, bool wasCancelled) {
                         found.push_back(ports);
                         cancelled.push_back(wasCancelled);
                     });
    ASSERT_TRUE(scanner.StartAutoDetect(headSettings, supplySettings, counterSettings));
    ASSERT_TRUE(pump([&] { return found.size() == 1; }));
    EXPECT_EQ(found[0].supply, 1);
    EXPECT_EQ(found[0].head, 2);
    EXPECT_EQ(found[0].counter, 3);
    EXPECT_FALSE(cancelled[0]);
    ASSERT_FALSE(tries.empty());
    EXPECT_EQ(tries.front(), QStringLiteral("COM1: power supply"));

    // Cancelled at once: nothing is reported after the cancel but the end.
    tries.clear();
    ASSERT_TRUE(scanner.StartAutoDetect(headSettings, supplySettings, counterSettings));
    scanner.CancelAutoDetect();
    ASSERT_TRUE(pump([&] { return found.size() == 2; }));
    EXPECT_TRUE(cancelled[1]);
    EXPECT_TRUE(tries.empty());
}

TEST(PortAssign, ListsUnreachedDevicesOnceAndLinksThemAsComPorts) {
    testsupport::CTempXdg xdg;
    const fs::path dev = xdg.Root() / "dev";
    fs::create_directories(dev / "serial" / "by-id");
    struct Restore {
        ~Restore() { portassign::detail::SetDevRoot("/dev"); }
    } restore;
    portassign::detail::SetDevRoot(dev.string());

    sim::CPtyPort linked(xdg.PortsFolder(), 1);       // reached by COM1 already
    sim::CPtyPort adapter(xdg.Root() / "other", 9);   // only in the fake /dev
    const std::string byId = (dev / "serial" / "by-id" / "usb-Test_Adapter-if00-port0").string();
    fs::create_symlink(adapter.SlavePath(), byId);
    fs::create_symlink(adapter.SlavePath(), dev / "ttyUSB0");
    fs::create_symlink(linked.SlavePath(), dev / "ttyACM0");
    std::ofstream(dev / "ttyS1").put('x');  // COM2 is a UART's

    std::vector<portassign::Device> devices = portassign::UnassignedDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].path, byId);
    EXPECT_EQ(devices[0].description, PtyText(adapter));
    EXPECT_EQ(portassign::PortsFolder(), xdg.PortsFolder().string());
    ASSERT_EQ(portassign::FirstFreeComNumber(), 3);

    std::string error;
    ASSERT_TRUE(portassign::Assign(byId, 3, error)) << error;
    const HANDLE port = Serial_Open(3);
    EXPECT_NE(port, nullptr);
    if (port) CloseHandle(port);
    EXPECT_TRUE(portassign::UnassignedDevices().empty());
    EXPECT_EQ(portassign::FirstFreeComNumber(), 4);

    const struct {
        std::string path;
        int number;
        std::string reason;
    } refused[] = {{byId, 3, "COM3 is already taken."},
                   {byId, 2, "COM2 is already taken."},
                   {(dev / "ttyS1").string(), 5, (dev / "ttyS1").string() + " is not a serial device."},
                   {byId, 256, "COM256 is not a port number from 1 to 255."}};
    for (const auto& row : refused) {
        EXPECT_FALSE(portassign::Assign(row.path, row.number, error));
        EXPECT_EQ(error, row.reason);
    }
}
