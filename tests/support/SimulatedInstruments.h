// The three simulated instruments together, as quorvex-sim couples them
// (one lamp bus: the counter runs and the bulb warms while the supply's
// output is on), on pseudo-terminals linked as COM1 (head), COM2 (supply)
// and COM3 (counter) in a private XDG folder, with the serial settings the
// control panel would use for them.
//
// Owned by a test on its own thread; the simulators serve on threads of
// their own and stop in the destructor.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HeadSimulator.h"
#include "LampBus.h"
#include "PsuSimulator.h"
#include "TallySimulator.h"
#include "TestSupport.h"
#include "serial/SerialPort.h"

namespace testsupport {

class CSimulatedInstruments {
public:
    static constexpr unsigned kHeadCom = 1, kSupplyCom = 2, kCounterCom = 3;

    CSimulatedInstruments()
        : head(m_xdg.PortsFolder(), kHeadCom, &lamp),
          supply(m_xdg.PortsFolder(), kSupplyCom, &lamp),
          counter(m_xdg.PortsFolder(), kCounterCom, &lamp) {
        head.Start();
        supply.Start();
        counter.Start();
    }

    const CTempXdg& Xdg() const { return m_xdg; }

    // The commands an instrument received so far, without line endings.
    static std::vector<std::string> Wire(const sim::CSimDevice& device) {
        std::vector<std::string> texts;
        for (const auto& command : device.Received()) texts.push_back(command.text);
        return texts;
    }

private:
    CTempXdg m_xdg;  // first: the ports folder outlives the simulators

public:
    sim::CLampBus lamp;
    sim::CHeadSimulator head;
    sim::CPsuSimulator supply;
    sim::CTallySimulator counter;
};

}  // namespace testsupport
