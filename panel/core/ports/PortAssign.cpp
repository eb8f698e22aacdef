// Assign: serial devices no COMn reaches yet, and the COMn symlinks that
// give them a number. See PortAssign.h.
#include "PortAssign.h"

#include "PortDiscovery.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace portassign {
namespace {

constexpr int kLastCom = 255;

std::string& DevRoot() {
    static std::string root = "/dev";
    return root;
}

std::string RealPath(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) ? std::string(real) : std::string();
}

bool EntryExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));  // a dangling link still holds the name
}

fs::path UartNode(int comNumber) { return fs::path(DevRoot()) / ("ttyS" + std::to_string(comNumber - 1)); }

// The entries of `folder` whose names start with `prefix`, sorted so the
// list does not depend on directory order.
std::vector<std::string> Entries(const fs::path& folder, const std::string& prefix) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().rfind(prefix, 0) == 0) paths.push_back(it->path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace

namespace detail {
void SetDevRoot(const std::string& root) { DevRoot() = root; }
}  // namespace detail

std::string PortsFolder() {
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        config = std::string(home) + "/.config";
    } else {
        passwd entry;
        passwd* found = nullptr;
        char buffer[4096];
        if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
            config = std::string(found->pw_dir) + "/.config";
    }
    return config + "/Vandrel Scientific Ltd/ports";
}

std::vector<Device> UnassignedDevices() {
    const fs::path root = DevRoot();
    std::set<std::string> reached;
    for (const std::string& link : Entries(PortsFolder(), "COM"))
        if (std::string real = RealPath(link); !real.empty()) reached.insert(real);
    for (const std::string& node : Entries(root, "ttyS"))
        if (std::string real = RealPath(node); !real.empty()) reached.insert(real);

    std::vector<Device> devices;
    std::vector<std::string> candidates = Entries(root / "serial" / "by-id", "");
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        const std::vector<std::string> more = Entries(root, prefix);
        candidates.insert(candidates.end(), more.begin(), more.end());
    }
    // by-id names come first, so they are the ones kept for a device.
    for (const std::string& path : candidates) {
        const std::string real = RealPath(path);
        if (real.empty() || !reached.insert(real).second) continue;
        devices.push_back({path, portdiscovery::DescribeDevice(real)});
    }
    return devices;
}

int FirstFreeComNumber() {
    const fs::path folder = PortsFolder();
    for (int n = 1; n <= kLastCom; ++n)
        if (!EntryExists(folder / ("COM" + std::to_string(n))) && !EntryExists(UartNode(n))) return n;
    return 0;
}

bool Assign(const std::string& devicePath, int comNumber, std::string& error) {
    const std::string com = "COM" + std::to_string(comNumber);
    if (comNumber < 1 || comNumber > kLastCom) {
        error = com + " is not a port number from 1 to 255.";
        return false;
    }
    const fs::path link = fs::path(PortsFolder()) / com;
    if (EntryExists(link) || EntryExists(UartNode(comNumber))) {
        error = com + " is already taken.";
        return false;
    }
    struct stat info{};
    if (stat(devicePath.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        error = devicePath + " is not a serial device.";
        return false;
    }
    std::error_code ec;
    fs::create_directories(link.parent_path(), ec);
    if (!ec) fs::create_symlink(devicePath, link, ec);
    if (ec) {
        error = "Cannot link " + com + " to " + devicePath + ": " + ec.message() + ".";
        return false;
    }
    error.clear();
    return true;
}

}  // namespace portassign
