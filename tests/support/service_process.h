#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace yuming::testing {

// The real yuming-service binary, run for one test: on a free loopback port, with a database of
// its own in a temporary folder (or a given file), seeded small so it starts in well under a
// second.
class ServiceProcess {
public:
    struct Options {
        int rows = 2000;
        quint64 seed = 7;
        // Empty: a fresh database in a temporary folder that goes away with this object (as does the
        // service's log).
        QString dbPath;
        // Given after the usual ones, --no-rdap among them: a test that asks a registry says --rdap.
        QStringList extraArgs = {};
    };

    ServiceProcess();
    explicit ServiceProcess(Options options);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Starts the service and waits until it prints the port it listens on. False (see error())
    // if it does not come up within `timeoutMs`.
    bool start(int timeoutMs = 60000);
    // Asks the service to stop (SIGTERM) and waits for it; returns its exit code, or -1 if it had
    // to be killed or was never started.
    int stop(int timeoutMs = 10000);
    // Waits for the service to end by itself (after a signal sent with kill(2), say).
    bool waitForExit(int timeoutMs = 10000);
    qint64 processId() const { return m_process ? m_process->processId() : 0; }

    bool isRunning() const;
    // The yuming-service binary this helper runs.
    static QString program();
    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    // "127.0.0.1:PORT", the form the tool's --service option takes.
    QString address() const;
    QString dbPath() const { return m_dbPath; }
    QString error() const { return m_error; }
    // Everything the service wrote to stderr so far (its request log).
    QByteArray log() const;

private:
    Options m_options;
    QString m_dbPath;
    QString m_error;
    quint16 m_port = 0;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
};

} // namespace yuming::testing
