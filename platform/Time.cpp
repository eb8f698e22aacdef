// System time in UTC; FILETIME counts 100 ns intervals since 1601-01-01.
#include "platform/Handles_p.h"

#include <cstdint>
#include <ctime>

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

void ToFileTime(uint64_t ticks, LPFILETIME fileTime) {
    fileTime->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

}  // namespace

extern "C" {

void GetSystemTime(LPSYSTEMTIME systemTime) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts;
    gmtime_r(&now.tv_sec, &parts);
    systemTime->wYear = static_cast<WORD>(parts.tm_year + 1900);
    systemTime->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    systemTime->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    systemTime->wDay = static_cast<WORD>(parts.tm_mday);
    systemTime->wHour = static_cast<WORD>(parts.tm_hour);
    systemTime->wMinute = static_cast<WORD>(parts.tm_min);
    systemTime->wSecond = static_cast<WORD>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    systemTime->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME fileTime) {
    if (!st || !fileTime || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 ||
        st->wMonth > 12 || st->wDay < 1 || st->wDay > DaysInMonth(st->wYear, st->wMonth) ||
        st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t days = DaysFromCivil(st->wYear, st->wMonth, st->wDay);
    const int64_t seconds =
        days * 86400 + st->wHour * 3600 + st->wMinute * 60 + st->wSecond + kEpochDifference;
    ToFileTime(static_cast<uint64_t>(seconds) * kTicksPerSecond +
                   static_cast<uint64_t>(st->wMilliseconds) * 10000u,
               fileTime);
    return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME fileTime) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    ToFileTime(static_cast<uint64_t>(now.tv_sec + kEpochDifference) * kTicksPerSecond +
                   static_cast<uint64_t>(now.tv_nsec) / 100u,
               fileTime);
}

}  // extern "C"
