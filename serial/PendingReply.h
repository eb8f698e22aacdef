// The reply to one request of a driver library, shared between the thread
// that asked and the reply handler on the serial service thread. Every
// blocking, event and callback read of the three drivers goes through it.
//
// A request makes its own CPendingReply (by shared_ptr, captured by the
// handler), so two requests of one kind never share state, and a reply that
// comes after its requester gave up (abort, disconnect) lands in an object
// nobody waits on and goes with it. The event lives as long as either side
// holds the object, so a handler never signals a closed event and a waiter
// never waits on one.
//
// Threads: Complete() runs on the service thread (or a worker), once; Wait()
// and Take() on the requesting thread. The optional callable runs inside
// Complete(), before the waiter is woken.
#pragma once

#include <platform/OwnedHandle.h>
#include <platform/win32.h>

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace driver {

enum class WaitEnd {
    Reply,    // the handler has completed the request
    Abort,    // the caller's abort event (or a wait on it failed)
    Closing,  // the device is being disconnected, or no event could be made
};

template <typename Result>
class CPendingReply {
public:
    using Deliver = std::function<void(const Result&)>;

    // A request somebody waits for: it has an event of its own.
    static std::shared_ptr<CPendingReply> ForWaiter() {
        auto reply = std::make_shared<CPendingReply>();
        reply->m_event = platform::COwnedHandle::NewEvent(true);
        return reply;
    }
    // A callback request: `deliver` (may be empty) is called with the result
    // on the thread that completes it; `callerEvent` (may be null) is
    // signalled after that. Nobody waits.
    static std::shared_ptr<CPendingReply> ForCallback(Deliver deliver, HANDLE callerEvent = nullptr) {
        auto reply = std::make_shared<CPendingReply>();
        reply->m_fnDeliver = std::move(deliver);
        reply->m_hCallerEvent = callerEvent;
        return reply;
    }

    CPendingReply() = default;
    CPendingReply(const CPendingReply&) = delete;
    CPendingReply& operator=(const CPendingReply&) = delete;

    // False when a waiter's event could not be made; the request must not be
    // sent then.
    bool Valid() const { return m_fnDeliver || m_hCallerEvent || m_event; }

    // Service thread: store the result, hand it on, wake the requester.
    void Complete(Result result) {
        {
            std::lock_guard lock(m_mutex);
            m_result = std::move(result);
        }
        if (m_fnDeliver) std::exchange(m_fnDeliver, nullptr)(m_result);
        if (m_hCallerEvent) SetEvent(m_hCallerEvent);
        if (m_event) SetEvent(m_event.Get());
    }

    // Requester: waits for the reply, the abort event (may be null) or the
    // closing event (may be null), in that order of precedence.
    WaitEnd Wait(HANDLE closing, HANDLE abort = nullptr) {
        if (!m_event) return WaitEnd::Closing;
        HANDLE handles[3];
        DWORD count = 0;
        handles[count++] = m_event.Get();
        const DWORD abortIndex = abort ? count : MAXIMUM_WAIT_OBJECTS;
        if (abort) handles[count++] = abort;
        if (closing) handles[count++] = closing;
        const DWORD result = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0) return WaitEnd::Reply;
        if (result == WAIT_OBJECT_0 + abortIndex) return WaitEnd::Abort;
        // A failed wait means the caller closed its abort event under us:
        // treat it as the abort it most likely was.
        if (result == WAIT_FAILED && abort) return WaitEnd::Abort;
        return WaitEnd::Closing;
    }

    Result Take() {
        std::lock_guard lock(m_mutex);
        return std::move(m_result);
    }

private:
    platform::COwnedHandle m_event;
    Deliver m_fnDeliver;
    HANDLE m_hCallerEvent = nullptr;
    std::mutex m_mutex;
    Result m_result{};
};

}  // namespace driver
