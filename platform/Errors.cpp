// Per-thread last error, errno mapping and the FormatMessageW stand-in.
#include "platform/Handles_p.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

// Windows system texts for the codes the system meets.
const wchar_t* SystemText(DWORD code) {
    switch (code) {
    case 0: return L"The operation completed successfully.";
    case 1: return L"Incorrect function.";
    case 2: return L"The system cannot find the file specified.";
    case 3: return L"The system cannot find the path specified.";
    case 4: return L"The system cannot open the file.";
    case 5: return L"Access is denied.";
    case 6: return L"The handle is invalid.";
    case 8: return L"Not enough memory resources are available to process this command.";
    case 13: return L"The data is invalid.";
    case 24: return L"The program issued a command but the command length is incorrect.";
    case 29: return L"The system cannot write to the specified device.";
    case 30: return L"The system cannot read from the specified device.";
    case 31: return L"A device attached to the system is not functioning.";
    case 32:
        return L"The process cannot access the file because it is being used by another process.";
    case 80: return L"The file exists.";
    case 87: return L"The parameter is incorrect.";
    case 112: return L"There is not enough space on the disk.";
    case 121: return L"The semaphore timeout period has expired.";
    case 122: return L"The data area passed to a system call is too small.";
    case 161: return L"The specified path is invalid.";
    case 183: return L"Cannot create a file when that file already exists.";
    case 206: return L"The filename or extension is too long.";
    case 234: return L"More data is available.";
    case 258: return L"The wait operation timed out.";
    case 995:
        return L"The I/O operation has been aborted because of either a thread exit or an "
               L"application request.";
    case 997: return L"Overlapped I/O operation is in progress.";
    case 1113:
        return L"No mapping for the Unicode character exists in the target multi-byte code page.";
    case 1167: return L"The device is not connected.";
    default: return nullptr;
    }
}

}  // namespace

namespace platform::detail {

DWORD ErrnoToWin32(int error) {
    switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EROFS:
    case EWOULDBLOCK:  // a lock held elsewhere
        return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP: return ERROR_BAD_PATHNAME;
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case EINTR:
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    case EIO:
    case ENXIO:
    case ENODEV: return ERROR_DEVICE_NOT_CONNECTED;
    case ENOSPC: return 112;     // ERROR_DISK_FULL
    case ENOTTY: return 1;       // ERROR_INVALID_FUNCTION
    case EMFILE:
    case ENFILE: return 4;       // ERROR_TOO_MANY_OPEN_FILES
    case EILSEQ: return 1113;    // ERROR_NO_UNICODE_TRANSLATION
    default: return ERROR_GEN_FAILURE;
    }
}

void SetLastErrorFromErrno(int error) { t_lastError = ErrnoToWin32(error); }

}  // namespace platform::detail

extern "C" {

DWORD GetLastError(void) { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                     LPWSTR buffer, DWORD size, void* arguments) {
    (void)source;
    (void)languageId;
    (void)arguments;
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring text;
    if (const wchar_t* known = SystemText(messageId))
        text = known;
    else
        text = platform::FormatW(L"Unknown error %u (0x%08X).", messageId, messageId);
    text += L"\r\n";
    const DWORD length = static_cast<DWORD>(text.size());

    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // `buffer` is really an LPWSTR*; at least `size` characters are allocated.
        const size_t chars = std::max<size_t>(length + 1, size);
        auto* memory = static_cast<wchar_t*>(std::calloc(chars, sizeof(wchar_t)));
        if (!memory) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::wmemcpy(memory, text.c_str(), length + 1);
        *reinterpret_cast<LPWSTR*>(buffer) = memory;
        return length;
    }
    if (size < length + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(buffer, text.c_str(), length + 1);
    return length;
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}

}  // extern "C"
