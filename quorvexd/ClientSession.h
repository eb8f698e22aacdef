// One network client of quorvexd: its socket, the lines it sends (LF or
// CR LF ended, at most 4 KiB; a longer one earns -363 and is dropped), its
// commands run one after another in the order sent, the query replies of a
// line joined by ';' into one LF-ended reply line, its error queue and the
// operations it started that have not ended yet (*OPC? and *WAI wait for
// those).
//
// Ownership and threads: owned by the server (a Qt child, deleted later
// when the connection ends) and used on the server's thread only. What a
// command does is the command runner's business; a command that waits for
// an instrument completes through a callable that holds a QPointer to the
// session, so a session that went meanwhile is never touched.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

#include "ErrorQueue.h"
#include "InstrumentHub.h"
#include "ScpiParser.h"

class QTcpSocket;

namespace quorvexd {

class CClientSession;

// Runs one parsed command for a session and calls `complete` once it has
// ended (at once, or later on the server's thread).
class ICommandRunner {
public:
    virtual ~ICommandRunner() = default;
    virtual void Execute(CClientSession& session, const scpi::Command& command,
                         std::function<void(const Outcome&)> complete) = 0;
};

class CClientSession : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kLineLimit = 4096;
    // Lines read ahead of the one running.
    static constexpr std::size_t kQueuedLines = 256;

    CClientSession(QTcpSocket* socket, int id, ICommandRunner& runner, QObject* parent = nullptr);
    ~CClientSession() override;

    int Id() const { return m_id; }
    // "127.0.0.1:50312", "[::1]:50312".
    const std::string& Peer() const { return m_peer; }
    scpi::CErrorQueue& Errors() { return m_errors; }

    // An operation (a move, a ramp, a download) this client started; the
    // returned callable ends it (its error, if any, goes to the queue).
    std::function<void(const Outcome&)> BeginOperation();
    int OperationsRunning() const { return m_operations; }
    // *OPC? and *WAI: `then` runs once no operation of this client runs.
    void AfterOperations(std::function<void()> then);

    void Close();

signals:
    void Closed(int id);

private:
    void OnReadyRead();
    void TakeLine(std::string line);
    void Pump();
    void Finish(const scpi::Command& command, const Outcome& outcome);

    QTcpSocket* m_socket;  // child
    int m_id;
    std::string m_peer;
    ICommandRunner& m_runner;
    scpi::CErrorQueue m_errors;
    std::string m_partial;
    bool m_discarding = false;  // the rest of an overlong line
    std::deque<std::string> m_lines;
    std::vector<scpi::Command> m_commands;  // of the line being run
    std::size_t m_next = 0;
    std::vector<std::string> m_replies;
    bool m_waiting = false;    // a command has not completed yet
    bool m_executing = false;  // inside the runner's Execute
    int m_operations = 0;
    std::vector<std::function<void()>> m_afterOperations;
    bool m_closed = false;
};

}  // namespace quorvexd
