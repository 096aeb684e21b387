#pragma once

// How the tool and this user's own yuming-service find each other. The service holds a write
// lock on a lock file for as long as it runs (the kernel drops it when the process ends, however
// it ends) and, once it listens, records its address in a file beside it. A record counts only
// while its lock is held, so a record left by a service that died is recognised as stale.

#include <QByteArray>
#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <fcntl.h>
#include <unistd.h>

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

inline QString homeFolder() {
    const QString home = qEnvironmentVariable("HOME");
    return home.isEmpty() ? QDir::homePath() : home;
}

// The user's runtime folder (XDG_RUNTIME_DIR/yuming); without one, a folder in the user's cache.
inline QString runtimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) return runtime + QStringLiteral("/yuming");
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache)) cache = homeFolder() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/yuming/run");
}

// The user's data folder (XDG_DATA_HOME/yuming): the service's database and its log.
inline QString dataFolder() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) data = homeFolder() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/yuming");
}

// Creates `folder` and its parents; the last one is the user's alone.
inline bool makePrivateFolder(const QString& folder) {
    if (!QDir().mkpath(folder)) return false;
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return true;
}

struct Record {
    QString host;
    quint16 port = 0;
    qint64 pid = 0;
};

// "HOST:PORT\nPID\n"
inline QByteArray formatRecord(const Record& record) {
    return record.host.toUtf8() + ':' + QByteArray::number(record.port) + '\n' + QByteArray::number(record.pid) +
           '\n';
}

inline std::optional<Record> parseRecord(QByteArrayView text) {
    const QList<QByteArray> lines = text.toByteArray().split('\n');
    if (lines.size() < 2) return std::nullopt;
    const QByteArray& address = lines[0];
    const qsizetype colon = address.lastIndexOf(':');
    if (colon <= 0) return std::nullopt;
    bool portOk = false;
    bool pidOk = false;
    Record record{QString::fromUtf8(address.first(colon)), 0, lines[1].toLongLong(&pidOk)};
    const uint port = address.mid(colon + 1).toUInt(&portOk);
    if (!portOk || !pidOk || port == 0 || port > 65535 || record.pid <= 0) return std::nullopt;
    record.port = static_cast<quint16>(port);
    return record;
}

// The pid of the process that holds the write lock on `lockPath`, 0 when nobody does. Only
// looks: the lock is never taken, so looking cannot get in the way of a service starting.
inline qint64 lockHolder(const QString& lockPath) {
    const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool asked = ::fcntl(fd, F_GETLK, &lock) == 0;
    ::close(fd);
    return asked && lock.l_type != F_UNLCK ? lock.l_pid : 0;
}

// Takes the write lock on `lockPath` for the life of the process: returns the open descriptor
// (kept open; closing it drops the lock), or -1 when another process holds it or the file
// cannot be opened.
inline int takeLock(const QString& lockPath) {
    const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace yuming::user_service
