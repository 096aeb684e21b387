#pragma once

#include "search/service_address.h"
#include "service_record.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

namespace yuming {

// This user's own yuming-service: the one already running, or one started for the tool when a
// request needs it. The service publishes its address once it listens and goes away by itself
// after a long time without requests; the tool only looks for it and starts it, never stops it.
class UserService : public QObject {
    Q_OBJECT
public:
    struct Setup {
        QString program;            // yuming-service
        QString runtimeFolder;      // where the service records its address
        QString logPath;            // the started service's log (it keeps the file to a bounded size)
        int startLimitMs = 120'000; // a first start seeds its database; a big one takes a while
    };

    // Set up from the environment, as the service itself will be.
    explicit UserService(QObject* parent = nullptr);
    UserService(Setup setup, QObject* parent = nullptr);

    // The service's address if it is up now: its lock is held and its record readable. Cheap
    // enough to ask before every request.
    std::optional<ServiceAddress> running() const;
    // The whole record of the service that is up now, its token among it.
    std::optional<user_service::Record> record() const;

    // Finds the service or starts it; ready() or failed() follows, never from inside this call.
    void ensure();
    bool starting() const { return m_poll.isActive(); }

    const Setup& setup() const { return m_setup; }

    // yuming-service beside the program, the build tree's for a program in the build tree, or
    // the first on PATH.
    static QString findProgram();

Q_SIGNALS:
    void ready(const yuming::ServiceAddress& address);
    void failed(const QString& reason);

private:
    void poll();
    bool spawn();
    QString lastLogLine() const;
    void fail(const QString& reason);

    Setup m_setup;
    QTimer m_poll;
    QElapsedTimer m_since;
    qint64 m_pid = 0; // the service this object started, 0 before
    int m_spawns = 0;
};

} // namespace yuming
