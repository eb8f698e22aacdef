// Which of the main window's commands are enabled, decided from the session
// as the connection controller last saw it. The frame applies the answer to
// its actions; nothing here touches a widget.
//
// Pure functions without state, callable from any thread.
#pragma once

#include "AppSettings.h"
#include "StatusTexts.h"

namespace commandrules {

// What the enabling depends on.
struct Inputs {
    bool connected = false;        // at least one library reports a valid device
    statustexts::Lamp lamp = statustexts::Lamp::Off;
    bool rampedUp = false;         // the supply reports the lamp ramped up
    bool portsConfigured = false;  // all three ports are at least COM1
    bool sequenceRunning = false;  // a connection sequence has not ended yet
    bool uploadRunning = false;    // the upload dialog runs
};

struct Enabled {
    bool setup = false;
    bool connect = false;
    bool disconnect = false;
    bool rampUp = false;
    bool rampDown = false;
    bool upload = false;
    bool download = false;
    bool exportData = false;
    bool information = false;
    bool about = false;
    // The main view's aperture picks, which talk to the head.
    bool viewPicks = false;

    bool operator==(const Enabled&) const = default;
};

// While anything runs, every command that reaches an instrument waits for
// it: the libraries serialise nothing across connect and disconnect.
Enabled Decide(const Inputs& inputs);

// All three instruments have a port (the lists' "-- Select One --" is 0).
bool PortsConfigured(const CAppSettings& settings);

}  // namespace commandrules
