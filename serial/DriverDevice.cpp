// The shared part of every driver device (see DriverDevice.h).
#include "serial/DriverDevice.h"

namespace driver {

CDriverDevice::CDriverDevice(driverlog::CLibraryLog& library, const wchar_t* className,
                             SerialPortOptions options)
    : m_log(library, className, this), m_port(std::move(options)) {}

CDriverDevice::~CDriverDevice() { Shutdown(); }

void CDriverDevice::Shutdown() {
    std::lock_guard lock(m_shutdownMutex);
    if (m_bShutdown) return;
    m_bShutdown = true;
    // Wake every blocked request first, so the workers can end; then the
    // device's last words, then the port, whose queued commands are dropped
    // without their handlers.
    if (m_closingEvent) SetEvent(m_closingEvent.Get());
    m_workers.StopAndJoin();
    BeforeClose();
    m_port.Close();
}

void CDriverDevice::BeginDisconnect() { m_log.Log(driverlog::Debug, L": Disconnecting from serial port."); }

bool CDriverDevice::RunsOnOwnThread() const {
    return m_port.RunsOnServiceThread() || m_workers.RunsOnWorker();
}

bool CDriverDevice::OpenPort(const SerialPortSettingsStruct& settings, SerialPortHandlers handlers) {
    return m_port.OpenAndStart(m_log, settings, std::move(handlers));
}

}  // namespace driver
