// The process-wide handle table and the eventfd-backed waitable object.
#include "platform/Handles_p.h"

#include <cerrno>
#include <cstdint>
#include <unordered_map>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

namespace platform::detail {

namespace {

class HandleTable {
public:
    HANDLE Add(std::shared_ptr<Object> object) {
        std::lock_guard lock(m_mutex);
        const uintptr_t id = m_next;
        m_next += 4;  // multiples of 4 like Windows handles; never reused
        m_objects.emplace(id, std::move(object));
        return reinterpret_cast<HANDLE>(id);
    }
    std::shared_ptr<Object> Find(HANDLE handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(reinterpret_cast<uintptr_t>(handle));
        return it == m_objects.end() ? nullptr : it->second;
    }
    std::shared_ptr<Object> Remove(HANDLE handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(reinterpret_cast<uintptr_t>(handle));
        if (it == m_objects.end()) return nullptr;
        std::shared_ptr<Object> object = std::move(it->second);
        m_objects.erase(it);
        return object;
    }

private:
    std::mutex m_mutex;
    uintptr_t m_next = 0x1000;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> m_objects;
};

// Never destroyed: detached threads may still use handles while the process
// exits.
HandleTable& Table() {
    static HandleTable* table = new HandleTable;
    return *table;
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<Object> object) {
    try {
        return Table().Add(std::move(object));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

std::shared_ptr<Object> FindHandle(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
    return Table().Find(handle);
}

std::shared_ptr<Object> RemoveHandle(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
    return Table().Remove(handle);
}

std::shared_ptr<Waitable> FindWaitable(HANDLE handle) {
    std::shared_ptr<Object> object = FindHandle(handle);
    if (!object || (object->GetKind() != Kind::Event && object->GetKind() != Kind::Thread)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return std::static_pointer_cast<Waitable>(object);
}

// ---- Waitable ---------------------------------------------------------------

Waitable::Waitable(Kind kind, bool manualReset, bool initialState)
    : Object(kind), m_signalled(initialState), m_manualReset(manualReset) {
    m_fd = eventfd(initialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
}

Waitable::~Waitable() {
    if (m_fd >= 0) close(m_fd);
}

namespace {
void Raise(int fd) {
    const uint64_t one = 1;
    ssize_t r;
    do r = write(fd, &one, sizeof one);
    while (r < 0 && errno == EINTR);
}
void Drain(int fd) {
    uint64_t value;
    ssize_t r;
    do r = read(fd, &value, sizeof value);
    while (r < 0 && errno == EINTR);
}
}  // namespace

void Waitable::Set() {
    std::lock_guard lock(m_mutex);
    if (m_signalled) return;
    m_signalled = true;
    Raise(m_fd);
}

void Waitable::Reset() {
    std::lock_guard lock(m_mutex);
    if (!m_signalled) return;
    m_signalled = false;
    Drain(m_fd);
}

bool Waitable::TryAcquire() {
    std::lock_guard lock(m_mutex);
    if (!m_signalled) return false;
    if (!m_manualReset) {
        m_signalled = false;
        Drain(m_fd);
    }
    return true;
}

}  // namespace platform::detail

extern "C" BOOL CloseHandle(HANDLE handle) {
    // The object is destroyed here unless a waiter (or a running thread)
    // still holds it; then it goes when they let go.
    std::shared_ptr<platform::detail::Object> object = platform::detail::RemoveHandle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
