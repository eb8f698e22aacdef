// Path joining, the data folder and log folder creation.
#include "AppPaths.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <QStandardPaths>
#include <QString>

#include "platform/text.h"

namespace apppaths {

std::wstring JoinFile(const std::wstring& first, const std::wstring& second) {
    std::wstring path = first;
    if (path.empty() || path.back() != L'/') path += L'/';
    return path + second;
}

std::wstring JoinFolder(const std::wstring& first, const std::wstring& second) {
    std::wstring path = JoinFile(first, second);
    if (path.back() != L'/') path += L'/';
    return path;
}

bool GetApplicationDataFolder(std::wstring& folder) {
    const QString location = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (location.isEmpty()) return false;
    folder = location.toStdWString();
    return true;
}

std::wstring DataFolder(const std::wstring& applicationDataFolder) {
    return JoinFolder(applicationDataFolder, L"Vandrel Scientific Ltd/Quorvex Control Panel");
}

std::wstring LogFileName(const SYSTEMTIME& utc) {
    return platform::FormatW(L"%04d-%02d-%02d_%02d-%02d-%02d_SystemLog.log", utc.wYear, utc.wMonth,
                             utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
}

DWORD CreateFolderTree(const std::wstring& folder) {
    const std::filesystem::path path(platform::ToUtf8(folder));
    if (!path.is_absolute()) return ERROR_BAD_PATHNAME;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return ERROR_ALREADY_EXISTS;
    std::filesystem::create_directories(path, ec);
    if (!ec) return ERROR_SUCCESS;
    switch (ec.value()) {
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EEXIST: return ERROR_FILE_EXISTS;
        case EACCES:
        case EPERM:
        case EROFS: return ERROR_ACCESS_DENIED;
        case ENOTDIR:
        case ENOENT: return ERROR_PATH_NOT_FOUND;
        default: return ERROR_GEN_FAILURE;
    }
}

}  // namespace apppaths
