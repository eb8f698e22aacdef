// The part every device class of the three driver libraries shares: its
// serial port (a member: callers of the device never see the transport),
// its log, the closing event that ends every wait of the device, its worker
// threads, and the one shutdown protocol.
//
// Ownership: device objects are made and destroyed only by their library's
// CDriverLibrary, which holds them by shared_ptr. Shutdown() runs before the
// object goes: it sets the closing event (every blocked request returns),
// joins the workers, lets the device finish its conversation (BeforeClose)
// and closes the port, which ends the service thread. Each device class's
// destructor calls Shutdown() first as well, before its own members go.
//
// Threads: any caller's thread calls the public members; reply handlers run
// on the service thread, callback reads, transfers and ramps on workers.
// Shutdown() is never run on the device's own threads: when the last
// reference is dropped there, the library moves the destruction to one of
// its closing threads.
#pragma once

#include <platform/OwnedHandle.h>
#include <platform/win32.h>
#include <serial/DriverLog.h>
#include <serial/PendingReply.h>
#include <serial/SerialPort.h>
#include <serial/WorkerThreads.h>

#include <mutex>

namespace driver {

// What a device's Connect gives its library's Connect export.
enum class ConnectResult {
    Connected,   // identified (waiting) or identification sent (not waiting)
    PortFailed,  // the port or its service thread could not be started
    NoDevice,    // waiting, and no instrument of this kind answered
};

class CDriverDevice {
public:
    virtual ~CDriverDevice();

    CDriverDevice(const CDriverDevice&) = delete;
    CDriverDevice& operator=(const CDriverDevice&) = delete;

    // Safe to repeat; the first call does the work, later ones return at
    // once. Not from the device's own service thread or workers.
    void Shutdown();

    // The start of a disconnect, on the caller's thread, while the device is
    // still fully working: logs ": Disconnecting from serial port.". The
    // supply overrides it to unlock its front panel first.
    virtual void BeginDisconnect();

    // True on the device's service thread or one of its workers, where
    // waiting for the device's threads would wait for itself.
    bool RunsOnOwnThread() const;

    driverlog::CDeviceLog& Log() { return m_log; }

protected:
    CDriverDevice(driverlog::CLibraryLog& library, const wchar_t* className,
                  SerialPortOptions options);

    // Last words before the port closes (workers joined, closing event set).
    virtual void BeforeClose() {}

    // Logs the settings, opens the port and starts its service thread; false
    // (logged, port closed) when any of it failed.
    bool OpenPort(const SerialPortSettingsStruct& settings, SerialPortHandlers handlers);

    CSerialPort& Port() { return m_port; }
    CWorkerThreads& Workers() { return m_workers; }
    // Set once Shutdown has begun; never cleared.
    HANDLE ClosingEvent() const { return m_closingEvent.Get(); }
    bool IsClosing() const { return WaitForSingleObject(m_closingEvent.Get(), 0) == WAIT_OBJECT_0; }

    // Waits for a pending reply, the caller's abort event (may be null) or
    // the closing event.
    template <typename Result>
    WaitEnd Await(CPendingReply<Result>& reply, HANDLE abortEvent = nullptr) {
        return reply.Wait(m_closingEvent.Get(), abortEvent);
    }

private:
    // Declared first, so it outlives everything that might still log.
    driverlog::CDeviceLog m_log;
    platform::COwnedHandle m_closingEvent = platform::COwnedHandle::NewEvent(true);
    std::mutex m_shutdownMutex;
    bool m_bShutdown = false;
    CSerialPort m_port;
    // Last: joined in Shutdown before anything above goes.
    CWorkerThreads m_workers;
};

}  // namespace driver
