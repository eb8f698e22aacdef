// Entry point of the Quorvex Control Panel.
#include "QuorvexControlPanelApp.h"
#include "TerminationSignals.h"

int main(int argc, char** argv) {
    CQuorvexControlPanelApp app(argc, argv);
    // A signal closes the windows like the user would, so the normal
    // shutdown runs.
    CTerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &CTerminationSignals::Terminate, &app,
                     &QApplication::closeAllWindows, Qt::QueuedConnection);
    return app.Run();
}
