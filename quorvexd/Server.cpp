// Accepting, refusing and closing network clients.
#include "Server.h"

#include <QTcpServer>
#include <QTcpSocket>

#include "serial/DriverLog.h"

namespace quorvexd {

namespace {

std::wstring W(const std::string& text) { return QString::fromStdString(text).toStdWString(); }

QHostAddress Unmapped(const QHostAddress& address) {
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4) : address;
}

std::string HostPort(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address.toString() + "]"
                                                                              : address.toString();
    return (host + ":" + QString::number(port)).toStdString();
}

}  // namespace

CServer::CServer(const ServerOptions& options, CInstrumentHub& hub, Log log, QObject* parent)
    : QObject(parent), m_options(options), m_log(log), m_runner(hub, options.readOnly, log) {
    if (m_options.listen.empty()) m_options.listen.push_back({QHostAddress(QHostAddress::LocalHost), 5025});
}

CServer::~CServer() { Stop(); }

bool CServer::Listen(std::string& error) {
    for (const ListenAddress& at : m_options.listen) {
        auto* listener = new QTcpServer(this);
        // The refusals are ours to make and log, after accepting.
        listener->setMaxPendingConnections(kMaxClients + 8);
        if (!listener->listen(at.address, at.port)) {
            error = HostPort(at.address, at.port) + ": " + listener->errorString().toStdString();
            delete listener;
            return false;
        }
        connect(listener, &QTcpServer::newConnection, this, [this, listener] { OnNewConnection(listener); });
        m_listeners.push_back(listener);
        m_log(driverlog::Informational,
              L"Listening on " + W(HostPort(listener->serverAddress(), listener->serverPort())));
    }
    return true;
}

std::vector<std::string> CServer::Addresses() const {
    std::vector<std::string> addresses;
    for (const QTcpServer* listener : m_listeners)
        addresses.push_back(HostPort(listener->serverAddress(), listener->serverPort()));
    return addresses;
}

bool CServer::Allowed(const QHostAddress& address) const {
    if (m_options.allow.empty()) return true;
    const QHostAddress peer = Unmapped(address);
    for (const auto& subnet : m_options.allow)
        if (peer.isInSubnet(subnet)) return true;
    return false;
}

void CServer::OnNewConnection(QTcpServer* listener) {
    while (QTcpSocket* socket = listener->nextPendingConnection()) {
        const std::string peer = HostPort(Unmapped(socket->peerAddress()), socket->peerPort());
        std::string refusal;
        if (!Allowed(socket->peerAddress()))
            refusal = "not in the allow list";
        else if (static_cast<int>(m_sessions.size()) >= kMaxClients)
            refusal = std::to_string(kMaxClients) + " clients are connected already";
        if (!refusal.empty()) {
            m_log(driverlog::Warning, L"Refused a connection from " + W(peer) + L": " + W(refusal));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const int id = m_nextId++;
        auto* session = new CClientSession(socket, id, m_runner, this);
        m_sessions[id] = session;
        connect(session, &CClientSession::Closed, this, &CServer::OnClosed);
        m_log(driverlog::Informational, L"Client " + W(session->Peer()) + L" connected (" +
                                            std::to_wstring(m_sessions.size()) + L" of " +
                                            std::to_wstring(kMaxClients) + L")");
    }
}

void CServer::OnClosed(int id) {
    const auto found = m_sessions.find(id);
    if (found == m_sessions.end()) return;
    const int holder = m_runner.LockHolder();
    m_runner.ClientGone(id);
    m_log(driverlog::Informational, L"Client " + W(found->second->Peer()) + L" disconnected" +
                                        (holder == id ? L", releasing the control lock" : L""));
    m_sessions.erase(found);
}

void CServer::Stop() {
    for (QTcpServer* listener : m_listeners) listener->close();
    // Closing a session erases it from the map.
    while (!m_sessions.empty()) m_sessions.begin()->second->Close();
}

}  // namespace quorvexd
