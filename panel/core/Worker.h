// The one way the panel runs work off the GUI thread: a worker thread that
// runs the jobs it is asked for, one after another, and hands each job's
// result back to its owner's thread in the Finished signal. A job may watch
// the worker's manual-reset abort event, and may send reports (progress,
// partial results) ahead of its result with Report().
//
// Ownership and threads: a member of its owner, created, asked and destroyed
// on the owner's thread, which must run an event loop for results to
// arrive; Request(), Busy(), Abort() and Report() may be called from any
// thread. The thread starts with the first request. The destructor sets the
// abort event, drops the jobs still waiting, lets the running one return and
// joins the thread, so no job outlives the worker; results and reports not
// yet delivered are dropped with it. Whatever a job reaches must therefore
// outlive the worker (declare it last).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include <QObject>
#include <QVariant>

#include "platform/OwnedHandle.h"

// True on the thread `object` lives in: where a blocking hand-over to that
// object's thread would wait for itself.
bool OnThreadOf(const QObject& object);

class CWorker : public QObject {
    Q_OBJECT
public:
    // Runs on the worker; what it returns is Finished's argument.
    using Job = std::function<QVariant()>;
    enum class IfBusy {
        Queue,  // run after what is asked for already
        Skip,   // start nothing while a job waits, runs or has its result on the way
    };

    explicit CWorker(QObject* parent = nullptr);
    ~CWorker() override;
    CWorker(const CWorker&) = delete;
    CWorker& operator=(const CWorker&) = delete;

    // False when skipped (or when the worker is going). A request made while
    // idle clears the abort event first.
    bool Request(Job job, IfBusy ifBusy = IfBusy::Queue);
    // From a request until its Finished has been emitted.
    bool Busy() const;

    HANDLE AbortEvent() const { return m_abortEvent.Get(); }
    void Abort() const { SetEvent(m_abortEvent.Get()); }

    // Runs `report` on the owner's thread, in order with the results.
    void Report(std::function<void()> report) { emit HandedOver(std::move(report)); }

signals:
    // On the owner's thread, once per job, in the order they were asked for.
    void Finished(const QVariant& result);
    // Emitted on the worker, queued to the owner's thread: a signal rather
    // than a queued functor, so that Qt itself copies what crosses.
    void HandedOver(std::function<void()> call);

private:
    void Run();
    void Deliver(const QVariant& result);

    platform::COwnedHandle m_abortEvent;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    int m_pending = 0;  // asked for and not yet delivered
    bool m_bStopping = false;
    std::thread m_thread;
};
