// Events and the wait functions.
#include "platform/Handles_p.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <vector>

#include <poll.h>

namespace platform::detail {

namespace {

class Event final : public Waitable {
public:
    Event(bool manualReset, bool initialState) : Waitable(Kind::Event, manualReset, initialState) {}
};

using Clock = std::chrono::steady_clock;

}  // namespace

DWORD WaitAny(Waitable* const* objects, DWORD count, int extraFd, short extraEvents,
              short* extraRevents, DWORD milliseconds) {
    std::vector<pollfd> fds;
    try {
        fds.resize(count + (extraFd >= 0 ? 1 : 0));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
    }
    for (DWORD i = 0; i < count; ++i) fds[i] = {objects[i]->Fd(), POLLIN, 0};
    if (extraFd >= 0) fds[count] = {extraFd, extraEvents, 0};

    const bool infinite = milliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    int timeout = infinite ? -1 : static_cast<int>(std::min<DWORD>(milliseconds, INT32_MAX));
    for (;;) {
        for (pollfd& fd : fds) fd.revents = 0;
        const int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            SetLastErrorFromErrno(errno);
            return WAIT_FAILED;
        }
        // Objects first, lowest index wins; an auto-reset event another waiter
        // took first is simply not acquired here and the wait goes on.
        for (DWORD i = 0; i < count; ++i)
            if (objects[i]->TryAcquire()) return WAIT_OBJECT_0 + i;
        if (extraFd >= 0 && fds[count].revents) {
            if (extraRevents) *extraRevents = fds[count].revents;
            return WAIT_OBJECT_0 + count;
        }
        if (!infinite) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero()) return WAIT_TIMEOUT;
            // Round up so the wait never ends before its deadline.
            timeout = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(left).count());
        }
    }
}

}  // namespace platform::detail

using namespace platform::detail;

extern "C" {

HANDLE CreateEvent(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                   LPCWSTR name) {
    (void)attributes;
    (void)name;  // named events are not used: every event is private
    std::shared_ptr<Event> event;
    try {
        event = std::make_shared<Event>(manualReset != FALSE, initialState != FALSE);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!event->Valid()) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    return RegisterHandle(std::move(event));
}

BOOL SetEvent(HANDLE handle) {
    auto event = FindAs<Waitable>(handle, Kind::Event);
    if (!event) return FALSE;
    event->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    auto event = FindAs<Waitable>(handle, Kind::Event);
    if (!event) return FALSE;
    event->Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<Waitable> object = FindWaitable(handle);
    if (!object) return WAIT_FAILED;
    Waitable* raw = object.get();
    return WaitAny(&raw, 1, -1, 0, nullptr, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                             DWORD milliseconds) {
    if (waitAll || count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // The shared pointers keep every object alive for the whole wait, even if
    // its handle is closed meanwhile.
    std::shared_ptr<Waitable> held[MAXIMUM_WAIT_OBJECTS];
    Waitable* raw[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i) {
        held[i] = FindWaitable(handles[i]);
        if (!held[i]) return WAIT_FAILED;
        raw[i] = held[i].get();
    }
    return WaitAny(raw, count, -1, 0, nullptr, milliseconds);
}

}  // extern "C"
