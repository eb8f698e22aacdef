// Auto Detect: which COM port each of the three instruments (head unit,
// lamp supply, elapsed-time counter) answers on, found by asking each
// present port for each instrument's identification through the drivers'
// own Connect exports.
//
// Detect is a free function without shared state. It blocks for as long as
// the identifications take (each silent port waits out a driver's reply
// time-out), so callers run it on a worker thread and set `cancel` from any
// thread to end it early; `progress` is called on that worker, between
// tries, and must hand anything for widgets over to the GUI thread itself.
#pragma once

#include "PortDiscovery.h"

#include <serial/SerialPort.h>  // SerialPortSettingsStruct

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace autodetect {

using portdiscovery::PortInfo;

struct Ports { int head = 0, supply = 0, counter = 0; };  // 0: not found

using Progress = std::function<void(int done, int total, const std::string& what)>;  // called on the calling thread
// `what` names the try about to start ("COM3: head unit"); `total` is the most tries there can be (free ports
// times three). Unless cancelled, a last call (total, total, "done") follows.

// Tries each port with each instrument's identification through the libraries' Connect exports
// (Quorvex_Connect, Agilent_Connect, Etc_Connect, blocking, with that instrument's serial settings but the
// port replaced), disconnecting at once after a success. An instrument found is not tried further; a port
// taken by one instrument is not tried for the others. Busy and no-permission ports are skipped. Checks
// `cancel` between tries and returns what it found so far. Blocking: call it on a worker.
Ports Detect(const std::vector<PortInfo>& present, const SerialPortSettingsStruct& head,
             const SerialPortSettingsStruct& supply, const SerialPortSettingsStruct& counter,
             const Progress& progress, const std::atomic<bool>& cancel);

}  // namespace autodetect
