// How often a person sees the transport's port-error boxes in the program:
// once per port and loss, not once per failed call. A port whose device
// has gone fails every read and write the drivers try on it; the first
// failure is shown and handed to the listener (the connection controller,
// which ends the session), the rest are dropped until the port is armed
// again by the next connect. Every other message box goes to the presenter
// unchanged.
//
// Ownership and threads: process-wide state, as MessageBoxW is. Install,
// Uninstall and SetListener are called by their owners (the program's
// message-box handler, the controller, tests) on any thread; the routing
// runs on whichever thread calls MessageBoxW, mostly a port's service
// thread. The listener is called under the gate's listener lock and must
// only hand the error on (post it), never wait; SetListener returns only
// when no call of the listener it replaces runs any more.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace porterrors {

struct PortError {
    int port = 0;              // n of COMn
    std::wstring operation;    // "ReadFile()", "WriteFile()", ...
    std::wstring systemText;   // the system's text for the error, trimmed
};

// The transport's box: caption "Application Error", text "WARNING:  <operation>
// Failed with the following error: \n<system text>\nPort: <n>\n". Anything
// else is not a port error.
std::optional<PortError> Parse(std::wstring_view caption, std::wstring_view text);

// What a box is shown with. A port error is shown without an owner and
// without waiting: it must not block the window nor the thread that met it.
struct Box {
    std::wstring text;
    std::wstring caption;
    unsigned type = 0;
    bool portError = false;
};
using Presenter = std::function<int(const Box& box)>;
using Listener = std::function<void(const PortError& error)>;

// Routes MessageBoxW through the gate to `presenter`.
void Install(Presenter presenter);
// Back to the platform's default (standard error).
void Uninstall();

// The port is about to be used afresh: its next failure is reported again.
void Arm(int port);

void SetListener(Listener listener);

}  // namespace porterrors
