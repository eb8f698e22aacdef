// Events, waits, threads, critical sections, time and error texts.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long long ElapsedMs(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(Events, ManualResetStaysSignalledUntilReset) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(SetEvent(event));  // setting twice is fine
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Events, InitiallySignalled) {
    HANDLE manual = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    HANDLE automatic = CreateEvent(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST(Events, AutoResetIsConsumedByOneWait) {
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    SetEvent(event);
    SetEvent(event);  // does not count
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    SetEvent(event);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Events, HandlesAreDistinctAndNotNull) {
    HANDLE a = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(a, INVALID_HANDLE_VALUE);
    EXPECT_NE(a, b);
    CloseHandle(a);
    HANDLE c = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(c, a);  // never reused
    CloseHandle(b);
    CloseHandle(c);
}

TEST(Waits, TimeoutReturnsWaitTimeoutAfterTheTime) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_TIMEOUT);
    const auto elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 100);
    EXPECT_LT(elapsed, 2000);
    HANDLE both[] = {event, event};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 50), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Waits, WakesWhenSetFromAnotherThread) {
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        SetEvent(event);
    });
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_LT(ElapsedMs(start), 5000);
    setter.join();
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // consumed
    CloseHandle(event);
}

TEST(Waits, MultipleReturnsLowestSignalledIndex) {
    HANDLE events[3];
    for (HANDLE& e : events) e = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    SetEvent(events[2]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0);
    for (HANDLE e : events) CloseHandle(e);
}

TEST(Waits, MultipleConsumesOnlyTheAutoResetEventItReports) {
    HANDLE first = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    HANDLE second = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    HANDLE both[] = {first, second};
    SetEvent(first);
    SetEvent(second);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
    // The second was not reported, so it is still signalled.
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    CloseHandle(first);
    CloseHandle(second);
}

TEST(Waits, WaitAllIsRejected) {
    HANDLE event = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(1, &event, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(0, &event, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(event);
}

TEST(Waits, OneSetEventWakesExactlyOneOfTwoAutoResetWaiters) {
    for (int round = 0; round < 5; ++round) {
        HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
        std::atomic<int> woken{0}, timedOut{0}, started{0};
        auto waiter = [&] {
            ++started;
            const DWORD r = WaitForSingleObject(event, 200);
            if (r == WAIT_OBJECT_0) ++woken;
            else if (r == WAIT_TIMEOUT) ++timedOut;
        };
        std::thread a(waiter), b(waiter);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return started == 2; }));
        std::this_thread::sleep_for(20ms);  // both are (very likely) in the wait now
        SetEvent(event);
        a.join();
        b.join();
        EXPECT_EQ(woken, 1);
        EXPECT_EQ(timedOut, 1);
        CloseHandle(event);
    }
}

TEST(Waits, AutoResetWaitersInMultipleWaitsShareSignals) {
    // Many threads wait on one auto-reset event; each SetEvent releases one.
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    HANDLE stop = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            HANDLE handles[] = {stop, event};
            while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) ++woken;
        });
    for (int i = 1; i <= 50; ++i) {
        SetEvent(event);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return woken == i; })) << i;
    }
    SetEvent(stop);
    for (auto& t : threads) t.join();
    EXPECT_EQ(woken, 50);
    CloseHandle(event);
    CloseHandle(stop);
}

// ---- Invalid handles ----------------------------------------------------------

TEST(Handles, ClosedHandleFailsWithInvalidHandle) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    SetLastError(0);
    EXPECT_FALSE(SetEvent(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(ResetEvent(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(1, &event, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(event));  // double close
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Handles, NeverIssuedHandlesFail) {
    for (HANDLE bogus : {HANDLE(nullptr), INVALID_HANDLE_VALUE, HANDLE(uintptr_t(0x7fff0000)),
                         HANDLE(uintptr_t(3))}) {
        SetLastError(0);
        EXPECT_FALSE(SetEvent(bogus));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(bogus, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(bogus));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        DWORD code = 0;
        SetLastError(0);
        EXPECT_FALSE(GetExitCodeThread(bogus, &code));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST(Handles, WrongKindFails) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    DWORD code = 0;
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeThread(event, &code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
}

TEST(Handles, OneBadHandleFailsAMultipleWait) {
    HANDLE event = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    HANDLE closed = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    CloseHandle(closed);
    HANDLE handles[] = {event, closed};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
}

TEST(Handles, ClosingAnEventWhileAnotherThreadWaitsWakesNothing) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> result{12345};
    std::atomic<bool> started{false};
    std::thread waiter([&] {
        started = true;
        result = WaitForSingleObject(event, 300);
    });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return started.load(); }));
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(SetEvent(event));  // no longer reachable through the handle
    waiter.join();
    EXPECT_EQ(result, WAIT_TIMEOUT);
}

TEST(Handles, ClosingDuringMultipleWaitStillLetsOtherEventsWake) {
    HANDLE doomed = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    HANDLE live = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    std::atomic<DWORD> result{12345};
    std::atomic<bool> started{false};
    std::thread waiter([&] {
        HANDLE handles[] = {doomed, live};
        started = true;
        result = WaitForMultipleObjects(2, handles, FALSE, 5000);
    });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return started.load(); }));
    std::this_thread::sleep_for(30ms);
    CloseHandle(doomed);
    SetEvent(live);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0 + 1);
    CloseHandle(live);
}

// ---- Threads --------------------------------------------------------------------

DWORD WINAPI ReturnParameter(LPVOID parameter) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

struct Gate {
    HANDLE go;
    std::atomic<DWORD> id{0};
};

DWORD WINAPI WaitForGate(LPVOID parameter) {
    auto* gate = static_cast<Gate*>(parameter);
    gate->id = GetCurrentThreadId();
    WaitForSingleObject(gate->go, INFINITE);
    return 42;
}

TEST(Threads, HandleSignalledAtEndWithExitCode) {
    Gate gate;
    gate.go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitForGate, &gate, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return gate.id != 0; }));
    EXPECT_EQ(gate.id, id);
    EXPECT_NE(id, GetCurrentThreadId());
    SetEvent(gate.go);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(thread));
    CloseHandle(gate.go);
}

TEST(Threads, ExitCodeIsTheReturnValue) {
    HANDLE thread = CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(uintptr_t(7)),
                                 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(thread);
}

TEST(Threads, ClosingTheHandleDoesNotStopTheThread) {
    Gate gate;
    gate.go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 64 * 1024, WaitForGate, &gate, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return gate.id != 0; }));
    SetEvent(gate.go);
    HANDLE again = CreateThread(nullptr, 0, ReturnParameter, nullptr, 0, nullptr);
    WaitForSingleObject(again, 10000);
    CloseHandle(again);
    // The thread ends on its own; give it a moment before the gate goes away.
    std::this_thread::sleep_for(50ms);
    CloseHandle(gate.go);
}

TEST(Threads, WaitOnThreadAndEventTogether) {
    HANDLE stop = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, ReturnParameter, nullptr, 0, nullptr);
    HANDLE handles[] = {stop, thread};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 10000), WAIT_OBJECT_0 + 1);
    CloseHandle(thread);
    CloseHandle(stop);
}

TEST(Threads, NullStartFails) {
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Threads, ThreadIdsAreUniqueAndStable) {
    const DWORD mine = GetCurrentThreadId();
    EXPECT_EQ(GetCurrentThreadId(), mine);
    std::vector<DWORD> ids(8);
    std::vector<std::thread> threads;
    for (auto& id : ids) threads.emplace_back([&id] { id = GetCurrentThreadId(); });
    for (auto& t : threads) t.join();
    ids.push_back(mine);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}

TEST(Threads, LastErrorIsPerThread) {
    SetLastError(1234);
    std::thread other([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(99);
    });
    other.join();
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(Threads, SleepSleeps) {
    const auto start = Clock::now();
    Sleep(30);
    EXPECT_GE(ElapsedMs(start), 30);
    Sleep(0);
}

// ---- Critical sections ----------------------------------------------------------

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // re-entered by its owner
    std::atomic<bool> entered{false};
    std::thread other([&] {
        EnterCriticalSection(&section);
        entered = true;
        LeaveCriticalSection(&section);
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(entered);
    LeaveCriticalSection(&section);
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(entered);  // still held once
    LeaveCriticalSection(&section);
    other.join();
    EXPECT_TRUE(entered);
    DeleteCriticalSection(&section);
}

TEST(CriticalSection, CountsUnderContention) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 10000; ++k) {
                EnterCriticalSection(&section);
                ++counter;
                LeaveCriticalSection(&section);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 40000);
    DeleteCriticalSection(&section);
}

// ---- Time -----------------------------------------------------------------------

uint64_t Ticks(const FILETIME& ft) {
    return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TEST(Time, FileTimeEpochs) {
    SYSTEMTIME st{1601, 1, 1, 1, 0, 0, 0, 0};
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ(Ticks(ft), 0u);
    st = {1970, 1, 4, 1, 0, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ(Ticks(ft), 116444736000000000ull);
    st = {2000, 2, 2, 29, 12, 34, 56, 789};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    // 2000-02-29T12:34:56.789Z = Unix 951827696.789
    EXPECT_EQ(Ticks(ft), (951827696ull + 11644473600ull) * 10000000ull + 7890000ull);
}

TEST(Time, InvalidSystemTimeIsRejected) {
    FILETIME ft{};
    SYSTEMTIME bad[] = {{2001, 2, 0, 29, 0, 0, 0, 0}, {2024, 13, 0, 1, 0, 0, 0, 0},
                        {2024, 1, 0, 1, 24, 0, 0, 0}, {1600, 12, 0, 31, 0, 0, 0, 0},
                        {2024, 1, 0, 1, 0, 0, 0, 1000}};
    for (const auto& st : bad) {
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&st, &ft));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

TEST(Time, SystemTimeRoundTripsAndAgreesWithFileTime) {
    FILETIME before, after, converted;
    SYSTEMTIME now;
    GetSystemTimeAsFileTime(&before);
    GetSystemTime(&now);
    GetSystemTimeAsFileTime(&after);
    ASSERT_TRUE(SystemTimeToFileTime(&now, &converted));
    // SYSTEMTIME has millisecond resolution.
    EXPECT_GE(Ticks(converted) + 10000, Ticks(before));
    EXPECT_LE(Ticks(converted), Ticks(after));
    EXPECT_GE(now.wYear, 2024);
    EXPECT_LE(now.wDayOfWeek, 6);
    const auto t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    tm parts;
    gmtime_r(&t, &parts);
    EXPECT_EQ(now.wYear, parts.tm_year + 1900);
}

TEST(Time, FileTimeHasSubMillisecondResolution) {
    bool sawSubMillisecond = false;
    for (int i = 0; i < 100 && !sawSubMillisecond; ++i) {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        sawSubMillisecond = Ticks(ft) % 10000 != 0;
    }
    EXPECT_TRUE(sawSubMillisecond);
}

// ---- Error texts ----------------------------------------------------------------

std::wstring SystemText(DWORD code) {
    LPWSTR text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                                   nullptr, code, 0x0400, reinterpret_cast<LPWSTR>(&text), 0,
                                   nullptr);
    std::wstring result = text ? std::wstring(text, n) : std::wstring();
    EXPECT_EQ(LocalFree(text), nullptr);
    return result;
}

TEST(Errors, FormatMessageGivesWindowsTexts) {
    EXPECT_EQ(SystemText(2), L"The system cannot find the file specified.\r\n");
    EXPECT_EQ(SystemText(5), L"Access is denied.\r\n");
    EXPECT_EQ(SystemText(6), L"The handle is invalid.\r\n");
    EXPECT_EQ(SystemText(87), L"The parameter is incorrect.\r\n");
    EXPECT_EQ(SystemText(121), L"The semaphore timeout period has expired.\r\n");
    EXPECT_EQ(SystemText(1167), L"The device is not connected.\r\n");
    EXPECT_EQ(SystemText(32),
              L"The process cannot access the file because it is being used by another process.\r\n");
    const std::wstring unknown = SystemText(54321);
    EXPECT_FALSE(unknown.empty());
    EXPECT_NE(unknown.find(L"54321"), std::wstring::npos);
    EXPECT_EQ(unknown.substr(unknown.size() - 2), L"\r\n");
}

TEST(Errors, FormatMessageIntoCallerBuffer) {
    wchar_t buffer[64];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, 64, nullptr), 19u);
    EXPECT_STREQ(buffer, L"Access is denied.\r\n");
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, 5, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

// ---- Message boxes --------------------------------------------------------------

struct BoxCall {
    std::wstring text, caption;
    UINT type = 0;
    int calls = 0;
};

int RecordBox(void* context, HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    auto* call = static_cast<BoxCall*>(context);
    call->text = text;
    call->caption = caption;
    call->type = type;
    ++call->calls;
    return IDCANCEL;
}

TEST(MessageBox, CallsTheInstalledHandler) {
    BoxCall call;
    Platform_SetMessageBoxHandler(RecordBox, &call);
    EXPECT_EQ(MessageBoxW(nullptr, L"Port: 3\n\u00e9", L"Application Error", MB_ICONERROR), IDCANCEL);
    Platform_SetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(call.calls, 1);
    EXPECT_EQ(call.text, L"Port: 3\n\u00e9");
    EXPECT_EQ(call.caption, L"Application Error");
    EXPECT_EQ(call.type, MB_ICONERROR);
}

TEST(MessageBox, WithoutHandlerWritesToStandardErrorAndReturnsOk) {
    testing::internal::CaptureStderr();
    const int result = MessageBoxW(nullptr, L"Something \u00e9 failed", L"Application Error", MB_OK);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, IDOK);
    EXPECT_NE(err.find("Application Error"), std::string::npos);
    EXPECT_NE(err.find("Something \xc3\xa9 failed"), std::string::npos);
}

}  // namespace
