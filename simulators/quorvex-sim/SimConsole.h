// The fault commands of quorvex-sim: the words of --fault options and of the
// lines typed on its standard input, turned into the simulator framework's
// own fault injection, vanishing and return, each answered with a line that
// says what is armed now.
//
// Ownership and threads: the console holds plain pointers to devices its
// owner (quorvex-sim's Run, or a test) keeps alive for the console's whole
// life. It is used from one thread; the devices it drives are thread-safe.
#pragma once

#include "framework/SimDevice.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// One fault as asked for: which device, which commands, what happens.
struct FaultOrder {
    std::string device;
    std::string pattern = ".*";  // whole-command regex
    Fault fault;
};

// "late=800", "none", "garbage", "split" or "split=20", "terminator",
// "vanish", then any of "count=N" (N commands, "all" by default) and
// "match=REGEX" (the last option: the regex is the rest of the text).
// Throws std::invalid_argument with a message for the user.
FaultOrder ParseFaultWords(std::string_view device, const std::vector<std::string>& words);
// The command-line form: DEVICE:KIND[=MS][,count=N][,match=REGEX].
FaultOrder ParseFaultOption(std::string_view option);
// How a fault reads back: "late=800", "split=5", "none" and so on.
std::string FaultWord(const Fault& fault);

class CSimConsole {
public:
    // Devices by the names the commands use (head, psu, counter).
    explicit CSimConsole(std::map<std::string, CSimDevice*> devices);

    // Arms a parsed fault on its device; throws std::invalid_argument for
    // a device with no such name.
    void Arm(const FaultOrder& order);

    // Runs one typed line and answers it: "armed: ..." after a change or
    // "status", the command list for "help", "error: ..." for a line it
    // cannot use. An empty line gets an empty answer.
    std::string Execute(std::string_view line);

    // "armed: head late=800 (all commands, every time); psu vanished" or
    // "armed: nothing".
    std::string Armed() const;

    // The lines of Execute's "help" and of quorvex-sim's --help.
    static const char* Help();

private:
    CSimDevice& Device(const std::string& name) const;

    std::map<std::string, CSimDevice*> m_devices;
};

}  // namespace sim
