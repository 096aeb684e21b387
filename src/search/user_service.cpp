#include "search/user_service.h"

#include "lookup/app_path.h"
#include "service_record.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>

namespace yuming {
namespace {

constexpr int kPollMs = 10;
// Starting again covers a service that was just going away when it was found; a program that
// fails every time is not started for ever.
constexpr int kMaxSpawns = 3;

QString lockPath(const QString& folder) {
    return folder + u'/' + QLatin1String(user_service::kLockName);
}

bool alive(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

} // namespace

UserService::UserService(QObject* parent)
    : UserService(Setup{findProgram(), user_service::runtimeFolder(),
                        user_service::dataFolder() + u'/' + QLatin1String(user_service::kLogName)},
                  parent) {}

UserService::UserService(Setup setup, QObject* parent)
    : QObject(parent), m_setup(std::move(setup)), m_poll(this) {
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &UserService::poll);
}

QString UserService::findProgram() {
    const QString name = QStringLiteral("yuming-service");
    const QString folder = QCoreApplication::applicationDirPath();
    const QFileInfo beside(folder + u'/' + name);
    if (beside.isExecutable()) return beside.filePath();
    if (runsFromBuildTree()) return QStringLiteral(YUMING_SERVICE_BUILD_PATH);
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? name : onPath;
}

std::optional<ServiceAddress> UserService::running() const {
    const auto found = record();
    if (!found) return std::nullopt;
    return ServiceAddress{found->host, found->port};
}

std::optional<user_service::Record> UserService::record() const {
    if (user_service::lockHolder(lockPath(m_setup.runtimeFolder)) == 0) return std::nullopt;
    QFile file(m_setup.runtimeFolder + u'/' + QLatin1String(user_service::kRecordName));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return user_service::parseRecord(file.read(256));
}

void UserService::ensure() {
    if (m_poll.isActive()) return;
    m_since.start();
    m_spawns = 0;
    m_pid = 0;
    // Answered from the event loop even when the service is up, so callers see one order.
    m_poll.start();
}

void UserService::poll() {
    if (const auto address = running()) {
        m_poll.stop();
        Q_EMIT ready(*address);
        return;
    }
    if (m_since.elapsed() > m_setup.startLimitMs) {
        fail(QStringLiteral("yuming-service did not start within %1 s").arg(m_setup.startLimitMs / 1000));
        return;
    }
    // Someone holds the lock: a service is starting (seeding its database) or stopping.
    if (user_service::lockHolder(lockPath(m_setup.runtimeFolder)) != 0) return;
    if (alive(m_pid)) return; // ours has not got as far as the lock yet
    if (m_spawns >= kMaxSpawns) {
        const QString line = lastLogLine();
        fail(line.isEmpty() ? QStringLiteral("yuming-service ended without starting") : line);
        return;
    }
    if (!spawn()) fail(QStringLiteral("cannot run %1").arg(m_setup.program));
}

bool UserService::spawn() {
    ++m_spawns;
    user_service::makePrivateFolder(QFileInfo(m_setup.logPath).absolutePath());
    QProcess process;
    process.setProgram(m_setup.program);
    // The service appends to its log itself and keeps it to a bounded size, however long it runs.
    process.setArguments(
        {QLatin1String(user_service::kUserOption), QLatin1String(user_service::kLogOption), m_setup.logPath});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // Not in the tool's folder: the service must not keep a mount or a deleted folder busy.
    process.setWorkingDirectory(QDir::rootPath());
    qint64 pid = 0;
    if (!process.startDetached(&pid)) return false;
    m_pid = pid;
    return true;
}

QString UserService::lastLogLine() const {
    QFile log(m_setup.logPath);
    // Just moved aside by the service: the line is at the end of the older file.
    if (!log.open(QIODevice::ReadOnly) || log.size() == 0) {
        log.close();
        log.setFileName(m_setup.logPath + QStringLiteral(".1"));
        if (!log.open(QIODevice::ReadOnly)) return {};
    }
    if (log.size() > 4096) log.seek(log.size() - 4096);
    const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
    return QString::fromUtf8(lines.last()).trimmed();
}

void UserService::fail(const QString& reason) {
    m_poll.stop();
    Q_EMIT failed(reason);
}

} // namespace yuming
