#include "watch/watch_call.h"

#include "protocol/watch_paths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace yuming::watch {
namespace {

QString apiPath(std::string_view at) {
    return QString::fromLatin1(at.data(), qsizetype(at.size()));
}

QByteArray namesBody(const QStringList& names) {
    return QJsonDocument(QJsonObject{{QStringLiteral("names"), QJsonArray::fromStringList(names)}})
        .toJson(QJsonDocument::Compact);
}

WatchCall post(std::string_view at, const QStringList& names, int timeoutMs = 30'000) {
    return {WatchCall::Method::Post, apiPath(at), namesBody(names), timeoutMs};
}

} // namespace

WatchCall WatchCall::list() {
    return {Method::Get, apiPath(watch_paths::kList), {}};
}

WatchCall WatchCall::add(const QStringList& names) {
    return post(watch_paths::kAdd, names);
}

WatchCall WatchCall::remove(const QStringList& names) {
    return post(watch_paths::kRemove, names);
}

// The service answers a check once every name is done, or after its own bound of a minute with
// what is done by then; this waits a little longer than that.
WatchCall WatchCall::check(const QStringList& names) {
    return post(watch_paths::kCheck, names, 90'000);
}

WatchCall WatchCall::history(const QString& name) {
    return {Method::Get,
            apiPath(watch_paths::kHistory) + QStringLiteral("?name=") +
                QString::fromLatin1(QUrl::toPercentEncoding(name)),
            {}};
}

} // namespace yuming::watch
