// Owner of the library's short-lived background threads (the closing thread
// of a disconnect that does not wait, and deferred destruction of a device):
// finished threads are joined whenever a new one starts, and the rest when
// the owner goes away, so no thread is ever left running unowned.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class CBackgroundThreads {
public:
    CBackgroundThreads() = default;
    // Joins every thread still running.
    ~CBackgroundThreads();

    CBackgroundThreads(const CBackgroundThreads&) = delete;
    CBackgroundThreads& operator=(const CBackgroundThreads&) = delete;

    // Runs `work` on a new thread and takes it over; when the thread cannot
    // be created, returns false and leaves `work` with the caller.
    bool Start(std::function<void()>& work);

private:
    struct CWorker {
        std::thread thread;
        std::shared_ptr<bool> done;  // written under m_mutex by the thread itself
    };
    void JoinFinished();

    std::mutex m_mutex;
    std::list<CWorker> m_workers;
};
