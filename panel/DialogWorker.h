// The worker a dialog runs its instrument job on: one job at a time on a
// thread of its own, with the manual-reset abort event the job watches, and
// the job's reports and result carried to the dialog's thread by queued
// calls. The ramp, download and upload dialogs all use it.
//
// Ownership and threads: a member of its dialog, created, started and
// destroyed on the GUI thread. The result callback runs there after the
// job's thread has been joined. The destructor aborts and joins a job still
// running, so no job outlives the dialog it reports to; queued calls still
// pending then are dropped with the dialog.
#pragma once

#include <functional>
#include <thread>
#include <utility>

#include <QObject>

#include "platform/OwnedHandle.h"

class CDialogWorker {
public:
    explicit CDialogWorker(QObject* dialog)
        : m_pDialog(dialog), m_abortEvent(platform::COwnedHandle::NewEvent(true)) {}
    ~CDialogWorker() {
        if (m_thread.joinable()) {
            SetEvent(m_abortEvent.Get());
            m_thread.join();
        }
    }
    CDialogWorker(const CDialogWorker&) = delete;
    CDialogWorker& operator=(const CDialogWorker&) = delete;

    HANDLE AbortEvent() const { return m_abortEvent.Get(); }
    bool Running() const { return m_thread.joinable(); }
    void Abort() const { SetEvent(m_abortEvent.Get()); }

    // Runs `job` on the worker with a fresh abort event; `finished(result)`
    // follows on the dialog's thread.
    void Start(std::function<int()> job, std::function<void(int)> finished) {
        ResetEvent(m_abortEvent.Get());
        m_thread = std::thread([this, job = std::move(job), finished = std::move(finished)] {
            const int result = job();
            Post([this, result, finished] {
                // The job's last act was to post this call.
                m_thread.join();
                finished(result);
            });
        });
    }

    // Carries `report` to the dialog's thread (from any thread).
    template <typename Report>
    void Post(Report report) const {
        QMetaObject::invokeMethod(m_pDialog, std::move(report), Qt::QueuedConnection);
    }

private:
    QObject* const m_pDialog;
    platform::COwnedHandle m_abortEvent;
    std::thread m_thread;
};
