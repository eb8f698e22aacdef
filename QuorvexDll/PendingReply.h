// The reply to one request, shared between the thread that asked and the
// reply handler on the serial service thread. The event lives as long as
// either side holds the object, so a handler never signals a closed event
// and a waiter never waits on one; a reply that comes after its requester
// gave up (abort, shutdown) is simply dropped with the object.
#pragma once

#include <platform/OwnedHandle.h>
#include <platform/win32.h>

#include <mutex>
#include <utility>

namespace quorvex {

enum class WaitEnd {
    Reply,    // the handler has completed the request
    Abort,    // the caller's abort event (or a wait on it failed)
    Closing,  // the device is being disconnected
};

template <typename Result>
class CPendingReply {
public:
    CPendingReply() = default;
    CPendingReply(const CPendingReply&) = delete;
    CPendingReply& operator=(const CPendingReply&) = delete;

    bool Valid() const { return static_cast<bool>(m_event); }

    // Service thread: store the result and wake the requester.
    void Complete(Result result) {
        {
            std::lock_guard lock(m_mutex);
            m_result = std::move(result);
        }
        SetEvent(m_event.Get());
    }

    // Requester: waits for the reply, the abort event (may be null) or the
    // closing event, in that order of precedence.
    WaitEnd Wait(HANDLE closing, HANDLE abort = nullptr) {
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
    platform::COwnedHandle m_event = platform::COwnedHandle::NewEvent();
    std::mutex m_mutex;
    Result m_result{};
};

}  // namespace quorvex
