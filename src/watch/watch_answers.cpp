#include "watch/watch_answers.h"

#include <QJsonArray>
#include <QJsonValue>

namespace yuming::watch {
namespace {

QDateTime timeOf(const QJsonValue& value) {
    if (!value.isString()) return {};
    return QDateTime::fromString(value.toString(), Qt::ISODate).toUTC();
}

QString textOf(const QJsonObject& json, const char* key) {
    return json.value(QLatin1String(key)).toString();
}

std::optional<qint64> countOf(const QJsonObject& json, const char* key) {
    const QJsonValue value = json.value(QLatin1String(key));
    if (!value.isDouble()) return std::nullopt;
    return value.toInteger();
}

std::optional<WatchedName> watchedName(const QJsonValue& value) {
    const QJsonObject json = value.toObject();
    WatchedName watched{textOf(json, "name"),
                        textOf(json, "status"),
                        timeOf(json.value(QLatin1String("expiry"))),
                        timeOf(json.value(QLatin1String("deletion"))),
                        textOf(json, "basis"),
                        countOf(json, "secondsLeft"),
                        timeOf(json.value(QLatin1String("checkedAt")))};
    if (watched.name.isEmpty() || watched.status.isEmpty()) return std::nullopt;
    return watched;
}

QJsonArray arrayOf(const QJsonObject& json, const char* key, bool& ok) {
    const QJsonValue value = json.value(QLatin1String(key));
    ok = value.isArray();
    return value.toArray();
}

} // namespace

std::optional<WatchList> readWatchList(const QJsonObject& json) {
    bool ok = false;
    const QJsonArray names = arrayOf(json, "names", ok);
    if (!ok) return std::nullopt;
    WatchList list{timeOf(json.value(QLatin1String("now"))), {}};
    list.names.reserve(names.size());
    for (const QJsonValue& value : names) {
        auto watched = watchedName(value);
        if (!watched) return std::nullopt;
        list.names.append(std::move(*watched));
    }
    return list;
}

std::optional<QList<CheckedName>> readChecks(const QJsonObject& json) {
    bool ok = false;
    const QJsonArray checked = arrayOf(json, "checked", ok);
    if (!ok) return std::nullopt;
    QList<CheckedName> list;
    for (const QJsonValue& value : checked) {
        const QJsonObject item = value.toObject();
        CheckedName name{textOf(item, "name"), item.value(QLatin1String("changed")).toBool(),
                         textOf(item, "from"), textOf(item, "to"), textOf(item, "error")};
        if (name.name.isEmpty()) return std::nullopt;
        list.append(std::move(name));
    }
    return list;
}

std::optional<QList<StatusChange>> readHistory(const QJsonObject& json) {
    bool ok = false;
    const QJsonArray changes = arrayOf(json, "changes", ok);
    if (!ok) return std::nullopt;
    QList<StatusChange> list;
    for (const QJsonValue& value : changes) {
        const QJsonObject item = value.toObject();
        list.append({timeOf(item.value(QLatin1String("at"))), textOf(item, "from"), textOf(item, "to")});
    }
    return list;
}

std::optional<AddCount> readAdded(const QJsonObject& json) {
    const auto added = countOf(json, "added");
    const auto already = countOf(json, "already");
    if (!added || !already) return std::nullopt;
    return AddCount{*added, *already};
}

std::optional<qint64> readRemoved(const QJsonObject& json) {
    return countOf(json, "removed");
}

QStringList readBadNames(const QJsonObject& json) {
    QStringList bad;
    for (const QJsonValue& value : json.value(QLatin1String("bad")).toArray())
        bad.append(value.toString());
    return bad;
}

QString isoUtc(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")) : QString();
}

} // namespace yuming::watch
