#pragma once

// How the tool and this user's own yuming-service find each other. The service holds a write
// lock on a lock file for as long as it runs (the kernel drops it when the process ends, however
// it ends) and, once it listens, records its address in a file beside it. A record counts only
// while its lock is held, so a record left by a service that died is recognised as stale.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace yuming::user_service {

inline constexpr char kRecordName[] = "service";
inline constexpr char kLockName[] = "service.lock";
inline constexpr char kDatabaseName[] = "service.sqlite";
inline constexpr char kLogName[] = "service.log";
// The option that makes yuming-service this user's own service.
inline constexpr char kUserOption[] = "--user";
// The option that names the file the service keeps its log in (rotated by the service itself).
inline constexpr char kLogOption[] = "--log";
// A user's service that has answered nothing for this long goes away by itself.
inline constexpr int kIdleExitSeconds = 30 * 60;

// $HOME, or where Qt finds the home folder without it.
QString homeFolder();

// The user's runtime folder (XDG_RUNTIME_DIR/yuming); without one, a folder in the user's cache.
QString runtimeFolder();

// The user's data folder (XDG_DATA_HOME/yuming): the service's database and its log.
QString dataFolder();

// Creates `folder` and its parents; the last one is the user's alone.
bool makePrivateFolder(const QString& folder);

struct Record {
    QString host;
    quint16 port = 0;
    qint64 pid = 0;
    // The secret a watchlist request must carry: 64 lower-case hex digits. Empty in a record
    // written by a service from before the watchlist.
    QByteArray token;
};

// "HOST:PORT\nPID\n", and "TOKEN\n" after them when there is one.
QByteArray formatRecord(const Record& record);

std::optional<Record> parseRecord(QByteArrayView text);

// The pid of the process that holds the write lock on `lockPath`, 0 when nobody does. Only
// looks: the lock is never taken, so looking cannot get in the way of a service starting.
qint64 lockHolder(const QString& lockPath);

// Takes the write lock on `lockPath` for the life of the process: returns the open descriptor
// (kept open; closing it drops the lock), or -1 when another process holds it or the file
// cannot be opened.
int takeLock(const QString& lockPath);

} // namespace yuming::user_service
