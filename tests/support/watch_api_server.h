#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>

#include <functional>
#include <optional>

// A loopback server that speaks the service's watch API from a list in memory: the token, the
// Host rule, JSON bodies, 401/400/403/404 with {"error": ...}. It records every request whole so
// a test can check the headers and the JSON the client sent.
class WatchApiServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method, target;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        QJsonObject json() const;
    };
    struct Answer {
        int status = 200;
        QByteArray body;
    };

    explicit WatchApiServer(QByteArray token, QObject* parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    const QList<Request>& requests() const { return m_requests; }

    // The watched names by name, each a WATCHED object as the list answers it.
    QMap<QString, QJsonObject> watched;
    // A name's status changes, oldest first.
    QMap<QString, QJsonArray> history;
    // What a check answers for a name; unset names are answered unchanged.
    QMap<QString, QJsonObject> checks;
    // Answers instead of the API when it returns one.
    std::function<std::optional<Answer>(const Request&)> override;

    // A watched name with nothing known about it yet, as an add makes it.
    static QJsonObject fresh(const QString& name);
    // One checked and found in pending delete, its drop 2026-12-15 03:00 UTC.
    static QJsonObject pendingDelete(const QString& name);

private:
    void onNewConnection();
    Answer answer(const Request& request);
    Answer add(const QJsonArray& names);

    QTcpServer m_server;
    QByteArray m_token;
    QList<Request> m_requests;
};
