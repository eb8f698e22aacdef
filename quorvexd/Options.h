// quorvexd's command line: where to listen, who may connect, read-only
// mode, the instruments' ports over the control panel's settings, the log,
// and the --help text.
//
// Pure functions of their arguments, callable from any thread.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Server.h"

namespace quorvexd {

struct Options {
    ServerOptions server;
    std::optional<int> headPort, supplyPort, counterPort;
    std::string logFile;  // empty: the per-run file in the panel's log folder
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Throws std::invalid_argument with the reason for a bad command line:
// an unknown option, a bad address, port or subnet, or listening beyond
// loopback without --allow.
Options ParseOptions(const std::vector<std::string>& args);

std::string HelpText();

}  // namespace quorvexd
