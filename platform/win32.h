/* The subset of the Win32 API that the drivers and the control panel are
 * written against, provided on Linux by libquorvex-platform.so.
 *
 * Every function keeps its Win32 name, arguments and results. Handles come
 * from one process-wide table, so an event made by the program can be passed
 * into any driver library and signalled there; a handle that was closed or
 * never issued fails the call with ERROR_INVALID_HANDLE instead of touching
 * freed memory. The serial device layer at the end is our own: the transport
 * is written on descriptors and poll rather than on overlapped I/O. */
#ifndef PLATFORM_WIN32_H
#define PLATFORM_WIN32_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#if defined(PLATFORM_BUILDING)
#define PLATFORM_API __attribute__((visibility("default")))
#else
#define PLATFORM_API
#endif

#define WINAPI
#define CALLBACK

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Types ---------------------------------------------------------- */
typedef void* HANDLE;
typedef void* HWND;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPSECURITY_ATTRIBUTES;
typedef void* HLOCAL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;

typedef union _ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    uint64_t QuadPart;
} ULARGE_INTEGER;

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

/* ---- Constants ------------------------------------------------------ */
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64u
#define STILL_ACTIVE 259u

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_WRITE_FAULT 29u
#define ERROR_READ_FAULT 30u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_SEM_TIMEOUT 121u
#define ERROR_BAD_PATHNAME 161u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_MORE_DATA 234u
#define ERROR_OPERATION_ABORTED 995u
#define ERROR_IO_PENDING 997u
#define ERROR_DEVICE_NOT_CONNECTED 1167u

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_YESNO 0x00000004u
#define MB_ICONERROR 0x00000010u
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#define CP_UTF8 65001u

/* ---- Errors --------------------------------------------------------- */
PLATFORM_API DWORD GetLastError(void);
PLATFORM_API void SetLastError(DWORD code);
/* FORMAT_MESSAGE_FROM_SYSTEM only. With FORMAT_MESSAGE_ALLOCATE_BUFFER,
 * `buffer` is really an LPWSTR* that receives a LocalAlloc'ed text. The text
 * ends with CR LF like the Windows system texts. */
PLATFORM_API DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId,
                                  DWORD languageId, LPWSTR buffer, DWORD size,
                                  void* arguments);
PLATFORM_API HLOCAL LocalFree(HLOCAL memory);

/* ---- Handles, events and waits --------------------------------------- */
PLATFORM_API HANDLE CreateEvent(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                BOOL initialState, LPCWSTR name);
PLATFORM_API BOOL SetEvent(HANDLE event);
PLATFORM_API BOOL ResetEvent(HANDLE event);
PLATFORM_API BOOL CloseHandle(HANDLE handle);
PLATFORM_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
/* waitAll must be FALSE. Returns WAIT_OBJECT_0 + the lowest signalled index;
 * an auto-reset event is consumed only by the wait that it wakes. */
PLATFORM_API DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                          DWORD milliseconds);

/* ---- Threads -------------------------------------------------------- */
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
/* The handle becomes signalled when the thread ends. Closing it does not stop
 * the thread. */
PLATFORM_API HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, size_t stackSize,
                                 LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                 DWORD* threadId);
PLATFORM_API BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
PLATFORM_API DWORD GetCurrentThreadId(void);
PLATFORM_API void Sleep(DWORD milliseconds);

/* ---- Critical sections (recursive, as on Windows) ------------------- */
typedef struct _CRITICAL_SECTION {
    void* impl;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;
PLATFORM_API void InitializeCriticalSection(LPCRITICAL_SECTION section);
PLATFORM_API void EnterCriticalSection(LPCRITICAL_SECTION section);
PLATFORM_API void LeaveCriticalSection(LPCRITICAL_SECTION section);
PLATFORM_API void DeleteCriticalSection(LPCRITICAL_SECTION section);

/* ---- Time (UTC; FILETIME counts 100 ns since 1601-01-01) ------------ */
PLATFORM_API void GetSystemTime(LPSYSTEMTIME systemTime);
PLATFORM_API BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime);
PLATFORM_API void GetSystemTimeAsFileTime(LPFILETIME fileTime);

/* ---- Message boxes -------------------------------------------------- */
/* The program installs a handler (the control panel shows a dialog on its
 * GUI thread and blocks the caller until it is closed). With none installed
 * MessageBoxW writes caption and text to standard error and returns IDOK. */
typedef int (*PLATFORM_MESSAGEBOX_HANDLER)(void* context, HWND owner, LPCWSTR text,
                                           LPCWSTR caption, UINT type);
PLATFORM_API void Platform_SetMessageBoxHandler(PLATFORM_MESSAGEBOX_HANDLER handler,
                                                void* context);
PLATFORM_API int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

/* ---- Private profile (ini) files ------------------------------------ */
/* Windows layout: [section] headers and key=value lines, UTF-8. New sections
 * and keys are appended in the order they are created; existing ones are
 * rewritten in place. A null key removes the section, a null value the key.
 * GetPrivateProfileStringW with a null section lists the section names, with
 * a null key the section's keys (each NUL-terminated, list ends with a second
 * NUL). A write whose section, key or value holds a line break, whose
 * section holds ']' or whose key holds '=' (or would read back as a header
 * or comment) fails with ERROR_INVALID_PARAMETER and leaves the file alone. */
PLATFORM_API DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue,
                                            LPWSTR returned, DWORD size, LPCWSTR fileName);
PLATFORM_API BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value,
                                             LPCWSTR fileName);
/* Bytes as upper-case hexadecimal pairs followed by one checksum byte (the
 * sum of the bytes modulo 256); the read fails unless size and checksum
 * match. */
PLATFORM_API BOOL GetPrivateProfileStructW(LPCWSTR section, LPCWSTR key, LPVOID data, UINT size,
                                           LPCWSTR fileName);
PLATFORM_API BOOL WritePrivateProfileStructW(LPCWSTR section, LPCWSTR key, LPCVOID data,
                                             UINT size, LPCWSTR fileName);

/* ---- Text conversion (CP_UTF8 only) --------------------------------- */
PLATFORM_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength,
                                     LPSTR narrow, int narrowSize, LPCSTR defaultChar,
                                     BOOL* usedDefault);
PLATFORM_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR narrow,
                                     int narrowLength, LPWSTR wide, int wideSize);

/* ---- Serial devices -------------------------------------------------- */
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

/* Flow-control codes of the instruments' settings. */
#define SERIAL_FLOW_NONE 0
#define SERIAL_FLOW_CTS_RTS 1
#define SERIAL_FLOW_CTS_DTR 2
#define SERIAL_FLOW_DSR_RTS 3
#define SERIAL_FLOW_DSR_DTR 4
#define SERIAL_FLOW_XON_XOFF 5

/* Fills `path` with the device that COM<port> names: the first that exists
 * of $XDG_CONFIG_HOME/Vandrel Scientific Ltd/ports/COM<port> (XDG_CONFIG_HOME
 * defaults to ~/.config), else /dev/ttyS<port-1>. Returns FALSE with
 * ERROR_FILE_NOT_FOUND when neither exists (the path of the config-folder
 * entry is still filled in), ERROR_INSUFFICIENT_BUFFER when it does not fit. */
PLATFORM_API BOOL Serial_ResolvePort(UINT port, char* path, DWORD size);
/* TRUE when COM<port> resolves to an existing device (the settings page's
 * port list). */
PLATFORM_API BOOL Serial_PortExists(UINT port);
/* Opens COM<port> for reading and writing, exclusively, without making it
 * the controlling terminal. Returns NULL with ERROR_FILE_NOT_FOUND (no such
 * device), ERROR_ACCESS_DENIED (already open here or in another process),
 * ERROR_INVALID_HANDLE (not a terminal: a plain file, /dev/zero, ...; nothing
 * is written to it) or another code. Close with CloseHandle. */
PLATFORM_API HANDLE Serial_Open(UINT port);
/* Raw mode, baud (any rate), data bits 7/8, parity NOPARITY..SPACEPARITY,
 * stop bits ONESTOPBIT..TWOSTOPBITS (1.5 taken as 2), flow-control code
 * SERIAL_FLOW_*. DTR is asserted. FALSE with ERROR_INVALID_PARAMETER for a
 * value outside those ranges (nothing changed), or the failing call's code. */
PLATFORM_API BOOL Serial_Configure(HANDLE port, DWORD baud, int parity, int dataBits,
                                   int stopBits, int flowControl);
/* Discards unread input and unsent output. */
PLATFORM_API BOOL Serial_Purge(HANDLE port);
/* Writes all bytes, waiting at most `milliseconds` for the device to take
 * them (and, with DSR flow control, for DSR). FALSE with ERROR_SEM_TIMEOUT
 * when time ran out (*written tells how much went out). */
PLATFORM_API BOOL Serial_Write(HANDLE port, const void* data, DWORD length, DWORD* written,
                               DWORD milliseconds);
/* Waits until one of the events is signalled, the port has bytes to read, or
 * the time runs out. Events are checked before the port, in order: returns
 * WAIT_OBJECT_0 + i for event i (consuming an auto-reset event), WAIT_OBJECT_0
 * + count when the port is readable, WAIT_TIMEOUT, or WAIT_FAILED. A port
 * whose device has gone away reports readable once, so that the next read
 * reports the loss; after that it is left out of the wait. */
PLATFORM_API DWORD Serial_Wait(HANDLE port, DWORD count, const HANDLE* events,
                               DWORD milliseconds);
/* Reads what is available now, up to `size` bytes, without blocking;
 * *read may be 0. FALSE with ERROR_DEVICE_NOT_CONNECTED once the device has
 * gone away. */
PLATFORM_API BOOL Serial_Read(HANDLE port, void* buffer, DWORD size, DWORD* read);

#ifdef __cplusplus
}
#endif

#endif
