#include "support/watch_api_server.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <memory>

namespace {

WatchApiServer::Answer json(int status, const QJsonObject& object) {
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

WatchApiServer::Answer error(int status, const QString& text) {
    return json(status, {{QStringLiteral("error"), text}});
}

// Whole requests at the front of `buffer`, taken off it.
std::optional<WatchApiServer::Request> takeRequest(QByteArray& buffer) {
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) return std::nullopt;
    const QList<QByteArray> lines = buffer.first(headEnd).split('\n');
    const QList<QByteArray> start = lines[0].trimmed().split(' ');
    WatchApiServer::Request request{start.value(0), start.value(1), {}, {}};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0) request.headers[lines[i].first(colon).toLower()] = lines[i].mid(colon + 1).trimmed();
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() < headEnd + 4 + length) return std::nullopt;
    request.body = buffer.mid(headEnd + 4, length);
    buffer.remove(0, headEnd + 4 + length);
    return request;
}

} // namespace

QJsonObject WatchApiServer::Request::json() const {
    return QJsonDocument::fromJson(body).object();
}

WatchApiServer::WatchApiServer(QByteArray token, QObject* parent)
    : QObject(parent), m_token(std::move(token)) {
    connect(&m_server, &QTcpServer::newConnection, this, &WatchApiServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

QJsonObject WatchApiServer::fresh(const QString& name) {
    return {{"name", name},
            {"status", "unknown"},
            {"expiry", QJsonValue::Null},
            {"deletion", QJsonValue::Null},
            {"basis", QJsonValue::Null},
            {"secondsLeft", QJsonValue::Null},
            {"checkedAt", QJsonValue::Null},
            {"nextCheck", "2026-12-09T19:00:00Z"},
            {"addedAt", "2026-12-09T19:00:00Z"}};
}

QJsonObject WatchApiServer::pendingDelete(const QString& name) {
    return {{"name", name},
            {"status", "pending-delete"},
            {"expiry", "2026-10-01T12:00:00Z"},
            {"deletion", "2026-12-15T03:00:00Z"},
            {"basis", "pending-delete"},
            {"secondsLeft", 442800},
            {"checkedAt", "2026-12-09T18:50:00Z"},
            {"nextCheck", "2026-12-09T19:00:00Z"},
            {"addedAt", "2026-12-01T08:00:00Z"}};
}

void WatchApiServer::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            while (const auto request = takeRequest(*buffer)) {
                m_requests.append(*request);
                const Answer a = override ? override(*request).value_or(answer(*request)) : answer(*request);
                socket->write("HTTP/1.1 " + QByteArray::number(a.status) +
                              " X\r\nContent-Type: application/json\r\nContent-Length: " +
                              QByteArray::number(a.body.size()) + "\r\n\r\n" + a.body);
            }
        });
    }
}

WatchApiServer::Answer WatchApiServer::answer(const Request& request) {
    const QByteArray host = request.headers.value("host");
    const QByteArray port = QByteArray::number(this->port());
    if (host != "127.0.0.1:" + port && host != "localhost:" + port) return error(403, "foreign Host");
    if (request.headers.value("authorization") != "Bearer " + m_token) return error(401, "no or wrong token");
    const QUrl url(QString::fromLatin1(request.target));
    const QString path = url.path();
    if (request.method == "GET" && path == "/api/watch") {
        QJsonArray names;
        for (const QJsonObject& w : std::as_const(watched))
            names.append(w);
        return json(200, {{"now", "2026-12-09T19:00:00Z"}, {"names", names}});
    }
    if (request.method == "GET" && path == "/api/watch/history") {
        const QString name = QUrlQuery(url).queryItemValue("name", QUrl::FullyDecoded);
        if (!watched.contains(name)) return error(404, name + " is not watched");
        return json(200, {{"name", name}, {"changes", history.value(name)}});
    }
    if (request.method != "POST") return error(404, "no such page");
    if (request.headers.value("content-type") != "application/json") return error(400, "not JSON");
    const QJsonDocument document = QJsonDocument::fromJson(request.body);
    if (!document.isObject()) return error(400, "malformed JSON");
    const QJsonArray names = document.object().value("names").toArray();
    if (path == "/api/watch/add") return add(names);
    if (path == "/api/watch/remove") {
        int removed = 0;
        for (const QJsonValue& name : names)
            removed += watched.remove(name.toString());
        return json(200, {{"removed", removed}});
    }
    if (path == "/api/watch/check") {
        QJsonArray checked;
        QStringList asked = names.isEmpty() ? watched.keys() : QStringList();
        for (const QJsonValue& name : names)
            asked.append(name.toString());
        for (const QString& name : asked) {
            if (!watched.contains(name)) continue;
            const QString status = watched[name].value("status").toString();
            checked.append(checks.value(name, {{"name", name},
                                               {"changed", false},
                                               {"from", status},
                                               {"to", status},
                                               {"error", QJsonValue::Null}}));
        }
        return json(200, {{"checked", checked}});
    }
    return error(404, "no such page");
}

WatchApiServer::Answer WatchApiServer::add(const QJsonArray& names) {
    if (names.size() > 10000) return error(400, "more than 10000 names");
    static const QRegularExpression domain("^([a-z0-9-]+\\.)+(com|net|org)$");
    QStringList ascii, bad;
    for (const QJsonValue& value : names) {
        const QString name = QString::fromLatin1(QUrl::toAce(value.toString()));
        (domain.match(name).hasMatch() ? ascii : bad).append(name.isEmpty() ? value.toString() : name);
    }
    if (!bad.isEmpty())
        return json(400,
                    {{"error", "not a domain of a served suffix"}, {"bad", QJsonArray::fromStringList(bad)}});
    int added = 0;
    for (const QString& name : ascii) {
        if (watched.contains(name)) continue;
        watched[name] = fresh(name);
        ++added;
    }
    return json(200, {{"added", added}, {"already", ascii.size() - added}});
}
