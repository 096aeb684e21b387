#include "frmmain_fixture.h"

#include "app/banner.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSignalSpy>

#include <csignal>
#include <unistd.h>

TEST_F(FrmmainTest, BannerLoadsAfterTheWindowIsShownAndNeverOpensADialog) {
    // The page tries every dialog it can; the title says the script ran to its end.
    server.setScript({ScriptServer::send(
        ScriptServer::httpAnswer("<html><head><title>banner</title></head><body>banner<script>"
                                 "alert('a'); var c = confirm('c'); var p = prompt('p', 'x');"
                                 "document.title = 'ran ' + c + ' ' + p;</script></body></html>"))});
    yuming::AppSettings settings = settingsFor(server.hostPort());
    settings.banner = true;
    window = std::make_unique<Frmmain>(settings);
    auto* web = child<Banner>("Web");
    QStringList events;
    QObject::connect(window.get(), &Frmmain::shown, window.get(), [&] { events << "shown"; });
    QObject::connect(web, &Banner::viewCreated, window.get(), [&] { events << "browser"; });
    QSignalSpy loaded(web, &Banner::loadFinished);
    window->showCentred();

    ASSERT_TRUE(loaded.wait(30000));
    EXPECT_EQ(events, (QStringList{"shown", "browser"}));
    EXPECT_TRUE(loaded.first().first().toBool());
    ASSERT_FALSE(server.requests().isEmpty());
    EXPECT_TRUE(server.requests().first().startsWith("GET /asd/yuming.htm HTTP/1.1\r\n"))
        << server.requests().first().toStdString();
    QTRY_COMPARE(web->view()->property("title").toString(), QStringLiteral("ran false null"));
    EXPECT_EQ(web->view()->geometry(), QRect(0, 0, 1333, 333));
    for (QWidget* top : QApplication::topLevelWidgets())
        EXPECT_FALSE(top->isVisible() && top != window.get()) << top->metaObject()->className();
}

namespace {

// The browser's page processes started by this process: the ones forked by its zygote keep the
// zygote's command line, so they are told by their parent.
QList<pid_t> pageProcesses() {
    struct Process {
        pid_t parent;
        QByteArray cmdline;
    };
    QHash<pid_t, Process> processes;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly)) continue;
        // pid (name) state ppid ...; the name may hold spaces, so count from its closing bracket.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1) processes.insert(entry.toInt(), {pid_t(fields[1].toInt()), cmdline.readAll()});
    }
    QList<pid_t> found;
    for (auto it = processes.cbegin(); it != processes.cend(); ++it) {
        pid_t up = it->parent;
        while (up > 1 && up != getpid())
            up = processes.value(up).parent;
        const QByteArray parentLine = processes.value(it->parent).cmdline;
        if (up == getpid() &&
            (it->cmdline.contains("--type=renderer") || parentLine.contains("--type=zygote")))
            found.append(it.key());
    }
    return found;
}

} // namespace

TEST_F(FrmmainTest, APageProcessThatDiesLeavesTheBannerEmptyAndTheWindowWorking) {
    server.setScript({ScriptServer::send(
        ScriptServer::httpAnswer("<html><head><title>b</title></head><body>banner</body></html>"))});
    yuming::AppSettings settings = settingsFor(server.hostPort());
    settings.banner = true;
    window = std::make_unique<Frmmain>(settings);
    auto* web = child<Banner>("Web");
    QSignalSpy loaded(web, &Banner::loadFinished);
    window->showCentred();
    ASSERT_TRUE(loaded.wait(30000));
    ASSERT_TRUE(loaded.first().first().toBool());

    const QList<pid_t> renderers = pageProcesses();
    ASSERT_FALSE(renderers.isEmpty());
    for (pid_t pid : renderers)
        ::kill(pid, SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor([web] { return !web->view()->isVisible(); }, 10000));
    // Not reloaded, and the load that had finished is not reported again.
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(loaded.size(), 1);
    EXPECT_TRUE(window->isVisible());
}
