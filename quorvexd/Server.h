// quorvexd's network side: the listening sockets, who may connect (the
// allow list, at most 32 clients at once), the client sessions, and the
// program log's entries for connections and refusals.
//
// Ownership and threads: created, used and destroyed on the thread that
// runs the Qt event loop; owns its listeners and sessions (Qt children).
// The command runner is the server's; the hub it serves from is the
// caller's and must outlive the server's event processing.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QHostAddress>
#include <QObject>

#include "CommandRunner.h"

class QTcpServer;

namespace quorvexd {

struct ListenAddress {
    QHostAddress address;
    quint16 port = 5025;
};

struct ServerOptions {
    std::vector<ListenAddress> listen;                    // none: 127.0.0.1:5025
    std::vector<std::pair<QHostAddress, int>> allow;      // none: everyone who reaches a listener
    bool readOnly = false;
};

class CServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 32;
    using Log = std::function<void(int severity, const std::wstring& message)>;

    CServer(const ServerOptions& options, CInstrumentHub& hub, Log log, QObject* parent = nullptr);
    ~CServer() override;

    // Opens every listener; false (with `error` saying which and why) when
    // one cannot be opened.
    bool Listen(std::string& error);
    // "127.0.0.1:5025" of each listener, with the port the system chose
    // for port 0.
    std::vector<std::string> Addresses() const;
    // Stops listening and closes every session.
    void Stop();

    bool Allowed(const QHostAddress& address) const;

private:
    void OnNewConnection(QTcpServer* listener);
    void OnClosed(int id);

    ServerOptions m_options;
    Log m_log;
    CCommandRunner m_runner;
    std::vector<QTcpServer*> m_listeners;  // children
    std::map<int, CClientSession*> m_sessions;  // children
    int m_nextId = 1;
};

}  // namespace quorvexd
