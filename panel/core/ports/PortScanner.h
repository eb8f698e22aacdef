// The settings sheet's port scans, apart from any widget: listing the
// present COM ports, and Auto Detect, which lists them and tries each for
// the three instruments. Both block on the ports for seconds, so they run
// on the scanner's worker and report back by signals on the owner's thread.
//
// Ownership and threads: created, asked and destroyed on the GUI thread,
// whose event loop delivers the signals. One scan runs at a time: a listing
// asked for while one runs is run once more after it, and Auto Detect is
// refused while any scan runs or waits. The destructor cancels a running
// scan and joins the worker, so nothing a scan reaches goes while it runs.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "AutoDetect.h"
#include "PortDiscovery.h"
#include "Worker.h"

class CPortScanner : public QObject {
    Q_OBJECT
public:
    explicit CPortScanner(QObject* parent = nullptr);
    ~CPortScanner() override;

    // Lists the present ports; PortsFound follows.
    void Discover();
    // Lists the ports and tries them; Progress reports and Detected follows.
    // False, starting nothing, while a scan runs or waits.
    bool StartAutoDetect(const SerialPortSettingsStruct& head, const SerialPortSettingsStruct& supply,
                         const SerialPortSettingsStruct& counter);
    // Asks a running Auto Detect to stop soon; its Progress reports stop.
    void CancelAutoDetect() { m_cancelDetect = true; }

    bool Busy() const { return m_worker.Busy(); }
    // A listing runs, or will run again: more PortsFound are to come.
    bool Discovering() const { return m_listings > 0; }

signals:
    void PortsFound(const std::vector<portdiscovery::PortInfo>& ports);
    // `what` names the try about to start; `total` is the most tries there can be.
    void Progress(int done, int total, const QString& what);
    // cancelled: the scan may have stopped part way, so `ports` may be short.
    void Detected(const std::vector<portdiscovery::PortInfo>& ports, const autodetect::Ports& found,
                  bool cancelled);

private:
    void StartListing();
    void OnFinished(const QVariant& result);

    int m_listings = 0;        // GUI thread: listings running or asked for
    bool m_bRelist = false;    // GUI thread: a listing was asked for while one ran
    // Set by the destructor (and by CancelAutoDetect) so that a scan ends soon.
    std::atomic<bool> m_cancelListing{false};
    std::atomic<bool> m_cancelDetect{false};
    CWorker m_worker;  // last: joined before the flags its scans read go
};
