// The port listings and Auto Detect on the scanner's worker.
#include "PortScanner.h"

#include <utility>

namespace {

struct Listing {
    std::vector<portdiscovery::PortInfo> ports;
};

struct Detection {
    std::vector<portdiscovery::PortInfo> ports;
    autodetect::Ports found;
};

}  // namespace

CPortScanner::CPortScanner(QObject* parent) : QObject(parent) {
    connect(&m_worker, &CWorker::Finished, this, &CPortScanner::OnFinished);
}

CPortScanner::~CPortScanner() {
    m_cancelListing = true;
    m_cancelDetect = true;
}

void CPortScanner::Discover() {
    if (m_listings > 0) {
        m_bRelist = true;
        return;
    }
    StartListing();
}

void CPortScanner::StartListing() {
    ++m_listings;
    m_worker.Request([this] { return QVariant::fromValue(Listing{portdiscovery::Discover(&m_cancelListing)}); });
}

bool CPortScanner::StartAutoDetect(const SerialPortSettingsStruct& head, const SerialPortSettingsStruct& supply,
                                   const SerialPortSettingsStruct& counter) {
    if (m_worker.Busy()) return false;
    m_cancelDetect = false;
    return m_worker.Request([this, head, supply, counter] {
        Detection detection;
        detection.ports = portdiscovery::Discover(&m_cancelDetect);
        const auto progressed = [this](int done, int total, const std::string& what) {
            m_worker.Report([this, done, total, text = QString::fromStdString(what)] {
                if (!m_cancelDetect) emit Progress(done, total, text);
            });
        };
        detection.found = autodetect::Detect(detection.ports, head, supply, counter, progressed, m_cancelDetect);
        return QVariant::fromValue(std::move(detection));
    });
}

void CPortScanner::OnFinished(const QVariant& result) {
    if (result.metaType() == QMetaType::fromType<Detection>()) {
        const auto detection = result.value<Detection>();
        emit Detected(detection.ports, detection.found, m_cancelDetect);
        return;
    }
    --m_listings;
    // The next listing starts before this one is reported, so that a
    // receiver sees Discovering() still true.
    if (m_bRelist) {
        m_bRelist = false;
        StartListing();
    }
    emit PortsFound(result.value<Listing>().ports);
}
