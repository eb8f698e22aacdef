// Sole owner of one platform handle (an event or a thread): closes it when
// it goes, whichever path the owner leaves by.
#pragma once

#include <platform/win32.h>

#include <utility>

namespace platform {

class COwnedHandle {
public:
    COwnedHandle() = default;
    explicit COwnedHandle(HANDLE handle) : m_handle(handle) {}
    ~COwnedHandle() { Reset(); }

    COwnedHandle(COwnedHandle&& other) noexcept
        : m_handle(std::exchange(other.m_handle, nullptr)) {}
    COwnedHandle& operator=(COwnedHandle&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.m_handle, nullptr));
        return *this;
    }
    COwnedHandle(const COwnedHandle&) = delete;
    COwnedHandle& operator=(const COwnedHandle&) = delete;

    // An event, initially clear; Get() is null when it could not be made.
    static COwnedHandle NewEvent(bool manualReset = false) {
        return COwnedHandle(CreateEvent(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
    }

    HANDLE Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    HANDLE Release() { return std::exchange(m_handle, nullptr); }

    void Reset(HANDLE handle = nullptr) {
        if (m_handle) CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};

}  // namespace platform
