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

ConnectResult CDriverDevice::OpenAndIdentify(const SerialPortSettingsStruct& settings, bool wait, HANDLE event,
                                             SerialPortHandlers handlers, const Request& identification,
                                             std::function<bool(const char* text, bool timedOut)> identify,
                                             IdentifyTexts texts) {
    // A waiting connect waits on an event of its own, so a caller's event
    // that is set already cannot end the wait early, and the handler never
    // sees the caller's event, which is closed here.
    auto judged = wait ? CPendingReply<bool>::ForWaiter() : CPendingReply<bool>::ForCallback(nullptr, event);
    if (wait && !judged->Valid()) return ConnectResult::PortFailed;
    if (!OpenPort(settings, std::move(handlers))) return ConnectResult::PortFailed;
    m_log.Log(driverlog::Debug, texts.attempt);
    Send(identification, std::move(identify), judged);
    if (!wait) return ConnectResult::Connected;

    // Every command ends with a handler call (its reply or its time-out),
    // so the wait ends early only when the device is being shut down.
    const bool identified = Await(*judged) == WaitEnd::Reply && judged->Take();
    if (event) {
        SetEvent(event);
        CloseHandle(event);
    }
    if (identified) return ConnectResult::Connected;
    m_log.Log(driverlog::Debug, texts.none);
    return ConnectResult::NoDevice;
}

}  // namespace driver
