// Version text of the program. QV_FILE_VERSION comes from the CMake project
// version, so the About box always shows what was built.
#include "Version.h"

#include <cwctype>

#ifndef QV_FILE_VERSION
#error "QV_FILE_VERSION must be defined by the build"
#endif

#define QV_WIDEN2(x) L##x
#define QV_WIDEN(x) QV_WIDEN2(x)

std::wstring GetFileVersion() { return QV_WIDEN(QV_FILE_VERSION); }

std::wstring VersionTextFromFileVersion(std::wstring fileVersion) {
    while (!fileVersion.empty() && std::iswspace(fileVersion.back())) fileVersion.pop_back();
    const auto dot = fileVersion.rfind(L'.');
    if (dot == std::wstring::npos) return {};
    return fileVersion.substr(0, dot);
}

std::wstring GetVersionString() {
    static const std::wstring version = VersionTextFromFileVersion(GetFileVersion());
    return version;
}
