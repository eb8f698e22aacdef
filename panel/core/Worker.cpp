// The worker's queue, its loop and the hand-back of results.
#include "Worker.h"

#include <QThread>

bool OnThreadOf(const QObject& object) { return object.thread() == QThread::currentThread(); }

CWorker::CWorker(QObject* parent) : QObject(parent), m_abortEvent(platform::COwnedHandle::NewEvent(true)) {
    connect(this, &CWorker::HandedOver, this, [](const std::function<void()>& call) { call(); },
            Qt::QueuedConnection);
}

CWorker::~CWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_bStopping = true;
        m_jobs.clear();
    }
    Abort();
    m_wake.notify_all();
    // Joined here, before QObject's destructor drops the posted results: a
    // result posted while this runs is still posted to a living object.
    if (m_thread.joinable()) m_thread.join();
}

bool CWorker::Request(Job job, IfBusy ifBusy) {
    {
        std::lock_guard lock(m_mutex);
        if (m_bStopping || (ifBusy == IfBusy::Skip && m_pending > 0)) return false;
        if (m_pending == 0) ResetEvent(m_abortEvent.Get());
        ++m_pending;
        m_jobs.push_back(std::move(job));
        if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
    }
    m_wake.notify_one();
    return true;
}

bool CWorker::Busy() const {
    std::lock_guard lock(m_mutex);
    return m_pending > 0;
}

void CWorker::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStopping || !m_jobs.empty(); });
        if (m_bStopping) return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        QVariant result = job();
        job = nullptr;  // whatever the job captured goes before its result arrives
        emit HandedOver([this, result = std::move(result)] { Deliver(result); });
        lock.lock();
    }
}

void CWorker::Deliver(const QVariant& result) {
    {
        std::lock_guard lock(m_mutex);
        --m_pending;
    }
    emit Finished(result);
}
