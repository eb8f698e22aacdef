// The main window's enabling table, row by row, without a window.
#include <initializer_list>

#include <gtest/gtest.h>

#include "CommandRules.h"

using commandrules::Decide;
using commandrules::Enabled;
using commandrules::Inputs;
using statustexts::Lamp;

namespace {

// setup, connect, disconnect, rampUp, rampDown, upload, download, export,
// information, about, view picks.
Enabled Row(bool connect, bool disconnect, bool rampUp, bool rampDown, bool instruments) {
    return {true, connect, disconnect, rampUp, rampDown, instruments, instruments, instruments,
            instruments, true, instruments};
}

struct Case {
    const char* name;
    Inputs in;
    Enabled out;
};

}  // namespace

TEST(CommandRules, EveryRowOfTheEnablingTable) {
    const Case cases[] = {
        // Disconnected: Connect only once every port is set.
        {"disconnected, ports set", {false, Lamp::Off, false, true, false, false}, Row(true, false, false, false, false)},
        {"disconnected, a port unset", {false, Lamp::Off, false, false, false, false}, Row(false, false, false, false, false)},
        // Connected: Disconnect still needs the ports, the rest only the connection.
        {"connected, lamp off", {true, Lamp::Off, false, true, false, false}, Row(false, true, true, false, true)},
        {"connected, lamp on", {true, Lamp::On, true, true, false, false}, Row(false, true, false, true, true)},
        {"connected, a port unset", {true, Lamp::Off, false, false, false, false}, Row(false, false, true, false, true)},
        // Lamp status: an error or a lost lit supply offers neither ramp.
        {"connected, lamp error", {true, Lamp::Error, false, true, false, false}, Row(false, true, false, false, true)},
        {"connected, lamp unknown", {true, Lamp::Unknown, true, true, false, false}, Row(false, true, false, false, true)},
        // A stale "ramped up" without a connection enables nothing.
        {"disconnected, stale ramped up", {false, Lamp::On, true, true, false, false}, Row(true, false, false, false, false)},
        // While a sequence or the upload runs only Setup and About stay.
        {"connecting", {false, Lamp::Off, false, true, true, false}, Row(false, false, false, false, false)},
        {"sequence while connected", {true, Lamp::On, true, true, true, false}, Row(false, false, false, false, false)},
        {"upload running", {true, Lamp::Off, false, true, false, true}, Row(false, false, false, false, false)},
    };
    for (const Case& c : cases) {
        const Enabled got = Decide(c.in);
        EXPECT_EQ(got, c.out) << c.name << ": connect " << got.connect << " disconnect " << got.disconnect
                              << " up " << got.rampUp << " down " << got.rampDown << " upload " << got.upload;
    }
}

TEST(CommandRules, PortsConfiguredNeedsAllThree) {
    CAppSettings settings;
    settings.m_quorvexSerialSettings.port = 1;
    settings.m_agilentSerialSettings.port = 2;
    settings.m_etcSerialSettings.port = 3;
    EXPECT_TRUE(commandrules::PortsConfigured(settings));
    const std::initializer_list<SerialPortSettingsStruct*> ports = {
        &settings.m_quorvexSerialSettings, &settings.m_agilentSerialSettings, &settings.m_etcSerialSettings};
    for (SerialPortSettingsStruct* port : ports) {
        const int kept = port->port;
        port->port = 0;
        EXPECT_FALSE(commandrules::PortsConfigured(settings));
        port->port = kept;
    }
}
