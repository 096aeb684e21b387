#include "frmmain_fixture.h"

#include "app/banner.h"
#include "support/wait_for.h"

using yuming::testing::waitFor;

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSignalSpy>
#include <QTimer>

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
    ASSERT_TRUE(waitFor([&] {
        return web->view()->property("title").toString() == QStringLiteral("ran false null");
    })) << web->view()->property("title").toString().toStdString();
    EXPECT_EQ(web->view()->geometry(), QRect(0, 0, 1333, 333));
    for (QWidget* top : QApplication::topLevelWidgets())
        EXPECT_FALSE(top->isVisible() && top != window.get()) << top->metaObject()->className();
}

namespace {

struct Process {
    pid_t parent;
    QByteArray cmdline;
};

// This process's descendants, by their ids.
QHash<pid_t, Process> descendants() {
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
    QHash<pid_t, Process> found;
    for (auto it = processes.cbegin(); it != processes.cend(); ++it) {
        pid_t up = it->parent;
        while (up > 1 && up != getpid())
            up = processes.value(up).parent;
        if (up == getpid()) found.insert(it.key(), *it);
    }
    return found;
}

// The browser's page processes started by this process: the ones forked by its zygote keep the
// zygote's command line, so they are told by their parent.
QList<pid_t> pageProcesses() {
    const QHash<pid_t, Process> processes = descendants();
    QList<pid_t> found;
    for (auto it = processes.cbegin(); it != processes.cend(); ++it) {
        if (it->cmdline.contains("--type=renderer") ||
            processes.value(it->parent).cmdline.contains("--type=zygote"))
            found.append(it.key());
    }
    return found;
}

QList<QByteArray> browserHelpers() {
    QList<QByteArray> found;
    for (const Process& process : descendants())
        if (process.cmdline.contains("--type=")) found.append(process.cmdline);
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

TEST(BannerEngineFlags, TheUsersComeFirstAndKeepTheirValues) {
    struct Case {
        const char* user;
        bool sandboxOff;
        bool softwareDrawing;
        const char* flags;
    };
    const Case cases[] = {
        {"", false, true, "--log-level=3 --disable-gpu --renderer-process-limit=1"},
        {"", true, false, "--log-level=3 --renderer-process-limit=1 --no-zygote"},
        {"--log-level=0 --js-flags=--expose-gc", true, true,
         "--log-level=0 --js-flags=--expose-gc --disable-gpu --renderer-process-limit=1 --no-zygote"},
        // A longer switch that begins with one of the banner's is not that switch.
        {"--disable-gpu-compositing  --renderer-process-limit=4 ", false, true,
         "--disable-gpu-compositing  --renderer-process-limit=4  --log-level=3 --disable-gpu"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Banner::engineFlags(c.user, c.sandboxOff, c.softwareDrawing), QByteArray(c.flags))
            << c.user;
}

TEST_F(FrmmainTest, WithoutTheSandboxTheBannerHasOnePageProcessAndNoGpu) {
    if (geteuid() != 0) GTEST_SKIP() << "only root runs the browser without its sandbox";
    server.setScript({ScriptServer::send(
        ScriptServer::httpAnswer("<html><head><title>b</title></head><body>banner</body></html>"))});
    yuming::AppSettings settings = settingsFor(server.hostPort());
    settings.banner = true;
    window = std::make_unique<Frmmain>(settings);
    QSignalSpy loaded(child<Banner>("Web"), &Banner::loadFinished);
    window->showCentred();
    ASSERT_TRUE(loaded.wait(30000));
    ASSERT_TRUE(loaded.first().first().toBool());
    // Earlier windows' page processes may still be on their way out.
    ASSERT_TRUE(waitFor([] { return browserHelpers().size() == 1; }, 10000)) << browserHelpers().size();
    const QByteArray helper = browserHelpers().value(0);
    EXPECT_TRUE(helper.contains("--type=renderer")) << helper.toStdString();
    EXPECT_TRUE(helper.contains("--disable-gpu-compositing")) << helper.toStdString();
}

// The window goes away at each step of the browser's start (the queued ones run after it); the
// next window's banner still comes up.
TEST_F(FrmmainTest, AWindowClosedWhileItsBrowserStartsLeavesTheNextOneWorking) {
    server.setScript({ScriptServer::send(
        ScriptServer::httpAnswer("<html><head><title>b</title></head><body>banner</body></html>"))});
    yuming::AppSettings settings = settingsFor(server.hostPort());
    settings.banner = true;
    for (const char* step : {"shown", "viewCreated"}) {
        window = std::make_unique<Frmmain>(settings);
        const auto close = [this] { QTimer::singleShot(0, window.get(), [this] { window.reset(); }); };
        if (qstrcmp(step, "shown") == 0)
            QObject::connect(window.get(), &Frmmain::shown, close);
        else
            QObject::connect(child<Banner>("Web"), &Banner::viewCreated, close);
        window->showCentred();
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window; }, 30000)) << step;
    }
    window = std::make_unique<Frmmain>(settings);
    QSignalSpy loaded(child<Banner>("Web"), &Banner::loadFinished);
    window->showCentred();
    ASSERT_TRUE(loaded.wait(30000));
    EXPECT_TRUE(loaded.first().first().toBool());
}
