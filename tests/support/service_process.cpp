#include "support/service_process.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>

namespace yuming::testing {

ServiceProcess::ServiceProcess() : ServiceProcess(Options{}) {}

ServiceProcess::ServiceProcess(Options options) : m_options(std::move(options)) {}

ServiceProcess::~ServiceProcess() {
    stop();
}

bool ServiceProcess::start(int timeoutMs) {
    m_dir = std::make_unique<QTemporaryDir>();
    m_dbPath =
        m_options.dbPath.isEmpty() ? m_dir->filePath(QStringLiteral("domains.sqlite")) : m_options.dbPath;
    m_process = std::make_unique<QProcess>();
    // The local model unless a test asks for a registry (--rdap after this, in extraArgs).
    // The request log goes to a file, so it can be read at any time without an event loop.
    m_process->setStandardErrorFile(m_dir->filePath(QStringLiteral("service.log")));
    m_process->setProgram(program());
    m_process->setArguments(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                             QStringLiteral("--db"), m_dbPath, QStringLiteral("--rows"),
                             QString::number(m_options.rows), QStringLiteral("--seed"),
                             QString::number(m_options.seed), QStringLiteral("--no-rdap")} +
                            m_options.extraArgs);
    // The user's own settings file is no part of a test.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
    m_process->setProcessEnvironment(env);
    m_process->start();
    if (!m_process->waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(m_process->program(), m_process->errorString());
        return false;
    }
    // The service prints exactly one line on stdout once it accepts connections.
    static const QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$"));
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_process->canReadLine()) {
        if (m_process->state() != QProcess::Running || deadline.hasExpired() ||
            !m_process->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            m_error = QStringLiteral("the service did not report its port: ") + QString::fromLocal8Bit(log());
            return false;
        }
    }
    const QString line = QString::fromLatin1(m_process->readLine()).trimmed();
    const auto match = listening.match(line);
    if (!match.hasMatch()) {
        m_error = QStringLiteral("unexpected first line: ") + line;
        return false;
    }
    m_port = static_cast<quint16>(match.captured(1).toUInt());
    return true;
}

int ServiceProcess::stop(int timeoutMs) {
    if (!m_process) return -1;
    if (isRunning()) m_process->terminate();
    if (!waitForExit(timeoutMs)) {
        m_process->kill();
        m_process->waitForFinished(timeoutMs);
        return -1;
    }
    return m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
}

bool ServiceProcess::waitForExit(int timeoutMs) {
    return m_process && (!isRunning() || m_process->waitForFinished(timeoutMs));
}

QString ServiceProcess::program() {
    return QStringLiteral(YUMING_SERVICE_BIN);
}

bool ServiceProcess::isRunning() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

QString ServiceProcess::address() const {
    return host() + QLatin1Char(':') + QString::number(m_port);
}

QByteArray ServiceProcess::log() const {
    if (!m_dir) return {};
    QFile file(m_dir->filePath(QStringLiteral("service.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace yuming::testing
