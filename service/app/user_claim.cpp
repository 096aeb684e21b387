#include "app/user_claim.h"

#include "service_record.h"

#include <QFile>
#include <QSaveFile>

#include <iostream>
#include <unistd.h>

namespace yuming::service {

UserClaim::~UserClaim() {
    withdraw();
    if (m_lock >= 0) ::close(m_lock);
}

UserClaim::Outcome UserClaim::take() {
    const QString folder = user_service::runtimeFolder();
    m_record = folder + u'/' + QLatin1String(user_service::kRecordName);
    const QString lockPath = folder + u'/' + QLatin1String(user_service::kLockName);
    if (!user_service::makePrivateFolder(folder)) {
        std::cerr << "yuming-service: cannot create " << folder.toStdString() << '\n';
        return Outcome::Failed;
    }
    m_lock = user_service::takeLock(lockPath);
    if (m_lock >= 0) {
        // A record here was left by a service that died; with the lock taken it would pass
        // for this one's until publish(), and a tool would call on a port nobody serves.
        QFile::remove(m_record);
        return Outcome::Taken;
    }
    const qint64 holder = user_service::lockHolder(lockPath);
    if (holder <= 0) {
        std::cerr << "yuming-service: cannot lock " << lockPath.toStdString() << '\n';
        return Outcome::Failed;
    }
    std::cerr << "yuming-service: this user's service is already running (pid " << holder << ")";
    QFile record(m_record);
    if (record.open(QIODevice::ReadOnly))
        if (const auto published = user_service::parseRecord(record.read(256)))
            std::cerr << " on " << published->host.toStdString() << ':' << published->port;
    std::cerr << '\n';
    return Outcome::Held;
}

bool UserClaim::publish(const std::string& host, int port, const std::string& token) {
    QSaveFile file(m_record);
    const user_service::Record record{QString::fromStdString(host), static_cast<quint16>(port),
                                      static_cast<qint64>(::getpid()), QByteArray::fromStdString(token)};
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(user_service::formatRecord(record)) < 0 || !file.commit()) {
        std::cerr << "yuming-service: cannot write " << m_record.toStdString() << '\n';
        return false;
    }
    m_published = true;
    return true;
}

void UserClaim::withdraw() {
    if (m_published) QFile::remove(m_record);
    m_published = false;
}

} // namespace yuming::service
