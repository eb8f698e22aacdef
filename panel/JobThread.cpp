// The job thread's queue and loop.
#include "JobThread.h"

#include <utility>

CJobThread::CJobThread() : m_thread([this] { Run(); }) {}

CJobThread::~CJobThread() {
    {
        std::lock_guard lock(m_mutex);
        m_bStopping = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void CJobThread::Post(Job job) {
    {
        std::lock_guard lock(m_mutex);
        if (m_bStopping) return;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

bool CJobThread::PostIfIdle(Job job) {
    {
        std::lock_guard lock(m_mutex);
        if (m_bStopping || m_bRunning || !m_jobs.empty()) return false;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
    return true;
}

bool CJobThread::Idle() const {
    std::lock_guard lock(m_mutex);
    return !m_bRunning && m_jobs.empty();
}

void CJobThread::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStopping || !m_jobs.empty(); });
        if (m_bStopping) return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_bRunning = true;
        lock.unlock();
        job();
        job = nullptr;  // whatever the job captured goes before it counts as done
        lock.lock();
        m_bRunning = false;
    }
}
