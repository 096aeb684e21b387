#include "service_record.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

namespace yuming::user_service {

QString homeFolder() {
    const QString home = qEnvironmentVariable("HOME");
    return home.isEmpty() ? QDir::homePath() : home;
}

QString runtimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) return runtime + QStringLiteral("/yuming");
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache)) cache = homeFolder() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/yuming/run");
}

QString dataFolder() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) data = homeFolder() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/yuming");
}

bool makePrivateFolder(const QString& folder) {
    if (!QDir().mkpath(folder)) return false;
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return true;
}

QByteArray formatRecord(const Record& record) {
    return record.host.toUtf8() + ':' + QByteArray::number(record.port) + '\n' +
           QByteArray::number(record.pid) + '\n' +
           (record.token.isEmpty() ? QByteArray() : record.token + '\n');
}

namespace {

bool isToken(const QByteArray& line) {
    return line.size() == 64 && std::all_of(line.begin(), line.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

std::optional<Record> parseRecord(QByteArrayView text) {
    const QList<QByteArray> lines = text.toByteArray().split('\n');
    if (lines.size() < 2) return std::nullopt;
    const QByteArray& address = lines[0];
    const qsizetype colon = address.lastIndexOf(':');
    if (colon <= 0) return std::nullopt;
    bool portOk = false;
    bool pidOk = false;
    Record record{QString::fromUtf8(address.first(colon)), 0, lines[1].toLongLong(&pidOk), {}};
    const uint port = address.mid(colon + 1).toUInt(&portOk);
    if (!portOk || !pidOk || port == 0 || port > 65535 || record.pid <= 0) return std::nullopt;
    record.port = static_cast<quint16>(port);
    // A third line that is no token is not taken for one: the record is then read as an older one.
    if (lines.size() > 2 && isToken(lines[2])) record.token = lines[2];
    return record;
}

qint64 lockHolder(const QString& lockPath) {
    const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool asked = ::fcntl(fd, F_GETLK, &lock) == 0;
    ::close(fd);
    return asked && lock.l_type != F_UNLCK ? lock.l_pid : 0;
}

int takeLock(const QString& lockPath) {
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
