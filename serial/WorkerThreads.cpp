// Worker threads of one owner (see WorkerThreads.h).
#include "serial/WorkerThreads.h"

#include <memory>

namespace {
struct Job {
    std::function<void()> work;
};
}  // namespace

DWORD WINAPI CWorkerThreads::Run(LPVOID parameter) {
    std::unique_ptr<Job> job(static_cast<Job*>(parameter));
    try {
        job->work();
    } catch (...) {
        // Nothing may leave a thread; the work reports its own failures.
    }
    // Releasing the work may release the last reference to the device that
    // owns this set, so nothing here touches the set afterwards.
    job.reset();
    return 0;
}

bool CWorkerThreads::Start(std::function<void()> work) {
    std::lock_guard lock(m_mutex);
    if (m_bStopped) return false;
    ReapFinished();
    auto job = std::make_unique<Job>(Job{std::move(work)});
    DWORD id = 0;
    // The lock is held until the handle is recorded, so a worker that stops
    // the set at once still finds itself in the list.
    HANDLE thread = CreateThread(nullptr, 0, &CWorkerThreads::Run, job.get(), 0, &id);
    if (!thread) return false;
    job.release();
    m_workers.push_back(Worker{thread, id});
    return true;
}

void CWorkerThreads::ReapFinished() {
    for (auto it = m_workers.begin(); it != m_workers.end();) {
        if (WaitForSingleObject(it->hThread, 0) == WAIT_OBJECT_0) {
            CloseHandle(it->hThread);
            it = m_workers.erase(it);
        } else {
            ++it;
        }
    }
}

void CWorkerThreads::StopAndJoin() {
    std::vector<Worker> workers;
    {
        std::lock_guard lock(m_mutex);
        m_bStopped = true;
        workers.swap(m_workers);
    }
    const DWORD self = GetCurrentThreadId();
    for (const Worker& worker : workers) {
        if (worker.id != self) WaitForSingleObject(worker.hThread, INFINITE);
        CloseHandle(worker.hThread);
    }
}


bool CWorkerThreads::RunsOnWorker() const {
    const DWORD self = GetCurrentThreadId();
    std::lock_guard lock(m_mutex);
    for (const Worker& worker : m_workers)
        if (worker.id == self) return true;
    return false;
}
