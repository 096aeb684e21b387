// Desktop notifications on a private session bus (run under dbus-run-session), told to a small
// notification server of the test's own.
#include "watch/notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

using namespace yuming::service;
using namespace std::chrono_literals;

namespace {

struct NotifyCall {
    QString app, icon, summary, body;
    QStringList actions;
};

// org.freedesktop.Notifications as a desktop's server offers it, recording what it is asked.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit NotificationServer(QStringList capabilities) : m_capabilities(std::move(capabilities)) {}

    std::vector<NotifyCall> calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    std::vector<NotifyCall> waitForCalls(std::size_t count) {
        for (int i = 0; i < 250 && calls().size() < count; ++i)
            std::this_thread::sleep_for(20ms);
        return calls();
    }

public slots:
    QStringList GetCapabilities() { return m_capabilities; }
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back({app, icon, summary, body, actions});
        return 40 + static_cast<uint>(m_calls.size());
    }
    void CloseNotification(uint) {}

private:
    const QStringList m_capabilities;
    std::mutex m_mutex;
    std::vector<NotifyCall> m_calls;
};

// The server on a connection of its own, answering from the bus's thread, as another process would.
class ServerOnBus {
public:
    explicit ServerOnBus(QStringList capabilities)
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"))),
          m_server(new NotificationServer(std::move(capabilities))) {
        m_server->moveToThread(m_bus.interface()->thread());
        m_registered = m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), m_server,
                                            QDBusConnection::ExportAllSlots) &&
                       m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~ServerOnBus() {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
        // Not from the bus's own thread, which would wait on itself for the object's end.
        delete m_server;
    }
    bool registered() const { return m_registered; }
    NotificationServer& server() { return *m_server; }
    void invoke(uint id, const QString& key) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("ActionInvoked"));
        signal << id << key;
        m_bus.send(signal);
    }

private:
    QDBusConnection m_bus;
    NotificationServer* m_server;
    bool m_registered = false;
};

WatchEvent pendingDelete() {
    WatchEvent event;
    event.name = "abc.com";
    event.from = WatchStatus::Redemption;
    event.to = WatchStatus::PendingDelete;
    return event;
}

} // namespace

TEST(NotifierOnBus, NotificationCarriesTheTextAndItsActionOpensTheWatchlist) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "run under dbus-run-session";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("watchlist");
    QFile script(program);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(("#!/bin/sh\necho \"$@\" >> '" + dir.filePath("opened") + "'\n").toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ServerOnBus bus({QStringLiteral("body"), QStringLiteral("actions")});
    ASSERT_TRUE(bus.registered());
    std::vector<std::string> log;
    NotifierOptions options;
    options.watchlistProgram = program.toStdString();
    options.log = [&log](const std::string& line) { log.push_back(line); };
    Notifier notifier(options);
    notifier.notify(pendingDelete());
    const auto calls = bus.server().waitForCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].app, QStringLiteral("yuming"));
    EXPECT_EQ(calls[0].summary, QStringLiteral("域名关注：abc.com"));
    EXPECT_EQ(calls[0].body, QStringLiteral("abc.com 进入待删除期"));
    ASSERT_EQ(calls[0].actions.size(), 2);
    EXPECT_EQ(calls[0].actions[0], QStringLiteral("default"));

    bus.invoke(41, QStringLiteral("default"));
    QFile opened(dir.filePath("opened"));
    for (int i = 0; i < 250 && !opened.exists(); ++i)
        std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(opened.readAll(), "--watchlist\n");
}

#include "notifier_bus_test.moc"
