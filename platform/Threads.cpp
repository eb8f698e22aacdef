// Threads, thread ids, Sleep and critical sections.
#include "platform/Handles_p.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <new>

#include <climits>

#include <pthread.h>
#include <unistd.h>
#include <sched.h>

namespace platform::detail {
namespace {

// Ids come from a counter, so every thread of the process gets its own.
std::atomic<DWORD> g_nextThreadId{1};
thread_local DWORD t_threadId = 0;

DWORD NewThreadId() {
    DWORD id;
    do id = g_nextThreadId.fetch_add(1, std::memory_order_relaxed);
    while (id == 0);
    return id;
}

// Manual-reset waitable that is signalled when the thread ends.
class ThreadObject final : public Waitable {
public:
    ThreadObject() : Waitable(Kind::Thread, true, false) {}
    std::atomic<DWORD> exitCode{STILL_ACTIVE};
};

struct StartBlock {
    std::shared_ptr<ThreadObject> object;  // keeps it alive until the thread ends
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    DWORD id;
};

void* ThreadMain(void* argument) {
    StartBlock* block = static_cast<StartBlock*>(argument);
    t_threadId = block->id;
    const DWORD code = block->start(block->parameter);
    block->object->exitCode.store(code, std::memory_order_release);
    block->object->Set();
    delete block;
    return nullptr;
}

}  // namespace
}  // namespace platform::detail

using namespace platform::detail;

extern "C" {

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, size_t stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                    DWORD* threadId) {
    (void)attributes;
    (void)flags;  // CREATE_SUSPENDED is not used by the system
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<ThreadObject> object;
    StartBlock* block = nullptr;
    try {
        object = std::make_shared<ThreadObject>();
        block = new StartBlock{object, start, parameter, NewThreadId()};
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!object->Valid()) {
        SetLastErrorFromErrno(errno);
        delete block;
        return nullptr;
    }
    const DWORD id = block->id;
    HANDLE handle = RegisterHandle(object);
    if (!handle) {
        delete block;
        return nullptr;
    }

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize) {
        if (stackSize < static_cast<size_t>(PTHREAD_STACK_MIN)) stackSize = PTHREAD_STACK_MIN;
        pthread_attr_setstacksize(&attr, stackSize);
    }
    pthread_t thread;
    const int error = pthread_create(&thread, &attr, ThreadMain, block);
    pthread_attr_destroy(&attr);
    if (error) {
        delete block;
        RemoveHandle(handle);
        SetLastError(error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ErrnoToWin32(error));
        return nullptr;
    }
    if (threadId) *threadId = id;
    return handle;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    auto object = FindAs<ThreadObject>(thread, Kind::Thread);
    if (!object) return FALSE;
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = object->exitCode.load(std::memory_order_acquire);
    return TRUE;
}

DWORD GetCurrentThreadId(void) {
    if (t_threadId == 0) t_threadId = NewThreadId();
    return t_threadId;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) pause();
    }
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    // clock_nanosleep on the monotonic clock, resumed after signals.
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    timespec until{now.tv_sec + request.tv_sec, now.tv_nsec + request.tv_nsec};
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// ---- Critical sections ------------------------------------------------------

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->impl = new std::recursive_mutex;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->impl)->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->impl)->unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete static_cast<std::recursive_mutex*>(section->impl);
    section->impl = nullptr;
}

}  // extern "C"
