// Entry point of the Quorvex Control Panel. `--tour DIR` runs the program's
// headless tour (see Tour.h) and exits with its result.
#include <memory>

#include <QCommandLineParser>

#include "QuorvexControlPanelApp.h"
#include "TerminationSignals.h"
#include "Tour.h"

int main(int argc, char** argv) {
    CQuorvexControlPanelApp app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Quorvex Control Panel"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption tourOption(
        QStringLiteral("tour"),
        QStringLiteral("Drive the program through connect, ramp up, a pick, an aperture move, the "
                       "diagnostics, ramp down and disconnect, saving a picture of each step in <dir>."),
        QStringLiteral("dir"));
    parser.addOption(tourOption);
    parser.process(app);  // exits on --help, --version and unknown options

    std::unique_ptr<CTour> tour;
    if (parser.isSet(tourOption)) {
        tour = std::make_unique<CTour>(parser.value(tourOption));
        tour->Schedule();
    }

    // A signal closes the windows like the user would, so the normal
    // shutdown runs.
    CTerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &CTerminationSignals::Terminate, &app,
                     &QApplication::closeAllWindows, Qt::QueuedConnection);
    const int code = app.Run();
    if (code == 0 && tour && !tour->Succeeded()) return 1;
    return code;
}
