#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace yuming::watch {

// One request of the service's watch API, as a value: what the client sends and how long the
// answer may take.
struct WatchCall {
    enum class Method { Get, Post };
    Method method = Method::Get;
    QString path;    // with its query, if any
    QByteArray body; // JSON, for a POST
    int timeoutMs = 30'000;

    static WatchCall list();
    static WatchCall add(const QStringList& names);
    static WatchCall remove(const QStringList& names);
    // No names: every watched name.
    static WatchCall check(const QStringList& names);
    static WatchCall history(const QString& name);
};

} // namespace yuming::watch
