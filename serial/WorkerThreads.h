// The worker threads of one owner (a device's callback reads, transfers and
// ramps, or a library's closing threads). The owner stops the set
// before it goes away; stopping refuses new work and waits for every thread
// still running, so none can reach the owner afterwards.
#pragma once

#include <platform/win32.h>

#include <functional>
#include <mutex>
#include <vector>

class CWorkerThreads {
public:
    CWorkerThreads() = default;
    ~CWorkerThreads() { StopAndJoin(); }
    CWorkerThreads(const CWorkerThreads&) = delete;
    CWorkerThreads& operator=(const CWorkerThreads&) = delete;

    // Runs `work` on a new thread. False, with nothing started, once the set
    // is stopped or when the thread cannot be created.
    bool Start(std::function<void()> work);

    // Refuses new work and waits for the running threads. A worker that
    // stops its own set (it disconnected its device from a callback) is not
    // waited for: it is the caller, and it keeps what it uses alive itself.
    void StopAndJoin();

    // True when the calling thread is one of this set's workers.
    bool RunsOnWorker() const;

private:
    struct Worker {
        HANDLE hThread;
        DWORD id;
    };
    static DWORD WINAPI Run(LPVOID parameter);
    void ReapFinished();  // lock held

    mutable std::mutex m_mutex;
    bool m_bStopped = false;
    std::vector<Worker> m_workers;
};

