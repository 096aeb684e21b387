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

std::optional<WatchedName> watchedName(const QJsonObject& json) {
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

// Each item of the array at `key`, read by `read`; nothing when there is no such array or an
// item is not one.
template <class T, class Read>
std::optional<QList<T>> eachOf(const QJsonObject& json, const char* key, Read read) {
    const QJsonValue value = json.value(QLatin1String(key));
    if (!value.isArray()) return std::nullopt;
    const QJsonArray items = value.toArray();
    QList<T> list;
    list.reserve(items.size());
    for (const QJsonValue& item : items) {
        std::optional<T> one = read(item.toObject());
        if (!one) return std::nullopt;
        list.append(std::move(*one));
    }
    return list;
}

} // namespace

std::optional<WatchList> readWatchList(const QJsonObject& json) {
    auto names = eachOf<WatchedName>(json, "names", watchedName);
    if (!names) return std::nullopt;
    return WatchList{timeOf(json.value(QLatin1String("now"))), std::move(*names)};
}

std::optional<QList<CheckedName>> readChecks(const QJsonObject& json) {
    return eachOf<CheckedName>(json, "checked", [](const QJsonObject& item) -> std::optional<CheckedName> {
        CheckedName name{textOf(item, "name"), item.value(QLatin1String("changed")).toBool(),
                         textOf(item, "from"), textOf(item, "to"), textOf(item, "error")};
        if (name.name.isEmpty()) return std::nullopt;
        return name;
    });
}

std::optional<QList<StatusChange>> readHistory(const QJsonObject& json) {
    return eachOf<StatusChange>(json, "changes", [](const QJsonObject& item) {
        return std::optional<StatusChange>(
            StatusChange{timeOf(item.value(QLatin1String("at"))), textOf(item, "from"), textOf(item, "to")});
    });
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
