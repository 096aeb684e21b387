#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace yuming::watch {

// A watched name as the service last saw it. Times are UTC; an absent one is null (invalid).
struct WatchedName {
    QString name; // in its ASCII form
    QString status;
    QDateTime expiry;
    QDateTime deletion;
    QString basis; // of the deletion estimate; empty when there is none
    std::optional<qint64> secondsLeft;
    QDateTime checkedAt;
};

struct WatchList {
    QDateTime now;
    QList<WatchedName> names;
};

struct CheckedName {
    QString name;
    bool changed = false;
    QString from, to;
    QString error; // empty when the check was answered
};

struct StatusChange {
    QDateTime at;
    QString from, to;
};

// The answers' objects as values: nullopt when an answer lacks what it must hold.
std::optional<WatchList> readWatchList(const QJsonObject& json);
std::optional<QList<CheckedName>> readChecks(const QJsonObject& json);
std::optional<QList<StatusChange>> readHistory(const QJsonObject& json);

struct AddCount {
    qint64 added = 0;
    qint64 already = 0;
};
std::optional<AddCount> readAdded(const QJsonObject& json);
std::optional<qint64> readRemoved(const QJsonObject& json);
// The names a refused add names as bad.
QStringList readBadNames(const QJsonObject& json);

// "2026-12-15T03:00:00Z", as the service writes its times.
QString isoUtc(const QDateTime& time);

} // namespace yuming::watch
