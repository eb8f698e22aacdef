// Port discovery: which COMn exist for this user, and a line of text for
// each. See PortDiscovery.h.
#include "PortDiscovery.h"

#include <platform/win32.h>

#include <libserialport.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/serial.h>
#include <string_view>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace portdiscovery {
namespace {

constexpr int kLastCom = 255;
constexpr const char* kDash = " \u2014 ";

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string UsbDescription(const std::string& realPath, const std::string& name) {
    sp_port* port = nullptr;
    if (sp_get_port_by_name(realPath.c_str(), &port) != SP_OK || !port) return {};
    std::string text;
    if (sp_get_port_transport(port) == SP_TRANSPORT_USB) {
        // The product names the adapter best ("FT232R USB UART"); some
        // adapters only give a manufacturer, libserialport's own text is the
        // last resort.
        const char* product = sp_get_port_usb_product(port);
        const char* maker = sp_get_port_usb_manufacturer(port);
        const char* own = sp_get_port_description(port);
        const char* chosen = product && *product ? product : maker && *maker ? maker : own;
        text = "USB serial";
        if (chosen && *chosen) text += std::string(" ") + chosen;
        text += " (" + name + ")";
    }
    sp_free_port(port);
    return text;
}

enum class Outcome { Present, Busy, NoPermission, Absent };

// Opens the device the way the drivers do (exclusive, non-blocking, not as
// controlling terminal) and closes it again at once. What is no terminal (a
// plain file, /dev/zero linked as a port) the drivers refuse to open: it is
// no port, as a ttyS node with no UART is none.
Outcome ProbeDevice(const std::string& path) {
    struct stat info{};
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return Outcome::Absent;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case EBUSY: return Outcome::Busy;  // TIOCEXCL set by another opener
        case EACCES:
        case EPERM: return Outcome::NoPermission;
        default: return Outcome::Absent;  // EIO: a ttyS node with no UART behind it
        }
    }
    Outcome outcome = Outcome::Present;
    if (!isatty(fd)) {
        outcome = Outcome::Absent;
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // The drivers lock with flock, which also stops root (whom TIOCEXCL lets through).
        outcome = errno == EWOULDBLOCK ? Outcome::Busy : Outcome::Absent;
    } else {
        // The kernel makes a node for every possible 8250 port; the ones with
        // no chip behind them open but say PORT_UNKNOWN. Devices without
        // TIOCGSERIAL (ptys, USB CDC) are real.
        serial_struct serial{};
        if (ioctl(fd, TIOCGSERIAL, &serial) == 0 && serial.type == PORT_UNKNOWN) outcome = Outcome::Absent;
    }
    close(fd);
    return outcome;
}

}  // namespace

std::string DescribeDevice(const std::string& realPath) {
    const std::string name = BaseName(realPath);
    if (StartsWith(realPath, "/dev/pts/")) return "pseudo-terminal (pts/" + name + ")";
    if (std::string usb = UsbDescription(realPath, name); !usb.empty()) return usb;
    struct stat info{};
    if (StartsWith(name, "ttyS") || stat(("/sys/class/tty/" + name + "/device").c_str(), &info) == 0)
        return "serial port (" + name + ")";
    return name;
}

std::string ItemText(const PortInfo& port) {
    const std::string com = "COM" + std::to_string(port.number);
    if (port.state == PortState::NoPermission) return com + kDash + "no permission: add your user to the dialout group";
    std::string text = com + kDash + port.description;
    if (port.state == PortState::Busy) text += " (in use)";
    return text;
}

int PortNumberOf(const std::string& itemText) {
    if (!StartsWith(itemText, "COM")) return -1;
    int number = 0;
    std::size_t i = 3;
    for (; i < itemText.size() && itemText[i] >= '0' && itemText[i] <= '9'; ++i) {
        number = number * 10 + (itemText[i] - '0');
        if (number > kLastCom) return -1;  // also keeps long digit runs from overflowing
    }
    return i == 3 || number < 1 ? -1 : number;
}

bool Probe(int number, PortInfo& info) {
    char path[PATH_MAX];
    if (number < 1 || number > kLastCom) return false;
    if (!Serial_ResolvePort(static_cast<UINT>(number), path, sizeof path)) return false;
    char real[PATH_MAX];
    if (!realpath(path, real)) return false;  // the link's target went away
    const Outcome outcome = ProbeDevice(real);
    if (outcome == Outcome::Absent) return false;
    info.number = number;
    info.state = outcome == Outcome::Busy           ? PortState::Busy
                 : outcome == Outcome::NoPermission ? PortState::NoPermission
                                                    : PortState::Free;
    info.device = real;
    info.description = DescribeDevice(info.device);
    return true;
}

std::vector<PortInfo> Discover(const std::atomic<bool>* cancel) {
    std::vector<PortInfo> ports;
    for (int n = 1; n <= kLastCom; ++n) {
        if (cancel && cancel->load()) break;
        PortInfo info;
        if (Probe(n, info)) ports.push_back(std::move(info));
    }
    return ports;
}

}  // namespace portdiscovery
