// An event of the platform layer owned by a test, closed when it goes (or
// earlier through Close, for tests that hand it over). Waits are bounded by
// the generous limit, so a fault fails the test instead of hanging it.
#pragma once

#include "TestSupport.h"

#include <platform/win32.h>

#include <chrono>

namespace testsupport {

class CTestEvent {
public:
    explicit CTestEvent(bool manualReset = false)
        : m_handle(CreateEvent(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr)) {}
    ~CTestEvent() { Close(); }
    CTestEvent(const CTestEvent&) = delete;
    CTestEvent& operator=(const CTestEvent&) = delete;

    HANDLE Get() const { return m_handle; }
    void Set() const { SetEvent(m_handle); }
    bool Wait(std::chrono::milliseconds limit = kLimit) const {
        return WaitForSingleObject(m_handle, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
    }
    bool IsSet() const { return WaitForSingleObject(m_handle, 0) == WAIT_OBJECT_0; }
    // Forgets the handle without closing it: the library it was handed to
    // closes it.
    HANDLE Release() {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void Close() {
        if (m_handle) CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    HANDLE m_handle;
};

}  // namespace testsupport
