// A client's line framing, command order and replies.
#include "ClientSession.h"

#include <QTcpSocket>

#include <cstring>

namespace quorvexd {

namespace {

std::string PeerText(const QTcpSocket& socket) {
    QHostAddress address = socket.peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped) address = QHostAddress(v4);
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address.toString() + "]"
                                                                              : address.toString();
    return (host + ":" + QString::number(socket.peerPort())).toStdString();
}

}  // namespace

CClientSession::CClientSession(QTcpSocket* socket, int id, ICommandRunner& runner, QObject* parent)
    : QObject(parent), m_socket(socket), m_id(id), m_peer(PeerText(*socket)), m_runner(runner) {
    socket->setParent(this);
    // Replies are small and awaited: no coalescing delay.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setReadBufferSize(64 * 1024);
    connect(socket, &QTcpSocket::readyRead, this, &CClientSession::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &CClientSession::Close);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) { Close(); });
}

CClientSession::~CClientSession() = default;

void CClientSession::Close() {
    if (m_closed) return;
    m_closed = true;
    m_socket->abort();
    emit Closed(m_id);
    deleteLater();
}

void CClientSession::OnReadyRead() {
    // A client that sends faster than its commands run waits in its own
    // socket buffers, not in the server's memory.
    if (m_closed || m_lines.size() >= kQueuedLines) return;
    const QByteArray bytes = m_socket->readAll();
    std::size_t start = 0;
    const std::size_t size = static_cast<std::size_t>(bytes.size());
    while (start < size) {
        const char* data = bytes.constData() + start;
        const void* lf = std::memchr(data, '\n', size - start);
        const std::size_t length = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : size - start;
        if (!m_discarding) m_partial.append(data, length);
        if (!m_discarding && m_partial.size() > kLineLimit) {
            // Refused once, at the moment it overflows; the rest up to its
            // LF is dropped unread.
            m_errors.Push(scpi::code::kInputBufferOverrun, "a line is longer than 4096 bytes");
            m_partial.clear();
            m_discarding = true;
        }
        if (!lf) break;
        if (m_discarding)
            m_discarding = false;
        else
            TakeLine(std::move(m_partial));
        m_partial.clear();
        start += length + 1;
    }
    Pump();
}

void CClientSession::TakeLine(std::string line) { m_lines.push_back(std::move(line)); }

void CClientSession::Pump() {
    while (!m_closed && !m_waiting) {
        if (m_next < m_commands.size()) {
            const scpi::Command& command = m_commands[m_next++];
            if (command.error != scpi::code::kNoError) {
                m_errors.Push(command.error, command.detail);
                continue;
            }
            m_waiting = true;
            m_executing = true;
            QPointer<CClientSession> self(this);
            const std::size_t index = m_next - 1;
            m_runner.Execute(*this, command, [self, index](const Outcome& outcome) {
                if (!self) return;
                self->m_waiting = false;
                self->Finish(self->m_commands[index], outcome);
                // A command that completed at once returns into the loop.
                if (!self->m_executing) self->Pump();
            });
            m_executing = false;
            if (m_waiting) return;
            continue;
        }
        if (!m_replies.empty()) {
            std::string reply;
            for (std::size_t i = 0; i < m_replies.size(); ++i) reply += (i ? ";" : "") + m_replies[i];
            reply.push_back('\n');
            m_socket->write(reply.data(), static_cast<qint64>(reply.size()));
            // Now, not on the next pass of the event loop: the client waits for it.
            m_socket->flush();
            m_replies.clear();
        }
        m_commands.clear();
        m_next = 0;
        if (m_lines.empty()) {
            // Input left unread while the queue was full.
            if (m_socket->bytesAvailable() > 0)
                QMetaObject::invokeMethod(this, &CClientSession::OnReadyRead, Qt::QueuedConnection);
            return;
        }
        m_commands = scpi::ParseLine(m_lines.front());
        m_lines.pop_front();
    }
}

void CClientSession::Finish(const scpi::Command& command, const Outcome& outcome) {
    if (outcome.error != scpi::code::kNoError) {
        m_errors.Push(outcome.error, outcome.detail);
        return;
    }
    if (command.query) m_replies.push_back(outcome.reply);
}

std::function<void(const Outcome&)> CClientSession::BeginOperation() {
    ++m_operations;
    QPointer<CClientSession> self(this);
    return [self](const Outcome& outcome) {
        if (!self) return;
        if (outcome.error != scpi::code::kNoError) self->m_errors.Push(outcome.error, outcome.detail);
        if (--self->m_operations > 0) return;
        std::vector<std::function<void()>> waiting;
        waiting.swap(self->m_afterOperations);
        for (const auto& then : waiting) then();
    };
}

void CClientSession::AfterOperations(std::function<void()> then) {
    if (m_operations == 0)
        then();
    else
        m_afterOperations.push_back(std::move(then));
}

}  // namespace quorvexd
