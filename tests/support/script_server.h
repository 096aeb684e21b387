#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A loopback HTTP server for tests that answers every connection with a script of byte-level
// steps: send these bytes, wait, close, or stall forever. It records the exact request bytes
// each connection sent, so tests can pin both directions of the exchange.
class ScriptServer : public QObject {
    Q_OBJECT
public:
    struct Step {
        enum class Kind { Send, Wait, Close, Stall };
        Kind kind = Kind::Send;
        QByteArray bytes;
        int ms = 0;
    };
    static Step send(QByteArray bytes) { return {Step::Kind::Send, std::move(bytes), 0}; }
    static Step wait(int ms) { return {Step::Kind::Wait, {}, ms}; }
    static Step close() { return {Step::Kind::Close, {}, 0}; }
    static Step stall() { return {Step::Kind::Stall, {}, 0}; }
    // `bytes` in pieces of `size` bytes with a pause between them, so they arrive as blocks.
    static QList<Step> split(const QByteArray& bytes, qsizetype size, int pauseMs = 2);
    // `bytes` cut in two at `offset`.
    static QList<Step> splitAt(const QByteArray& bytes, qsizetype offset, int pauseMs = 5);
    // A whole HTTP answer: status line, headers, the body, then close or keep open.
    static QByteArray httpAnswer(const QByteArray& body, int status = 200, bool chunked = false,
                                 qsizetype chunkSize = 0);

    explicit ScriptServer(QObject* parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    // Every new connection plays this script once its request head has arrived.
    void setScript(QList<Step> steps) { m_script = std::move(steps); }
    // Answer as soon as the connection is accepted, without waiting for the request.
    void setAnswerOnConnect(bool on) { m_onConnect = on; }

    const QList<QByteArray>& requests() const { return m_requests; }
    int connections() const { return m_connections; }
    // Connections the other side has not closed yet.
    int openConnections() const { return m_open; }

    // A port on loopback where nothing listens: connections to it are refused.
    static quint16 closedPort();

    // A loopback listener whose accept queue is already full, so a further connection is never
    // completed. Closes its sockets when destroyed.
    class Unaccepted {
    public:
        Unaccepted();
        ~Unaccepted();
        Unaccepted(const Unaccepted&) = delete;
        Unaccepted& operator=(const Unaccepted&) = delete;
        quint16 port() const { return m_port; }

    private:
        int m_listener = -1;
        QList<int> m_clients;
        quint16 m_port = 0;
    };

Q_SIGNALS:
    void requestReceived(const QByteArray& request);
    void scriptFinished();

private:
    void onNewConnection();
    void play(QPointer<QTcpSocket> socket, qsizetype step);

    QTcpServer m_server;
    QList<Step> m_script;
    QList<QByteArray> m_requests;
    int m_connections = 0;
    int m_open = 0;
    bool m_onConnect = false;
};
