// Shows the platform layer's message boxes (MessageBoxW) as Qt dialogs on
// the GUI thread.
#pragma once

namespace messageboxhandler {

// Routes MessageBoxW through the port-error gate to a QMessageBox. A call
// from another thread waits until the user has closed the box on the GUI
// thread; a port error (one per port and loss) is shown without an owner
// and returns at once.
void Install();
// Back to the platform's default (standard error).
void Uninstall();

}  // namespace messageboxhandler
