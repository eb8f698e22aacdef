// Where the head's "!H:1" or "!P:1" notification is delivered: the event of
// the action that is waiting for it, if any. A notification signals the
// armed event once and disarms it, so a second notification, or one that
// arrives after the waiter gave up and closed its event, signals nothing.
#pragma once

#include <platform/win32.h>

#include <mutex>

namespace quorvexdll {

class CNotificationSlot {
public:
    void Arm(HANDLE event) {
        std::lock_guard lock(m_mutex);
        m_hEvent = event;
    }
    // Disarms only if `event` is still the armed one.
    void Disarm(HANDLE event) {
        std::lock_guard lock(m_mutex);
        if (m_hEvent == event) m_hEvent = nullptr;
    }
    // Service thread. The lock is held across SetEvent so that a waiter that
    // disarms before closing its event can never be signalled after.
    void Fire() {
        std::lock_guard lock(m_mutex);
        if (m_hEvent) SetEvent(m_hEvent);
        m_hEvent = nullptr;
    }

private:
    std::mutex m_mutex;
    HANDLE m_hEvent = nullptr;
};

}  // namespace quorvexdll
