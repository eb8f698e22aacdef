// A Win32 event that this library created and must close: the handle is
// closed when the owner goes away, whichever path it leaves by.
#pragma once

#include <platform/win32.h>

#include <utility>

class COwnedEvent {
public:
    COwnedEvent() = default;
    // Auto-reset unless told otherwise, initially clear. Get() is null when
    // the event could not be created.
    static COwnedEvent Create(bool manualReset = false) {
        return COwnedEvent(CreateEvent(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
    }
    ~COwnedEvent() { Reset(); }

    COwnedEvent(COwnedEvent&& other) noexcept : m_hEvent(std::exchange(other.m_hEvent, nullptr)) {}
    COwnedEvent& operator=(COwnedEvent&& other) noexcept {
        if (this != &other) {
            Reset();
            m_hEvent = std::exchange(other.m_hEvent, nullptr);
        }
        return *this;
    }
    COwnedEvent(const COwnedEvent&) = delete;
    COwnedEvent& operator=(const COwnedEvent&) = delete;

    HANDLE Get() const { return m_hEvent; }
    explicit operator bool() const { return m_hEvent != nullptr; }

    void Reset() {
        if (m_hEvent) CloseHandle(m_hEvent);
        m_hEvent = nullptr;
    }

private:
    explicit COwnedEvent(HANDLE event) : m_hEvent(event) {}
    HANDLE m_hEvent = nullptr;
};
