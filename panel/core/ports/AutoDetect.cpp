// Auto Detect: each instrument's identification tried on each present port
// through the drivers' Connect exports. See AutoDetect.h.
#include "AutoDetect.h"

#include <PsuDll/PsuDll.h>
#include <QuorvexDll/QuorvexDll.h>
#include <TallyDll/TallyDll.h>

#include <array>

namespace autodetect {
namespace {

// Each try opens, identifies (waiting out the driver's reply time-out on a
// silent port) and closes again, so a success leaves the port free.
bool IsHead(SerialPortSettingsStruct s) {
    void* handle = nullptr;
    if (Quorvex_Connect(s.port, s.baud, s.parity, s.dataBits, s.stopBits, s.flowControl, &handle, 1, nullptr) !=
            QuorvexSuccess ||
        !handle)
        return false;
    Quorvex_Disconnect(&handle, 1, nullptr);
    return true;
}

bool IsSupply(SerialPortSettingsStruct s) {
    void* handle = nullptr;
    if (Agilent_Connect(s, &handle, 1, nullptr) != AgilentSuccess || !handle) return false;
    Agilent_Disconnect(&handle, 1, nullptr);
    return true;
}

bool IsCounter(SerialPortSettingsStruct s) {
    void* handle = nullptr;
    if (Etc_Connect(s, &handle, 1, nullptr) != EtcSuccess || !handle) return false;
    Etc_Disconnect(&handle, 1, nullptr);
    return true;
}

struct Instrument {
    const char* name;
    bool (*identify)(SerialPortSettingsStruct);
    SerialPortSettingsStruct settings;
    int* found;
};

}  // namespace

Ports Detect(const std::vector<PortInfo>& present, const SerialPortSettingsStruct& head,
             const SerialPortSettingsStruct& supply, const SerialPortSettingsStruct& counter,
             const Progress& progress, const std::atomic<bool>& cancel) {
    Ports ports;
    // A try that does not answer leaves its command in the device's input.
    // The supply reads to LF, so a CR-terminated "I?" left there spoils its
    // "*IDN?" for good; the CR-terminated two skip the LF the supply's try
    // leaves them. So on each port the supply is tried first.
    std::array<Instrument, 3> instruments{{{"power supply", IsSupply, supply, &ports.supply},
                                           {"head unit", IsHead, head, &ports.head},
                                           {"elapsed time counter", IsCounter, counter, &ports.counter}}};
    std::vector<int> candidates;
    for (const PortInfo& port : present)
        if (port.state == portdiscovery::PortState::Free) candidates.push_back(port.number);

    // The total is the most tries there can be; finds cut it short, so the
    // last report says done == total.
    const int total = static_cast<int>(candidates.size() * instruments.size());
    int done = 0;
    for (int number : candidates) {
        for (Instrument& instrument : instruments) {
            if (cancel.load()) return ports;
            if (*instrument.found) continue;
            if (progress)
                progress(done, total, "COM" + std::to_string(number) + ": " + instrument.name);
            SerialPortSettingsStruct settings = instrument.settings;
            settings.port = number;
            ++done;
            if (instrument.identify(settings)) {
                *instrument.found = number;
                break;  // the port is taken: the others are not tried on it
            }
        }
    }
    if (progress && !cancel.load()) progress(total, total, "done");
    return ports;
}

}  // namespace autodetect
