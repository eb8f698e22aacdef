// Assign: giving a serial device that no COMn reaches yet (a USB adapter
// plugged in after the ports folder was set up) a COM number, by a symlink
// in the program's ports folder that the platform layer's COMn rule follows.
//
// Free functions without shared state; they read /dev and the ports folder
// and return plain data owned by the caller. They only touch the file
// system (no device is opened), so they are quick, but callers that list
// devices together with Discover run them on the same worker.
#pragma once

#include <string>
#include <vector>

namespace portassign {

struct Device { std::string path; std::string description; };

// Serial devices no COMn reaches yet: /dev/serial/by-id/* (preferred name for a device), /dev/ttyUSB*, /dev/ttyACM*,
// each listed once (by its resolved real path), minus those a COMn link or /dev/ttySn already reaches.
std::vector<Device> UnassignedDevices();

// The lowest n in 1..255 for which neither the ports-folder entry nor /dev/ttyS<n-1> exists.
int FirstFreeComNumber();

// Creates the ports folder if needed and the symlink COM<n> -> devicePath. False with a one-line reason in `error`
// when COM<n> is taken, the path is not a character device, or the link cannot be made.
bool Assign(const std::string& devicePath, int comNumber, std::string& error);

// The ports folder: $XDG_CONFIG_HOME/Vandrel Scientific Ltd/ports (~/.config when unset).
std::string PortsFolder();

namespace detail {
// Where the functions above look for device nodes ("/dev" normally). Tests
// point it at a folder of their own before calling them; not thread-safe
// against concurrent calls of the functions above.
void SetDevRoot(const std::string& root);
}  // namespace detail

}  // namespace portassign
