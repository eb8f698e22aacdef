// Owner of the library's short-lived background threads (see
// BackgroundThreads.h).
#include "BackgroundThreads.h"

#include <system_error>
#include <utility>

CBackgroundThreads::~CBackgroundThreads() {
    // A worker may start another while we wait for it: go on until none is
    // left.
    for (;;) {
        std::list<CWorker> workers;
        {
            std::lock_guard lock(m_mutex);
            if (m_workers.empty()) return;
            workers.swap(m_workers);
        }
        for (auto& worker : workers) worker.thread.join();
    }
}

bool CBackgroundThreads::Start(std::function<void()>& work) {
    JoinFinished();
    auto task = std::make_shared<std::function<void()>>();
    std::lock_guard lock(m_mutex);
    // The entry exists before its thread, under the lock the thread takes to
    // mark itself done, so the mark always finds its entry.
    m_workers.push_back(CWorker{std::thread(), std::make_shared<bool>(false)});
    CWorker& worker = m_workers.back();
    task->swap(work);
    try {
        worker.thread = std::thread([this, done = worker.done, task] {
            (*task)();
            *task = nullptr;
            std::lock_guard doneLock(m_mutex);
            *done = true;
        });
    } catch (const std::system_error&) {
        m_workers.pop_back();
        task->swap(work);
        return false;
    }
    return true;
}

void CBackgroundThreads::JoinFinished() {
    std::list<CWorker> finished;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (*it->done) {
                finished.splice(finished.end(), m_workers, it++);
            } else {
                ++it;
            }
        }
    }
    // A finished worker has only its return left to do.
    for (auto& worker : finished) worker.thread.join();
}
