// Turns SIGINT and SIGTERM (Ctrl-C, a session ending, the demo script
// stopping the program) into an ordinary close of the program's windows, so
// shutdown still disconnects the instruments and saves the settings.
#pragma once

#include <QObject>

class QSocketNotifier;

class CTerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit CTerminationSignals(QObject* parent = nullptr);
    ~CTerminationSignals() override;

signals:
    void Terminate();

private:
    void OnSignalled();

    QSocketNotifier* m_pNotifier = nullptr;
};
