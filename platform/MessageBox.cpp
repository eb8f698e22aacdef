// MessageBoxW: the installed handler, else standard error.
#include "platform/Handles_p.h"
#include "platform/text.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::mutex g_mutex;
PLATFORM_MESSAGEBOX_HANDLER g_handler = nullptr;
void* g_context = nullptr;

}  // namespace

extern "C" {

void Platform_SetMessageBoxHandler(PLATFORM_MESSAGEBOX_HANDLER handler, void* context) {
    std::lock_guard lock(g_mutex);
    g_handler = handler;
    g_context = context;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    PLATFORM_MESSAGEBOX_HANDLER handler;
    void* context;
    {
        std::lock_guard lock(g_mutex);
        handler = g_handler;
        context = g_context;
    }
    // The handler may block for as long as the dialog is open: not under the lock.
    if (handler) return handler(context, owner, text, caption, type);

    std::string out = platform::ToUtf8(caption ? caption : L"Error");
    out += ":\n";
    out += platform::ToUtf8(text ? text : L"");
    if (out.empty() || out.back() != '\n') out += '\n';
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
    return IDOK;
}

}  // extern "C"
