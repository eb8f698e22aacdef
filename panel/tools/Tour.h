// The program's headless tour (`--tour DIR`): once the main window is up it
// drives the window's own commands, dialogs and mouse handlers through a
// working session (connect, ramp up, pick 630 nm, choose an aperture, read
// the diagnostics, ramp down, disconnect), saves a picture after each step
// into DIR and prints one line per step to standard output. Then it closes
// the window, which runs the normal shutdown.
//
// Ownership and threads: created by main() beside the application object
// and outliving its event loop; everything runs on the GUI thread. Waiting
// is done by running the event loop (never by blocking it), because the
// sequences' dialogs are opened on this thread by the connection worker and
// run modally inside the commands; every wait has a time limit. No
// instrument is called from here: the commands hand their work to the
// controller's and the view's own workers.
#pragma once

#include <chrono>
#include <functional>

#include <QDir>
#include <QObject>
#include <QString>

class CMainFrame;
class QWidget;

class CTour : public QObject {
    Q_OBJECT
public:
    // `folder` is created if needed; `limit` bounds every single wait.
    explicit CTour(const QString& folder, std::chrono::milliseconds limit = std::chrono::seconds(60),
                   QObject* parent = nullptr);

    // Queues the tour to start once the event loop runs (after the
    // application has shown its main window).
    void Schedule();
    // After the event loop has ended: true when every step succeeded.
    bool Succeeded() const { return m_bSucceeded; }

private:
    void Run();
    bool Steps();
    bool Connect();
    bool RampUp();
    bool Pick630();
    bool ChooseAperture();
    bool Information();
    bool RampDown();
    bool Disconnect();
    // After a failure: waits for a running sequence, then disconnects.
    void CleanUp();

    // Runs the event loop until `done` holds or the limit passes; a message
    // box that opens meanwhile is closed and counts as a failure.
    bool WaitFor(const std::function<bool()>& done, const QString& what);
    // Saves the picture and prints the step's line.
    bool Report(const QString& what, QWidget& shown, const QString& name);
    bool Fail(const QString& what);
    CMainFrame& Frame() const;

    QDir m_dir;
    std::chrono::milliseconds m_limit;
    int m_nStep = 0;
    bool m_bSucceeded = false;
    QString m_strBoxText;  // what a message box said, when one came up
};
