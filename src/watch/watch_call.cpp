#include "watch/watch_call.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace yuming::watch {
namespace {

QByteArray namesBody(const QStringList& names) {
    return QJsonDocument(QJsonObject{{QStringLiteral("names"), QJsonArray::fromStringList(names)}})
        .toJson(QJsonDocument::Compact);
}

WatchCall post(const char* path, const QStringList& names, int timeoutMs = 30'000) {
    return {WatchCall::Method::Post, QString::fromLatin1(path), namesBody(names), timeoutMs};
}

} // namespace

WatchCall WatchCall::list() {
    return {Method::Get, QStringLiteral("/api/watch"), {}};
}

WatchCall WatchCall::add(const QStringList& names) {
    return post("/api/watch/add", names);
}

WatchCall WatchCall::remove(const QStringList& names) {
    return post("/api/watch/remove", names);
}

// The service answers a check once every name is done, or after its own bound of a minute with
// what is done by then; this waits a little longer than that.
WatchCall WatchCall::check(const QStringList& names) {
    return post("/api/watch/check", names, 90'000);
}

WatchCall WatchCall::history(const QString& name) {
    return {Method::Get,
            QStringLiteral("/api/watch/history?name=") + QString::fromLatin1(QUrl::toPercentEncoding(name)),
            {}};
}

} // namespace yuming::watch
