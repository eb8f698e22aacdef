// The instruments one quorvexctl subcommand works with: their serial
// settings (the control panel's, with the command line's ports over them),
// the port checked before connecting so that a failure says why, and the
// connections, closed again however the subcommand ends.
//
// A CInstruments lives on the main thread for the length of a subcommand,
// or of a whole batch, whose lines connect what they need when they first
// need it. It connects in the control panel's order (head, supply, counter)
// and disconnects in the reverse one; the supply's disconnect unlocks its
// front panel. A handle, once connected, stays valid until DisconnectAll,
// which a wait cut short by a signal calls early (another thread may be
// inside a library call on it then: the disconnect ends its wait).
#pragma once

#include <platform/win32.h>
#include <serial/SerialPort.h>

#include <string>

#include "CommandLine.h"

namespace quorvexctl {

struct PortSettings {
    SerialPortSettingsStruct head{}, supply{}, counter{};
};

// The control panel's stored settings (its defaults when it never stored
// any), with the ports of `inv` over them.
PortSettings LoadPortSettings(const Invocation& inv);

class CInstruments {
public:
    enum Needs : unsigned { kHead = 1, kSupply = 2, kCounter = 4, kAll = 7 };

    // Connects `needs` at once (see Need); none connected when it throws.
    // `abortEvent` (it may be null) ends every connect's wait.
    explicit CInstruments(const PortSettings& settings, unsigned needs = 0, HANDLE abortEvent = nullptr);
    ~CInstruments();
    CInstruments(const CInstruments&) = delete;
    CInstruments& operator=(const CInstruments&) = delete;

    // Connects those of `needs` not connected yet, every port checked
    // before any is opened. Throws CFailure: no port set (bad argument), no
    // such port, no permission, port busy, nothing answering on it, or the
    // abort event set while an instrument was being asked who it is
    // (interrupted); the instruments connected before stay connected.
    void Need(unsigned needs);

    void* Head() const { return m_head; }
    void* Supply() const { return m_supply; }
    void* Counter() const { return m_counter; }

    void DisconnectAll();

private:
    const PortSettings m_settings;
    const HANDLE m_abortEvent;
    void* m_head = nullptr;
    void* m_supply = nullptr;
    void* m_counter = nullptr;
};

// "COM7 (/dev/ttyUSB0)" when COM7 resolves, "COM7" otherwise.
std::string PortName(int number);

}  // namespace quorvexctl
