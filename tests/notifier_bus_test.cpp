// Desktop notifications on a private session bus (run under dbus-run-session), told to a small
// notification server of the test's own: by the notifier, and by the running service as the
// watchlist's names move at a loopback registry.
#include "service_record.h"
#include "support/rdap_fixture.h"
#include "support/service_process.h"
#include "watch/notifier.h"

#include <libical/ical.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QFile>
#include <QProcess>
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

namespace {

struct CliRun {
    int exit = -1;
    QString out, err;
};

// yuming-cli as the user runs it: it finds the service and its token through the record in the
// runtime folder the test set.
CliRun cli(const QStringList& args, const QByteArray& token = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("YUMING_TOKEN");
    if (!token.isEmpty()) env.insert("YUMING_TOKEN", QString::fromLatin1(token));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(YUMING_CLI_BIN), args);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(30000)) << args.join(' ').toStdString();
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

std::string isoAt(qint64 secs) {
    return QDateTime::fromSecsSinceEpoch(secs).toUTC().toString(Qt::ISODate).toStdString();
}

yuming::testing::RdapFixture::Answer domain(const std::string& status, const std::string& events) {
    return {.body = R"({"objectClassName":"domain","ldhName":"walk.com","status":[")" + status +
                    R"("],"events":[)" + events + "]}"};
}

} // namespace

TEST(WatchlistOnBus, ANameMovedAtTheRegistryShowsInTheListAndArrivesOnce) {
    using yuming::testing::RdapFixture;
    using yuming::testing::ServiceProcess;
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "run under dbus-run-session";
    QTemporaryDir home;
    qputenv("XDG_RUNTIME_DIR", home.filePath("run").toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath("data").toLocal8Bit());
    ServerOnBus bus({QStringLiteral("body")});
    ASSERT_TRUE(bus.registered());

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    constexpr qint64 kDay = 86400;
    RdapFixture registry;
    const std::string path = "/rdap/domain/walk.com";
    registry.set(path, domain("active", R"({"eventAction":"expiration","eventDate":")" +
                                            isoAt(now + 200 * kDay) + "\"}"));
    ServiceProcess::Options options;
    options.rows = 300;
    options.extraArgs = {
        "--user",
        "--rdap",
        "--rdap-rate",
        "20",
        "--rdap-bootstrap",
        QString::fromStdString(RdapFixture::writeBootstrap(home.path().toStdString(), registry.baseUrl()))};
    ServiceProcess service(options);
    ASSERT_TRUE(service.start()) << service.error().toStdString();

    CliRun run = cli({"watch", "add", "walk.com"});
    ASSERT_EQ(run.exit, 0) << run.err.toStdString();
    run = cli({"watch", "check"});
    ASSERT_EQ(run.exit, 0) << run.err.toStdString();
    run = cli({"watch", "list"});
    QStringList row = run.out.trimmed().split('\t');
    ASSERT_EQ(row.size(), 7) << run.out.toStdString();
    EXPECT_EQ(row[1], "active");
    EXPECT_EQ(row[2].toStdString(), isoAt(now + 200 * kDay));
    EXPECT_FALSE(row[3].isEmpty());

    // Into pending delete at the registry: the check reports it, the list shows it, the desktop is told once.
    const std::string changed = isoAt(now - 3600);
    registry.set(path, domain("pending delete",
                              R"({"eventAction":"expiration","eventDate":")" + isoAt(now - 40 * kDay) +
                                  R"("},{"eventAction":"last changed","eventDate":")" + changed + "\"}"));
    run = cli({"watch", "check", "walk.com"});
    EXPECT_EQ(run.exit, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "walk.com\tchanged\tactive\tpending-delete\n");
    row = cli({"watch", "list"}).out.trimmed().split('\t');
    ASSERT_EQ(row.size(), 7);
    EXPECT_EQ(row[1], "pending-delete");
    EXPECT_EQ(row[4], "pending-delete");
    const QDateTime deletion = QDateTime::fromString(row[3], Qt::ISODate);
    EXPECT_GT(deletion.toSecsSinceEpoch(), now + 4 * kDay);
    EXPECT_LT(deletion.toSecsSinceEpoch(), now + 6 * kDay);
    const auto calls = bus.server().waitForCalls(1);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(bus.server().calls().size(), 1u);
    EXPECT_TRUE(calls[0].body.startsWith(QStringLiteral("walk.com 进入待删除期，预计 ")))
        << calls[0].body.toStdString();

    // Without the token, or with a wrong one: refused.
    run = cli({"--service", service.address(), "watch", "list"});
    EXPECT_EQ(run.exit, 1);
    run = cli({"--service", service.address(), "watch", "remove", "walk.com"}, QByteArray(64, 'f'));
    EXPECT_EQ(run.exit, 1);
    EXPECT_TRUE(run.err.contains("token")) << run.err.toStdString();

    // The calendar parses, with the drop as its one event.
    run = cli({"watch", "ics"});
    ASSERT_EQ(run.exit, 0) << run.err.toStdString();
    icalcomponent* calendar = icalparser_parse_string(run.out.toUtf8().constData());
    ASSERT_NE(calendar, nullptr);
    icalcomponent* event = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT);
    ASSERT_NE(event, nullptr);
    EXPECT_STREQ(icalcomponent_get_summary(event), "域名删除：walk.com");
    EXPECT_EQ(icaltime_as_timet(icalcomponent_get_dtstart(event)), deletion.toSecsSinceEpoch());
    EXPECT_EQ(icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT), nullptr);
    icalcomponent_free(calendar);
    EXPECT_EQ(service.stop(), 0);
}

#include "notifier_bus_test.moc"
