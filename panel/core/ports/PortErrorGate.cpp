// The port-error gate (see PortErrorGate.h).
#include "PortErrorGate.h"

#include <mutex>
#include <set>

#include "platform/win32.h"

namespace porterrors {

namespace {

constexpr std::wstring_view kCaption = L"Application Error";
constexpr std::wstring_view kLead = L"WARNING:  ";
constexpr std::wstring_view kFailed = L" Failed with the following error: \n";
constexpr std::wstring_view kPort = L"\nPort: ";

struct Gate {
    std::mutex mutex;  // reported, presenter
    std::set<int> reported;
    Presenter presenter;
    std::mutex listenerMutex;
    Listener listener;
};

Gate& TheGate() {
    static Gate gate;
    return gate;
}

std::wstring Trimmed(std::wstring_view text) {
    const auto first = text.find_first_not_of(L" \r\n\t");
    if (first == std::wstring_view::npos) return {};
    const auto last = text.find_last_not_of(L" \r\n\t");
    return std::wstring(text.substr(first, last - first + 1));
}

int Route(void*, HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    Gate& gate = TheGate();
    Box box{text ? text : L"", caption ? caption : L"", type, false};
    const std::optional<PortError> error = Parse(box.caption, box.text);
    Presenter presenter;
    {
        std::lock_guard lock(gate.mutex);
        if (error && !gate.reported.insert(error->port).second) return IDOK;  // this loss was shown
        presenter = gate.presenter;
    }
    if (error) {
        box.portError = true;
        std::lock_guard lock(gate.listenerMutex);
        if (gate.listener) gate.listener(*error);
    }
    return presenter ? presenter(box) : IDOK;
}

}  // namespace

std::optional<PortError> Parse(std::wstring_view caption, std::wstring_view text) {
    if (caption != kCaption || text.substr(0, kLead.size()) != kLead) return std::nullopt;
    const auto failed = text.find(kFailed);
    const auto port = text.rfind(kPort);
    if (failed == std::wstring_view::npos || port == std::wstring_view::npos || port < failed) return std::nullopt;
    int number = 0;
    std::size_t digits = port + kPort.size();
    const std::size_t start = digits;
    for (; digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9' && number < 100000; ++digits)
        number = number * 10 + (text[digits] - L'0');
    if (digits == start) return std::nullopt;
    PortError error;
    error.port = number;
    error.operation = std::wstring(text.substr(kLead.size(), failed - kLead.size()));
    const auto system = failed + kFailed.size();
    error.systemText = Trimmed(text.substr(system, port - system));
    return error;
}

void Install(Presenter presenter) {
    {
        std::lock_guard lock(TheGate().mutex);
        TheGate().presenter = std::move(presenter);
    }
    Platform_SetMessageBoxHandler(&Route, nullptr);
}

void Uninstall() {
    Platform_SetMessageBoxHandler(nullptr, nullptr);
    std::lock_guard lock(TheGate().mutex);
    TheGate().presenter = nullptr;
}

void Arm(int port) {
    std::lock_guard lock(TheGate().mutex);
    TheGate().reported.erase(port);
}

void SetListener(Listener listener) {
    std::lock_guard lock(TheGate().listenerMutex);
    TheGate().listener = std::move(listener);
}

}  // namespace porterrors
