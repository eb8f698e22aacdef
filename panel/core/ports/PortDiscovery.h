// Finding the serial ports a Linux user can reach as COM1..COM255, with a
// line of text for each that the settings sheet's port lists show.
//
// Everything here is free functions without shared state. Discover opens
// every port once and can wait on the kernel for each, so callers run it on
// a worker thread (never the GUI thread); ItemText and PortNumberOf are
// cheap and run on any thread. PortInfo values are plain data owned by the
// caller.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace portdiscovery {

enum class PortState { Free, Busy, NoPermission };

struct PortInfo {
    int number = 0;           // n of COMn
    PortState state = PortState::Free;
    std::string device;       // what COMn resolves to, e.g. "/dev/ttyUSB0" (link target resolved)
    std::string description;  // "USB serial FT232R (ttyUSB0)", "pseudo-terminal (pts/3)", "serial port (ttyS0)"
};

// "COM4 \u2014 USB serial FT232R (ttyUSB0)"; busy ones add " (in use)"; NoPermission gives
// "COM4 \u2014 no permission: add your user to the dialout group".
std::string ItemText(const PortInfo& port);

// The n of an item text starting "COM%d" exactly (the digits end at a non-digit), -1 otherwise.
int PortNumberOf(const std::string& itemText);

// COM1..COM255 by the COMn rule, ascending. Blocking (opens each port once): call it on a worker.
// `cancel` (may be null) is polled between ports.
std::vector<PortInfo> Discover(const std::atomic<bool>* cancel = nullptr);

// One port by the same rule; false when COM<number> is not present.
bool Probe(int number, PortInfo& info);

// The description Discover gives a device path (already resolved to the real node).
std::string DescribeDevice(const std::string& realPath);

}  // namespace portdiscovery
