// Internal to libplatform: the process-wide handle table, the waitable
// object base shared by events and threads, the common wait loop and the
// errno -> Win32 error mapping.
#pragma once

#include "platform/win32.h"

#include <memory>
#include <mutex>

namespace platform::detail {

// ---- Errors ---------------------------------------------------------------
// The one place where errno values become Win32 error codes.
DWORD ErrnoToWin32(int error);
// SetLastError(ErrnoToWin32(error)).
void SetLastErrorFromErrno(int error);

// ---- Objects behind handles -------------------------------------------------
enum class Kind { Event, Thread, Serial };

class Object {
public:
    explicit Object(Kind kind) : m_kind(kind) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    Kind GetKind() const { return m_kind; }

private:
    const Kind m_kind;
};

// Something a wait can block on: a mutex-guarded signalled state mirrored in
// an eventfd (counter 1 while signalled, 0 while not), so poll() can wait for
// it together with other descriptors.
class Waitable : public Object {
public:
    Waitable(Kind kind, bool manualReset, bool initialState);
    ~Waitable() override;

    bool Valid() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    void Set();
    void Reset();
    // True when signalled; an auto-reset object is consumed atomically.
    bool TryAcquire();

private:
    std::mutex m_mutex;
    bool m_signalled;
    const bool m_manualReset;
    int m_fd = -1;
};

// ---- Handle table -----------------------------------------------------------
// Registers the object under a new, never reused handle; NULL (with
// ERROR_NOT_ENOUGH_MEMORY) on failure.
HANDLE RegisterHandle(std::shared_ptr<Object> object);
// The object behind the handle, or null (no last error set).
std::shared_ptr<Object> FindHandle(HANDLE handle);
// Removes the handle from the table; the object lives on while others hold it.
std::shared_ptr<Object> RemoveHandle(HANDLE handle);

// The object of the given kind behind the handle; null with
// ERROR_INVALID_HANDLE when there is none.
template <class T>
std::shared_ptr<T> FindAs(HANDLE handle, Kind kind) {
    std::shared_ptr<Object> object = FindHandle(handle);
    if (!object || object->GetKind() != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}

// The waitable object (event or thread) behind the handle; null with
// ERROR_INVALID_HANDLE when there is none.
std::shared_ptr<Waitable> FindWaitable(HANDLE handle);

// ---- Waiting ----------------------------------------------------------------
// Waits until one of `objects` is acquired (checked in order, lowest index
// wins) or, when extraFd >= 0, until poll reports anything for extraFd
// (checked after the objects; its revents go to *extraRevents). Returns the
// object's index, `count` for the descriptor, WAIT_TIMEOUT, or WAIT_FAILED
// with the last error set. Deadline on the monotonic clock; INFINITE waits
// forever.
DWORD WaitAny(Waitable* const* objects, DWORD count, int extraFd, short extraEvents,
              short* extraRevents, DWORD milliseconds);

}  // namespace platform::detail
