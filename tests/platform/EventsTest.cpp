// Events, waits, threads, critical sections, time and error texts.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "PlatformChecks.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using namespace platformtest;

TEST(Events, ManualResetStaysSetAutoResetIsConsumedByOneWait) {
    std::vector<HANDLE> issued;
    for (BOOL manual : {TRUE, FALSE}) {
        SCOPED_TRACE(manual ? "manual reset" : "auto reset");
        HANDLE event = CreateEvent(nullptr, manual, FALSE, nullptr);
        HANDLE initiallySet = CreateEvent(nullptr, manual, TRUE, nullptr);
        ASSERT_NE(event, nullptr);
        EXPECT_NE(event, INVALID_HANDLE_VALUE);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(SetEvent(event));
        EXPECT_TRUE(SetEvent(event));  // a second set does not count twice
        const DWORD second = manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
        for (HANDLE set : {event, initiallySet}) {
            EXPECT_EQ(WaitForSingleObject(set, 0), WAIT_OBJECT_0);
            EXPECT_EQ(WaitForSingleObject(set, 0), second);
        }
        SetEvent(event);
        EXPECT_TRUE(ResetEvent(event));
        EXPECT_TRUE(ResetEvent(event));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(CloseHandle(event));
        EXPECT_TRUE(CloseHandle(initiallySet));
        issued.insert(issued.end(), {event, initiallySet});
    }
    std::sort(issued.begin(), issued.end());  // handles are never reused
    EXPECT_EQ(std::adjacent_find(issued.begin(), issued.end()), issued.end());
}

TEST(Waits, TimeoutsAndSleepNeverEndEarly) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 100);
    EXPECT_LT(ElapsedMs(start), testsupport::kLimit.count());  // the time-out is not ignored
    HANDLE both[] = {event, event};
    start = Clock::now();
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 50), WAIT_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 50);
    start = Clock::now();
    Sleep(30);
    EXPECT_GE(ElapsedMs(start), 30);
    Sleep(0);
    CloseHandle(event);
}

TEST(Waits, MultipleReturnsLowestSignalledIndexConsumesOnlyThatAndRefusesWaitAll) {
    HANDLE events[3];
    for (HANDLE& e : events) e = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    SetEvent(events[2]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0);
    for (HANDLE e : events) CloseHandle(e);

    HANDLE automatic[] = {CreateEvent(nullptr, FALSE, TRUE, nullptr),
                          CreateEvent(nullptr, FALSE, TRUE, nullptr)};
    EXPECT_EQ(WaitForMultipleObjects(2, automatic, FALSE, 0), WAIT_OBJECT_0);
    // The second was not reported, so it is still signalled.
    EXPECT_EQ(WaitForMultipleObjects(2, automatic, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, automatic, FALSE, 0), WAIT_TIMEOUT);
    SetEvent(automatic[0]);
    // wait-all is not offered
    EXPECT_FAILS_WITH(WaitForMultipleObjects(1, automatic, TRUE, 0), WAIT_FAILED, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(WaitForMultipleObjects(0, automatic, FALSE, 0), WAIT_FAILED, ERROR_INVALID_PARAMETER);
    for (HANDLE e : automatic) CloseHandle(e);
}

TEST(Waits, EachSetOfAnAutoResetEventReleasesExactlyOneOfManyWaiters) {
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

TEST(Handles, ClosedNeverIssuedAndWrongKindHandlesFailWithInvalidHandle) {
    HANDLE closed = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    HANDLE live = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    DWORD code = 0;
    for (HANDLE bad : {closed, HANDLE(nullptr), INVALID_HANDLE_VALUE,
                       HANDLE(uintptr_t(0x7fff0000)), HANDLE(uintptr_t(3))}) {
        SCOPED_TRACE(reinterpret_cast<uintptr_t>(bad));
        HANDLE pair[] = {live, bad};  // one bad handle fails the whole wait
        EXPECT_FAILS_WITH(SetEvent(bad), FALSE, ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(ResetEvent(bad), FALSE, ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(WaitForSingleObject(bad, 0), WAIT_FAILED, ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(WaitForSingleObject(bad, INFINITE), WAIT_FAILED, ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_FAILED, ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(GetExitCodeThread(bad, &code), FALSE, ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(CloseHandle(bad), FALSE, ERROR_INVALID_HANDLE);  // closed twice
    }
    EXPECT_FAILS_WITH(GetExitCodeThread(live, &code), FALSE, ERROR_INVALID_HANDLE);  // not a thread
    CloseHandle(live);
}

TEST(Handles, ClosingAnEventDuringAWaitWakesNothingButLetsOtherEventsWake) {
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
    std::this_thread::sleep_for(30ms);  // lets the waiter reach the wait
    EXPECT_TRUE(CloseHandle(doomed));
    EXPECT_FALSE(SetEvent(doomed));  // no longer reachable through the handle
    SetEvent(live);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0 + 1);
    CloseHandle(live);
}

// ---- Threads --------------------------------------------------------------------

struct Gate {
    HANDLE go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> id{0};
    std::atomic<int> passed{0};
    ~Gate() { CloseHandle(go); }
};

DWORD WINAPI WaitForGate(LPVOID parameter) {
    auto* gate = static_cast<Gate*>(parameter);
    gate->id = GetCurrentThreadId();
    WaitForSingleObject(gate->go, INFINITE);
    ++gate->passed;  // the gate is not touched after this
    return 42;
}

TEST(Threads, HandleSignalledAtEndWithExitCodeAndClosingItEarlyDoesNotStopTheThread) {
    Gate gate;
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
    HANDLE closedEarly = CreateThread(nullptr, 64 * 1024, WaitForGate, &gate, 0, nullptr);
    EXPECT_TRUE(CloseHandle(closedEarly));  // the thread runs on without its handle
    SetEvent(gate.go);
    HANDLE stop = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE stopOrEnd[] = {stop, thread};  // a thread is waited on among events
    EXPECT_EQ(WaitForMultipleObjects(2, stopOrEnd, FALSE, 10000), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
    CloseHandle(stop);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return gate.passed == 2; }));
    EXPECT_FAILS_WITH(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr,
                      ERROR_INVALID_PARAMETER);
}

TEST(Threads, ThreadIdsAreUniqueAndStableAndLastErrorIsPerThread) {
    const DWORD mine = GetCurrentThreadId();
    EXPECT_EQ(GetCurrentThreadId(), mine);
    SetLastError(1234);
    std::vector<DWORD> ids(8);
    std::vector<std::thread> threads;
    for (auto& id : ids)
        threads.emplace_back([&id] {
            id = GetCurrentThreadId();
            EXPECT_EQ(GetLastError(), 0u);
            SetLastError(99);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(GetLastError(), 1234u);
    ids.push_back(mine);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}

// ---- Critical sections ----------------------------------------------------------

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreadsUnderContention) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // re-entered by its owner
    long counter = 0;  // read here only while the section is held
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 10000; ++k) {
                EnterCriticalSection(&section);
                ++counter;
                LeaveCriticalSection(&section);
            }
        });
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(counter, 0);
    LeaveCriticalSection(&section);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(counter, 0);  // still held once
    LeaveCriticalSection(&section);
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 40000);
    DeleteCriticalSection(&section);
}

// ---- Time -----------------------------------------------------------------------

uint64_t Ticks(const FILETIME& ft) {
    return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TEST(Time, FileTimeCountsFrom1601AndInvalidSystemTimesAreRejected) {
    const struct {
        SYSTEMTIME time;
        uint64_t ticks;
    } valid[] = {
        {{1601, 1, 1, 1, 0, 0, 0, 0}, 0},
        {{1970, 1, 4, 1, 0, 0, 0, 0}, 116444736000000000ull},
        // 2000-02-29T12:34:56.789Z = Unix 951827696.789
        {{2000, 2, 2, 29, 12, 34, 56, 789}, (951827696ull + 11644473600ull) * 10000000ull + 7890000ull},
    };
    FILETIME ft{};
    for (const auto& c : valid) {
        ASSERT_TRUE(SystemTimeToFileTime(&c.time, &ft));
        EXPECT_EQ(Ticks(ft), c.ticks);
    }
    const SYSTEMTIME bad[] = {{2001, 2, 0, 29, 0, 0, 0, 0}, {2024, 13, 0, 1, 0, 0, 0, 0},
                              {2024, 1, 0, 1, 24, 0, 0, 0}, {1600, 12, 0, 31, 0, 0, 0, 0},
                              {2024, 1, 0, 1, 0, 0, 0, 1000}};
    for (const auto& st : bad) {
        SCOPED_TRACE(st.wYear * 100 + st.wMonth);
        EXPECT_FAILS_WITH(SystemTimeToFileTime(&st, &ft), FALSE, ERROR_INVALID_PARAMETER);
    }
}

TEST(Time, SystemTimeAgreesWithFileTimeWhichHasSubMillisecondResolution) {
    FILETIME before, after, converted;
    SYSTEMTIME now;
    GetSystemTimeAsFileTime(&before);
    GetSystemTime(&now);
    GetSystemTimeAsFileTime(&after);
    ASSERT_TRUE(SystemTimeToFileTime(&now, &converted));
    // SYSTEMTIME has millisecond resolution.
    EXPECT_GE(Ticks(converted) + 10000, Ticks(before));
    EXPECT_LE(Ticks(converted), Ticks(after));
    EXPECT_LE(now.wDayOfWeek, 6);
    const auto t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    tm parts;
    gmtime_r(&t, &parts);
    EXPECT_EQ(now.wYear, parts.tm_year + 1900);
    bool sawSubMillisecond = false;
    for (int i = 0; i < 100 && !sawSubMillisecond; ++i) {
        GetSystemTimeAsFileTime(&after);
        sawSubMillisecond = Ticks(after) % 10000 != 0;
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

TEST(Errors, FormatMessageGivesWindowsTextsAllocatedOrInTheCallersBuffer) {
    EXPECT_EQ(SystemText(2), L"The system cannot find the file specified.\r\n");
    EXPECT_EQ(SystemText(5), L"Access is denied.\r\n");
    EXPECT_EQ(SystemText(6), L"The handle is invalid.\r\n");
    EXPECT_EQ(SystemText(87), L"The parameter is incorrect.\r\n");
    EXPECT_EQ(SystemText(121), L"The semaphore timeout period has expired.\r\n");
    EXPECT_EQ(SystemText(1167), L"The device is not connected.\r\n");
    EXPECT_EQ(SystemText(32),
              L"The process cannot access the file because it is being used by another process.\r\n");
    const std::wstring unknown = SystemText(54321);
    EXPECT_NE(unknown.find(L"54321"), std::wstring::npos);
    EXPECT_TRUE(unknown.ends_with(L"\r\n"));
    wchar_t buffer[64];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, 64, nullptr), 19u);
    EXPECT_STREQ(buffer, L"Access is denied.\r\n");
    EXPECT_FAILS_WITH(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, 5, nullptr), 0u,
                      ERROR_INSUFFICIENT_BUFFER);
}

// ---- Message boxes --------------------------------------------------------------

TEST(MessageBox, GoesToTheInstalledHandlerElseToStandardErrorWithOk) {
    struct {
        std::wstring text, caption;
        UINT type = 0;
        int calls = 0;
    } call;
    Platform_SetMessageBoxHandler(
        [](void* context, HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
            auto& record = *static_cast<decltype(call)*>(context);
            record = {text, caption, type, record.calls + 1};
            return IDCANCEL;
        },
        &call);
    EXPECT_EQ(MessageBoxW(nullptr, L"Port: 3\n\u00e9", L"Application Error", MB_ICONERROR), IDCANCEL);
    Platform_SetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(call.calls, 1);
    EXPECT_EQ(call.text, L"Port: 3\n\u00e9");
    EXPECT_EQ(call.caption, L"Application Error");
    EXPECT_EQ(call.type, MB_ICONERROR);

    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxW(nullptr, L"Something \u00e9 failed", L"Application Error", MB_OK), IDOK);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(call.calls, 1);  // the handler is gone
    EXPECT_NE(err.find("Application Error"), std::string::npos);
    EXPECT_NE(err.find("Something \xc3\xa9 failed"), std::string::npos);
}

}  // namespace
