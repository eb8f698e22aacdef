// The pieces every driver's conversation with its instrument is made of: a
// request (one command and how its reply ends) and an exclusive job (a long
// operation, at most one of its kind per device at a time, on one of the
// device's workers). The device base (DriverDevice.h) sends requests and
// starts jobs with them.
//
// Ownership and threads: a Request is a plain value, copied into the port's
// queue when sent. A CExclusiveJob is a member of its device, which joins
// its workers before it goes; its busy mark is taken on the caller's thread
// by the start and given back on the worker when the job's body has ended,
// before anyone waiting hears of the end.
#pragma once

#include <platform/OwnedHandle.h>
#include <platform/win32.h>

#include <mutex>
#include <string>

namespace driver {

// One command and how its reply ends.
struct Request {
    std::string text;               // without the line ending the port adds
    std::string terminator = "\r";  // ends the reply; empty: what came before the time-out
    unsigned timeoutMs = 1000;
    int lines = 1;                  // reply lines; 0: no reply, done once written
};

// How the start of an exclusive job went.
enum class JobStart {
    Started,   // running
    Busy,      // a job of this kind runs already; nothing started
    NoThread,  // no worker could be started
};

// The busy mark of one kind of job; CDriverDevice::StartJob takes it and
// gives it back. Signalled as idle while no job of the kind runs, for a
// start that makes way for a job it has told to stop.
class CExclusiveJob {
public:
    // False when a job of this kind is running already.
    bool TryBegin() {
        std::lock_guard lock(m_mutex);
        if (m_bBusy) return false;
        m_bBusy = true;
        ResetEvent(m_idle.Get());
        return true;
    }
    void End() {
        std::lock_guard lock(m_mutex);
        m_bBusy = false;
        SetEvent(m_idle.Get());
    }
    bool Busy() const {
        std::lock_guard lock(m_mutex);
        return m_bBusy;
    }
    // Waits until no job of this kind runs, or `closing` is signalled.
    void WaitUntilIdle(HANDLE closing) const {
        const HANDLE handles[] = {m_idle.Get(), closing};
        WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    }

private:
    mutable std::mutex m_mutex;  // the mark and the idle event change together
    bool m_bBusy = false;
    platform::COwnedHandle m_idle{CreateEvent(nullptr, TRUE, TRUE, nullptr)};
};

}  // namespace driver
