#include "app/frmmain.h"
#include "app/watch_table.h"
#include "app/watchlist_window.h"
#include "frmmain_fixture.h"
#include "service_record.h"
#include "service_test_util.h"
#include "support/wait_for.h"
#include "support/watch_api_server.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace yuming;
using yuming::testing::waitFor;

namespace {

const QByteArray kToken = QByteArray("0123456789abcdef").repeated(4);

QDateTime utc(const char* iso) {
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate);
}

QJsonArray namesSent(const WatchApiServer& server, const QByteArray& target) {
    for (qsizetype i = server.requests().size() - 1; i >= 0; --i)
        if (server.requests()[i].target == target)
            return server.requests()[i].json().value("names").toArray();
    return {};
}

} // namespace

TEST(WatchTableTest, CountdownAtAFixedClockAndPastedNames) {
    const QDateTime deletion = utc("2026-12-15T03:00:00Z");
    EXPECT_EQ(countdownText(deletion, utc("2026-12-09T23:59:59Z")), "5 天 03:00:01");
    EXPECT_EQ(countdownText(deletion, utc("2026-12-15T02:59:01Z")), "0 天 00:00:59");
    EXPECT_EQ(countdownText(deletion, deletion), "已到");
    EXPECT_EQ(countdownText({}, deletion), "");

    WatchTable table;
    watch::WatchedName named{"abc.com", "pending-delete", {}, deletion, "pending-delete", {}, {}};
    watch::WatchedName unknown{"xn--fsqu00a.com", "unknown", {}, {}, {}, {}, {}};
    table.setNames({named, unknown});
    table.setNow(utc("2026-12-14T03:00:00Z"));
    QSignalSpy changed(&table, &QAbstractItemModel::dataChanged);
    table.setNow(utc("2026-12-14T13:14:15Z"));
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(table.index(0, WatchTable::Countdown).data().toString(), "0 天 13:45:45");
    EXPECT_EQ(table.index(0, WatchTable::Status).data().toString(), "待删除期");
    EXPECT_TRUE(table.index(0, WatchTable::Deletion).data().toString().contains("注册局状态（待删除期）"));
    EXPECT_EQ(table.index(1, WatchTable::Name).data().toString(), "例子.com");
    EXPECT_EQ(table.index(1, WatchTable::Countdown).data().toString(), "");
    // Without an estimate a name sorts after every name with one.
    EXPECT_GT(table.index(1, WatchTable::Countdown).data(Qt::UserRole).toLongLong(),
              table.index(0, WatchTable::Countdown).data(Qt::UserRole).toLongLong());

    EXPECT_EQ(namesInText("a.com\r\nb.com, c.com\n\n  a.com；例子.com\t"),
              (QStringList{"a.com", "b.com", "c.com", "例子.com"}));
}

class WatchlistWindowTest : public ::testing::Test {
protected:
    WatchlistWindowTest() : server(kToken) {
        server.watched["abc.com"] = WatchApiServer::pendingDelete("abc.com");
        server.watched["b.com"] = WatchApiServer::fresh("b.com");
        server.history["abc.com"] = QJsonArray{
            QJsonObject{{"at", "2026-11-01T12:00:00Z"}, {"from", "active"}, {"to", "auto-renew-grace"}}};
    }
    // Runs until the window has shown one more list.
    bool listedAgain() {
        const qsizetype before = listed->size();
        return waitFor([&] { return listed->size() > before; });
    }
    void select(const QString& name) {
        QTableView* view = window->view();
        view->clearSelection();
        for (int row = 0; row < view->model()->rowCount(); ++row)
            if (view->model()->index(row, WatchTable::Name).data(Qt::ToolTipRole) == name)
                view->selectRow(row);
    }

    WatchApiServer server;
    std::unique_ptr<WatchlistWindow> window;
    std::unique_ptr<QSignalSpy> listed;

    void open() {
        window = std::make_unique<WatchlistWindow>(ServiceAddress{"127.0.0.1", server.port()}, kToken);
        listed = std::make_unique<QSignalSpy>(window.get(), &WatchlistWindow::listed);
        window->show();
        ASSERT_TRUE(waitFor([&] { return listed->size() == 1; }));
    }
};

TEST_F(WatchlistWindowTest, AddsRemovesAndShowsTheSelectedNamesHistory) {
    open();
    ASSERT_EQ(window->table().rowCount(), 2);
    EXPECT_EQ(server.requests()[0].headers.value("authorization"), "Bearer " + kToken);

    window->addNames(namesInText("c.com\nd.com"));
    ASSERT_TRUE(listedAgain());
    EXPECT_EQ(namesSent(server, "/api/watch/add"), (QJsonArray{"c.com", "d.com"}));
    EXPECT_EQ(window->table().rowCount(), 4);
    EXPECT_EQ(window->statusText(), "已加入关注 2 个，原已关注 0 个");

    select("abc.com");
    ASSERT_TRUE(waitFor([&] { return !window->historyText().isEmpty(); }));
    EXPECT_EQ(window->historyText().section("  ", 1), "正常 → 续费宽限期");

    window->removeSelected();
    ASSERT_TRUE(listedAgain());
    EXPECT_EQ(namesSent(server, "/api/watch/remove"), (QJsonArray{"abc.com"}));
    EXPECT_FALSE(server.watched.contains("abc.com"));
    EXPECT_EQ(window->table().rowCount(), 3);
    EXPECT_EQ(window->statusText(), "已移除 1 个");

    // A bad name is named, and the list stays as it was.
    window->addNames({"no spaces.com"});
    ASSERT_TRUE(listedAgain());
    EXPECT_TRUE(window->statusText().contains("no spaces.com")) << window->statusText().toStdString();
    EXPECT_EQ(window->table().rowCount(), 3);
}

// The window on this user's own running service, which checks from its own list.
TEST(WatchlistOnServiceTest, ChecksNowAndExportsTheCalendarOfTheRealList) {
    QTemporaryDir home;
    qputenv("XDG_RUNTIME_DIR", home.filePath("run").toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath("data").toLocal8Bit());
    yuming::testing::ServiceProcess::Options options;
    options.rows = 300;
    options.extraArgs = {"--user"};
    yuming::testing::ServiceProcess service(options);
    ASSERT_TRUE(service.start()) << service.error().toStdString();
    QFile recordFile(home.filePath("run/yuming/service"));
    ASSERT_TRUE(recordFile.open(QIODevice::ReadOnly));
    const auto record = user_service::parseRecord(recordFile.readAll());
    ASSERT_TRUE(record);
    const auto held = yuming::testing::Database(service.dbPath())
                          .rows("SELECT name || '.' || suffix FROM domains WHERE deletion > ? "
                                "ORDER BY deletion DESC LIMIT 1",
                                {QDateTime::currentDateTime().addDays(1).toString("yyyy-MM-dd HH:mm:ss")});
    ASSERT_EQ(held.size(), 1);
    const QString name = held[0][0];

    WatchlistWindow window(ServiceAddress{"127.0.0.1", service.port()}, record->token);
    QSignalSpy listed(&window, &WatchlistWindow::listed);
    window.show();
    ASSERT_TRUE(waitFor([&] { return listed.size() == 1; }));
    EXPECT_EQ(window.table().rowCount(), 0);
    window.addNames({name, "nowhere.com"});
    ASSERT_TRUE(waitFor([&] { return listed.size() == 2; }));
    ASSERT_EQ(window.table().rowCount(), 2);

    window.checkNow();
    ASSERT_TRUE(waitFor([&] { return window.statusText().startsWith("已查询"); }, 20000));
    EXPECT_EQ(window.statusText(), "已查询 2 个，状态变化 0 个，查询失败 0 个");
    const qsizetype before = listed.size();
    window.refresh();
    ASSERT_TRUE(waitFor([&] { return listed.size() > before; }));
    QStringList statuses;
    for (int row = 0; row < 2; ++row)
        statuses << window.table().index(row, WatchTable::Status).data().toString();
    EXPECT_TRUE(statuses.contains("未注册")) << statuses.join(',').toStdString();

    // 导出日历… to a file chosen in its dialog: the held name's drop is its one event.
    window.askCalendarFile();
    auto* dialog = window.findChild<QFileDialog*>("CalendarDialog");
    ASSERT_NE(dialog, nullptr);
    const QString path = home.filePath("drops.ics");
    dialog->selectFile(path);
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    for (QAbstractButton* button : buttons->buttons())
        if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole)
            QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return QFile::exists(path); }));
    QFile calendar(path);
    ASSERT_TRUE(calendar.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(calendar.readAll());
    EXPECT_EQ(text.count("BEGIN:VEVENT"), 1);
    EXPECT_TRUE(text.contains("SUMMARY:域名删除：" + name)) << text.toStdString();
    EXPECT_TRUE(window.statusText().startsWith("日历已导出到")) << window.statusText().toStdString();
    EXPECT_EQ(service.stop(), 0);
}

TEST_F(FrmmainTest, WatchingTheSelectedRowsSendsTheirNames) {
    WatchApiServer watch(kToken);
    qputenv("YUMING_TOKEN", kToken);
    open(settingsFor(watch.hostPort()));
    auto* list = child<QTreeWidget>("ListView1");
    ASSERT_NE(list, nullptr);
    for (const char* name : {"aa.com", "bb.com", "cc.com"})
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{name, "2", "com", "2026-12-15"}));
    list->topLevelItem(0)->setSelected(true);
    list->topLevelItem(2)->setSelected(true);
    window->watchSelectedRows();
    qunsetenv("YUMING_TOKEN");
    ASSERT_TRUE(waitFor([&] { return watch.watched.size() == 2; }));
    EXPECT_EQ(namesSent(watch, "/api/watch/add"), (QJsonArray{"aa.com", "cc.com"}));
    auto* watchlist = window->findChild<WatchlistWindow*>("Watchlist");
    ASSERT_NE(watchlist, nullptr);
    EXPECT_TRUE(watchlist->isVisible());
    EXPECT_TRUE(watchlist->isWindow());
}

TEST(WatchlistProgramTest, WatchlistOptionOpensTheWindowOnTheList) {
    WatchApiServer server(kToken);
    server.watched["abc.com"] = WatchApiServer::pendingDelete("abc.com");
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert("YUMING_TOKEN", QString::fromLatin1(kToken));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(YUMING_PROGRAM, {"--service", server.hostPort(), "--watchlist", "--report-start"});
    ASSERT_TRUE(program.waitForStarted(5000));
    QByteArray out;
    const bool listed = waitFor(
        [&] {
            out += program.readAllStandardOutput();
            return out.contains("listed\n");
        },
        20000);
    program.kill();
    program.waitForFinished(5000);
    ASSERT_TRUE(listed) << program.readAllStandardError().toStdString();
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].target, "/api/watch");
    EXPECT_EQ(server.requests()[0].headers.value("authorization"), "Bearer " + kToken);
}

TEST_F(FrmmainTest, WatchingTheLookedUpNameSendsIt) {
    server.setScript({ScriptServer::send(ScriptServer::httpAnswer(
        toGbk(u"<html><title>x</title> 未注册<span id=span_dt_dt>x</span></html>")))});
    open();
    EXPECT_EQ(window->lookedUpName(), "");
    auto* text4 = child<QLineEdit>("Text4");
    QSignalSpy looked(&window->lookupCommand(), &LookupCommand::finished);
    QTest::keyClicks(text4, "example.com");
    QTest::keyClick(text4, Qt::Key_Return);
    ASSERT_TRUE(looked.wait(5000));
    text4->setText("edited.com");
    EXPECT_EQ(window->lookedUpName(), "example.com");
    // Held open without an answer, so the request's body is read whenever it comes after its head.
    server.setScript({ScriptServer::stall()});
    window->watchLookedUpName();
    const auto added = [&] {
        for (const QByteArray& request : server.requests())
            if (request.startsWith("POST /api/watch/add ")) return request;
        return QByteArray();
    };
    ASSERT_TRUE(waitFor([&] { return added().contains("\r\n\r\n{"); }));
    EXPECT_TRUE(added().endsWith(R"({"names":["example.com"]})")) << added().toStdString();
}
