// The programs as installed (cmake --install into a prefix of the build's own), run by a user who
// gives no --service: they find this user's own yuming-service or start it.
#include "service_record.h"
#include "support/service_process.h"
#include "support/wait_for.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>

namespace {

namespace us = yuming::user_service;

const QString kPrefix = QStringLiteral(YUMING_TEST_PREFIX);

using yuming::testing::waitFor;

struct Ran {
    int exit = -1;
    QString out, err;
};

// A user of their own: home, data and runtime folders in a temporary folder. The database is
// made small beforehand, as a user's first start would have left it.
class InstalledTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        runtime = home.filePath(QStringLiteral("run"));
        ASSERT_TRUE(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        env.remove(QStringLiteral("XDG_CACHE_HOME"));
        // The service the tools start answers from its database alone, as this user's settings say.
        const QString config = home.filePath(QStringLiteral(".config/yuming"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
        QFile conf(config + QStringLiteral("/service.conf"));
        ASSERT_TRUE(QDir().mkpath(config) && conf.open(QIODevice::WriteOnly) && conf.write("rdap = off\n") == 11);
        conf.close();
        yuming::testing::ServiceProcess seed(
            {2000, 7,
             home.filePath(QStringLiteral(".local/share/yuming/")) + QLatin1String(us::kDatabaseName)});
        ASSERT_TRUE(seed.start()) << seed.error().toStdString();
        seed.stop();
    }

    void TearDown() override {
        for (qint64 pid : services())
            ::kill(static_cast<pid_t>(pid), SIGTERM);
        EXPECT_TRUE(waitFor([&] { return services().isEmpty(); }, 10000));
    }

    QString folder() const { return runtime + QStringLiteral("/yuming"); }

    QProcess* launch(const QString& program, const QStringList& args) {
        auto* p = new QProcess;
        processes.emplace_back(p);
        p->setProcessEnvironment(env);
        p->start(program, args);
        return p;
    }

    Ran finish(QProcess* p) {
        EXPECT_TRUE(p->waitForFinished(60000));
        return {p->exitCode(), QString::fromUtf8(p->readAllStandardOutput()),
                QString::fromUtf8(p->readAllStandardError())};
    }

    Ran run(const QString& program, const QStringList& args) { return finish(launch(program, args)); }
    Ran cli(const QStringList& args) { return run(kPrefix + QStringLiteral("/bin/yuming-cli"), args); }

    std::optional<us::Record> record() const {
        QFile file(folder() + u'/' + QLatin1String(us::kRecordName));
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
        return us::parseRecord(file.readAll());
    }

    // The yuming-service processes of this user: every one that runs with this runtime folder.
    QList<qint64> services() const {
        QList<qint64> found;
        const QByteArray mine = "XDG_RUNTIME_DIR=" + runtime.toLocal8Bit();
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const qint64 pid = entry.toLongLong(&number);
            if (!number) continue;
            // A program whose copy was removed while it runs shows as "... (deleted)".
            const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
            if (!exe.endsWith(u"/yuming-service") && !exe.endsWith(u"/yuming-service (deleted)")) continue;
            QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
            if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(mine))
                found.append(pid);
        }
        return found;
    }

    QTemporaryDir home;
    QString runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> processes;
};

TEST_F(InstalledTest, CliStartsTheServiceReusesItAndReplacesADeadOne) {
    Ran r = cli({"search", "--key", "a"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("pages\t")) << r.out.toStdString();
    EXPECT_GT(r.out.count(u'\n'), 1);
    const auto first = record();
    ASSERT_TRUE(first);
    EXPECT_EQ(services(), QList<qint64>{first->pid});

    r = cli({"lookup", "example.com", "--log", home.filePath(QStringLiteral("xxx.txt"))});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    ASSERT_TRUE(record());
    EXPECT_EQ(record()->port, first->port);
    EXPECT_EQ(services(), QList<qint64>{first->pid});

    // Killed outright: its record stays behind, but its lock went with it.
    ::kill(static_cast<pid_t>(first->pid), SIGKILL);
    EXPECT_TRUE(waitFor([&] { return services().isEmpty(); }, 10000));
    r = cli({"search"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    const auto second = record();
    ASSERT_TRUE(second);
    EXPECT_NE(second->pid, first->pid);
    EXPECT_EQ(services(), QList<qint64>{second->pid});
}

TEST_F(InstalledTest, TwoToolsStartedTogetherShareOneService) {
    QProcess* a = launch(kPrefix + QStringLiteral("/bin/yuming-cli"), {"search"});
    QProcess* b = launch(kPrefix + QStringLiteral("/bin/yuming-cli"), {"preset"});
    const Ran ra = finish(a), rb = finish(b);
    EXPECT_EQ(ra.exit, 0) << ra.err.toStdString();
    EXPECT_EQ(rb.exit, 0) << rb.err.toStdString();
    ASSERT_TRUE(record());
    // A second service that lost the race has ended by now, or is about to.
    EXPECT_TRUE(waitFor([&] { return services() == QList<qint64>{record()->pid}; }, 10000));
}

TEST_F(InstalledTest, AnIdleServiceLeavesAndTakesItsRecordWithIt) {
    QProcess* service =
        launch(kPrefix + QStringLiteral("/bin/yuming-service"), {"--user", "--idle-exit", "1"});
    EXPECT_TRUE(waitFor([&] { return record().has_value(); }, 20000));
    ASSERT_TRUE(service->waitForFinished(10000));
    EXPECT_EQ(service->exitCode(), 0);
    EXPECT_FALSE(record());
    EXPECT_EQ(us::lockHolder(folder() + u'/' + QLatin1String(us::kLockName)), 0);
}

TEST_F(InstalledTest, WindowWithoutItsBannerModuleStillComesUpAndStartsTheService) {
    // Programs copied without the rest of the prefix: no banner module where they look for it.
    QTemporaryDir bare;
    ASSERT_TRUE(QDir().mkpath(bare.filePath(QStringLiteral("bin"))));
    for (const char* name : {"yuming", "yuming-service"})
        ASSERT_TRUE(QFile::copy(kPrefix + QStringLiteral("/bin/") + QLatin1String(name),
                                bare.filePath(QStringLiteral("bin/")) + QLatin1String(name)));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess* window = launch(bare.filePath(QStringLiteral("bin/yuming")), {"--report-start"});
    QByteArray said;
    // Outside the build tree it must not fall back on the build's module.
    EXPECT_TRUE(
        waitFor([&] { return (said += window->readAllStandardOutput()).contains("banner failed\n"); }, 30000))
        << said.data();
    EXPECT_TRUE(said.startsWith("shown\n")) << said.data();
    EXPECT_TRUE(waitFor([&] { return record().has_value(); }, 20000));
    EXPECT_EQ(window->state(), QProcess::Running);
    window->terminate();
    EXPECT_TRUE(window->waitForFinished(10000));
}

TEST_F(InstalledTest, HelpGoesToStdoutWithSuccess) {
    const QList<std::pair<const char*, QStringList>> cases = {{"yuming-cli", {"--help"}},
                                                              {"yuming-cli", {"search", "help"}},
                                                              {"yuming-cli", {"-h"}},
                                                              {"yuming-service", {"--help"}},
                                                              {"yuming", {"--help"}}};
    for (const auto& [program, args] : cases) {
        const Ran r = run(kPrefix + QStringLiteral("/bin/") + QLatin1String(program), args);
        EXPECT_EQ(r.exit, 0) << program << ' ' << args.join(u' ').toStdString();
        EXPECT_TRUE(r.out.startsWith(u"usage", Qt::CaseInsensitive))
            << program << ": " << r.out.toStdString();
    }
    EXPECT_TRUE(services().isEmpty());
}

} // namespace
