// SIGTERM, SIGINT and SIGHUP as a Qt signal on the server's thread, read
// through a signalfd, so that quorvexd stops through its ordinary path
// (ramp down, unlock, disconnect) and not in a signal handler.
//
// Block must run on the main thread before any other thread starts, so that
// every thread inherits the mask. The watch is owned by main and lives on
// its thread; the notifier is its child.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace quorvexd {

class CStopSignals : public QObject {
    Q_OBJECT
public:
    static void Block();

    explicit CStopSignals(QObject* parent = nullptr);
    ~CStopSignals() override;

signals:
    void Stop(int signal);

private:
    void OnReadable();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace quorvexd
