#include "support/script_server.h"

#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

QList<ScriptServer::Step> ScriptServer::split(const QByteArray& bytes, qsizetype size, int pauseMs) {
    QList<Step> steps;
    for (qsizetype at = 0; at < bytes.size(); at += size) {
        if (at > 0) steps.append(wait(pauseMs));
        steps.append(send(bytes.mid(at, size)));
    }
    return steps;
}

QList<ScriptServer::Step> ScriptServer::splitAt(const QByteArray& bytes, qsizetype offset, int pauseMs) {
    return {send(bytes.first(offset)), wait(pauseMs), send(bytes.mid(offset))};
}

QByteArray ScriptServer::httpAnswer(const QByteArray& body, int status, bool chunked, qsizetype chunkSize) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Error") +
                      "\r\nContent-Type: text/html; charset=gbk\r\n";
    if (!chunked) return head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    QByteArray out = head + "Transfer-Encoding: chunked\r\n\r\n";
    const qsizetype step = chunkSize > 0 ? chunkSize : body.size();
    for (qsizetype at = 0; at < body.size(); at += step) {
        const QByteArray part = body.mid(at, step);
        out += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
    }
    return out + "0\r\n\r\n";
}

ScriptServer::ScriptServer(QObject* parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

quint16 ScriptServer::closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void ScriptServer::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++m_connections;
        ++m_open;
        connect(socket, &QTcpSocket::disconnected, this, [this] { --m_open; });
        const qsizetype index = m_requests.size();
        m_requests.append(QByteArray());
        QPointer<QTcpSocket> guarded(socket);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto started = std::make_shared<bool>(m_onConnect);
        connect(socket, &QTcpSocket::readyRead, this, [this, guarded, index, started] {
            if (!guarded) return;
            m_requests[index] += guarded->readAll();
            if (*started || !m_requests[index].contains("\r\n\r\n")) return;
            *started = true;
            Q_EMIT requestReceived(m_requests[index]);
            play(guarded, 0);
        });
        if (m_onConnect) play(guarded, 0);
    }
}

void ScriptServer::play(QPointer<QTcpSocket> socket, qsizetype step) {
    for (; socket && step < m_script.size(); ++step) {
        const Step& s = m_script[step];
        switch (s.kind) {
        case Step::Kind::Send:
            socket->write(s.bytes);
            socket->flush();
            break;
        case Step::Kind::Wait:
            QTimer::singleShot(s.ms, this, [this, socket, step] { play(socket, step + 1); });
            return;
        case Step::Kind::Close:
            socket->disconnectFromHost();
            Q_EMIT scriptFinished();
            return;
        case Step::Kind::Stall:
            Q_EMIT scriptFinished();
            return;
        }
    }
    Q_EMIT scriptFinished();
}

ScriptServer::Unaccepted::Unaccepted() {
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(m_listener, 0) != 0)
        return;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    // With a backlog of 0 the kernel queues one connection; two more make sure the queue is
    // full, after which new handshakes are dropped and connecting never completes.
    for (int i = 0; i < 3; ++i) {
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        m_clients.append(client);
    }
}

ScriptServer::Unaccepted::~Unaccepted() {
    for (int client : m_clients)
        ::close(client);
    if (m_listener >= 0) ::close(m_listener);
}
