// Sole owner of one Win32 handle: closes it when it goes.
#pragma once

#include <platform/win32.h>

#include <utility>

namespace psudll {

class COwnedHandle {
public:
    COwnedHandle() = default;
    explicit COwnedHandle(HANDLE handle) : m_handle(handle) {}
    ~COwnedHandle() { Reset(); }

    COwnedHandle(COwnedHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    COwnedHandle& operator=(COwnedHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    COwnedHandle(const COwnedHandle&) = delete;
    COwnedHandle& operator=(const COwnedHandle&) = delete;

    HANDLE Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

    void Reset(HANDLE handle = nullptr) {
        if (m_handle) CloseHandle(m_handle);
        m_handle = handle;
    }

    // An auto-reset (or manual-reset) event, initially clear.
    static COwnedHandle NewEvent(bool manualReset = false) {
        return COwnedHandle(CreateEvent(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
    }

private:
    HANDLE m_handle = nullptr;
};

}  // namespace psudll
