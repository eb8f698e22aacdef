// One worker thread that runs posted jobs one after another, in order.
// The connection sequences run on one, and each kind of timer reading on
// its own, so that a slow reading never piles up behind the next tick.
//
// Ownership and threads: any thread may post; the owner destroys it. The
// destructor lets the running job finish, drops the jobs still queued and
// joins the thread, so nothing a job reaches may go before its owner's
// CJobThread does.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CJobThread {
public:
    using Job = std::function<void()>;

    CJobThread();
    ~CJobThread();
    CJobThread(const CJobThread&) = delete;
    CJobThread& operator=(const CJobThread&) = delete;

    void Post(Job job);
    // Posts only when no job runs or waits: a tick whose previous reading
    // still runs is skipped. False when skipped.
    bool PostIfIdle(Job job);
    bool Idle() const;

private:
    void Run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_bRunning = false;  // a job is being run
    bool m_bStopping = false;
    std::thread m_thread;  // last: starts after the members it uses exist
};
