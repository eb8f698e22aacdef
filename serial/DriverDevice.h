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
#include <serial/Transaction.h>
#include <serial/WorkerThreads.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace driver {

// What a device's Connect gives its library's Connect export.
enum class ConnectResult {
    Connected,   // identified (waiting) or identification sent (not waiting)
    PortFailed,  // the port or its service thread could not be started
    NoDevice,    // waiting, and no instrument of this kind answered
};

// What a device logs around its identification.
struct IdentifyTexts {
    const wchar_t* attempt;  // before the identification is sent
    const wchar_t* none;     // a waiting connect found no instrument of its kind
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

    // What a reply parser makes of a reply.
    template <typename Parse>
    using ParsedReply = std::invoke_result_t<Parse&, const char*, bool>;

    // ---- Requests -------------------------------------------------------
    // Queues `request`; once its reply came or timed out, `parse(text,
    // timedOut)` converts it on the service thread and completes `reply`.
    template <typename Parse, typename Result = ParsedReply<Parse>>
    void Send(const Request& request, Parse parse, std::shared_ptr<CPendingReply<Result>> reply) {
        m_port.SendCommand(request.text, request.terminator, request.lines, request.timeoutMs, 0,
                           [parse = std::move(parse), reply = std::move(reply)](const char* text, int timedOut) {
                               reply->Complete(parse(text ? text : "", timedOut != 0));
                           });
    }

    // Send, then wait: the parsed reply, or nothing when the caller's abort
    // event (may be null) or the closing event ended the wait first.
    template <typename Parse, typename Result = ParsedReply<Parse>>
    std::optional<Result> Ask(const Request& request, Parse parse, HANDLE abortEvent = nullptr) {
        return Transact<Result>(
            [&](std::shared_ptr<CPendingReply<Result>> reply) { Send(request, std::move(parse), std::move(reply)); },
            abortEvent);
    }

    // The general form of Ask: `send(reply)` queues whatever completes the
    // reply (a multi-line command, say).
    template <typename Result, typename SendFn>
    std::optional<Result> Transact(SendFn&& send, HANDLE abortEvent = nullptr) {
        const auto reply = CPendingReply<Result>::ForWaiter();
        if (!reply->Valid()) return std::nullopt;
        send(reply);
        if (Await(*reply, abortEvent) != WaitEnd::Reply) return std::nullopt;
        return reply->Take();
    }

    // ---- Connecting -----------------------------------------------------
    // A device's Connect but for its own texts and handlers: opens the port
    // with `handlers`, logs `texts.attempt` and sends `identification`, whose
    // reply `identify(text, timedOut)` judges on the service thread (true:
    // an instrument of this kind answered).
    // Not waiting: Connected once sent; the caller's event (may be null) is
    // signalled once the reply has been judged and stays the caller's.
    // Waiting: returns once the reply has been judged, Connected or NoDevice
    // (logged with `texts.none`); the caller has handed its event (may be
    // null) over: it is signalled and closed, whatever the outcome.
    ConnectResult OpenAndIdentify(const SerialPortSettingsStruct& settings, bool wait, HANDLE event,
                                  SerialPortHandlers handlers, const Request& identification,
                                  std::function<bool(const char* text, bool timedOut)> identify,
                                  IdentifyTexts texts);

    // ---- Exclusive jobs -------------------------------------------------
    // Takes `job`'s busy mark and runs `body()` on a worker. When the body
    // has returned, the mark is given back and then `done` (may be null) is
    // completed with the body's result: a caller woken by the end can start
    // the next job of this kind at once. A blocking start makes `done` with
    // ForWaiter, checks it is Valid() first, and waits on it with Await.
    template <typename Result, typename Body>
    JobStart StartJob(CExclusiveJob& job, Body body, std::shared_ptr<CPendingReply<Result>> done) {
        if (!job.TryBegin()) return JobStart::Busy;
        auto run = [&job, body = std::move(body), done = std::move(done)]() mutable {
            Result result = body();
            job.End();
            if (done) done->Complete(std::move(result));
        };
        if (m_workers.Start(std::move(run))) return JobStart::Started;
        job.End();
        return JobStart::NoThread;
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
