#include "frmmain_fixture.h"

#include "app/message_box.h"
#include "controls/box.h"
#include "controls/command.h"
#include "search/search_commands.h"
#include "support/wait_for.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>

using namespace yuming;
using yuming::testing::waitFor;

namespace {

const QList<QStringList> kRows{
    {QStringLiteral("abc.com"), QStringLiteral("3"), QStringLiteral("com"), QStringLiteral("2026-12-10")},
    {QStringLiteral("abcd.net"), QStringLiteral("4"), QStringLiteral("net"),
     QStringLiteral("<b>2026-12-11</b>")},
};

QByteArray searchRequest(const QByteArray& query, const QString& hostPort) {
    const QByteArray host = hostPort.toLatin1();
    return "GET /s/?" + query + " HTTP/1.1\r\nAccept: */*\r\nReferer: http://" + host +
           "/s/?d=0&do=do\r\nAccept-Language: zh-cn\r\nUser-Agent: Mozilla/4.0 (Compatible; MSIE 6.0b; "
           "Windows NT "
           "5.1; SV1; .NET CLR 2.0.50727)\r\nHost: " +
           host + "\r\nConnection: Keep-Alive\r\n\r\n";
}

QByteArray
pageQuery(int pageNo,
          const QByteArray& filters = "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net") {
    return filters + "&tsym=0&d=0&do=do&page=" + QByteArray::number(pageNo);
}

} // namespace

class FrmmainSearchTest : public FrmmainTest {
protected:
    // Runs one command to its end (or to its refusal).
    void press(const char* name) {
        QSignalSpy finished(&window->searchCommands(), &SearchCommands::finished);
        const int boxes = MessageBox::shownCount();
        MessageBox::setNextAnswer(MessageBox::Ok);
        QTest::mouseClick(child<Command>(name), Qt::LeftButton);
        if (MessageBox::shownCount() == boxes) {
            ASSERT_TRUE(finished.count() == 1 || finished.wait(5000)) << name;
        }
        MessageBox::setNextAnswer(MessageBox::NoButton);
    }
    QString label(const char* name) const { return child<QLabel>(name)->text(); }
    void expectRefusal(const char* name, const QString& text) {
        const int requests = int(server.requests().size());
        const int boxes = MessageBox::shownCount();
        press(name);
        EXPECT_EQ(MessageBox::shownCount(), boxes + 1) << name;
        EXPECT_EQ(MessageBox::lastShown().title, QStringLiteral("提示"));
        EXPECT_EQ(MessageBox::lastShown().text, text);
        EXPECT_EQ(server.requests().size(), requests) << "a refusal sends nothing";
    }
};

TEST_F(FrmmainSearchTest, EnterInKeywordBoxRunsOneSearchIntoTheList) {
    server.setScript(ScriptServer::split(searchPage(QStringLiteral("3"), kRows), 100));
    open();
    QStringList statuses;
    QObject::connect(&window->searchCommands(), &SearchCommands::statusChanged, window.get(),
                     [&] { statuses << label("Label16"); });
    QSignalSpy finished(&window->searchCommands(), &SearchCommands::finished);

    auto* text1 = child<QLineEdit>("Text1");
    QTest::keyClicks(text1, QStringLiteral("abc"));
    QTest::keyClick(text1, Qt::Key_Return);
    ASSERT_TRUE(finished.wait(5000));

    EXPECT_EQ(statuses, (QStringList{QStringLiteral("正在连接服务器..."), QStringLiteral("正在获取结果..."),
                                     QStringLiteral("完成...")}));
    EXPECT_EQ(label("Label17"), QStringLiteral("总共：3 页，当前 1 页"));
    auto* list = child<QTreeWidget>("ListView1");
    ASSERT_EQ(list->topLevelItemCount(), kRows.size());
    EXPECT_EQ(list->visualItemRect(list->topLevelItem(0)).height(), 16);
    for (int r = 0; r < kRows.size(); ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(list->topLevelItem(r)->text(c), kRows[r][c]) << r << "," << c;
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0],
              searchRequest(pageQuery(0, "key=abc&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net"),
                            server.hostPort()));
    EXPECT_TRUE(child<Box>("Box2")->isVisible());
}

TEST_F(FrmmainSearchTest, PagesForwardAndBackAndRefusesAtBothEnds) {
    server.setScript({ScriptServer::send(searchPage(QStringLiteral("3"), kRows))});
    open();
    press("Command1");
    press("Command4");
    press("Command4");
    EXPECT_EQ(label("Label17"), QStringLiteral("总共：3 页，当前 3 页"));
    expectRefusal("Command4", QStringLiteral("已经是最后一页了！"));
    press("Command3");
    press("Command3");
    expectRefusal("Command3", QStringLiteral("已经是第一页了！"));
    child<QLineEdit>("Text5")->setText(QStringLiteral("3"));
    press("Command5");
    child<QLineEdit>("Text5")->setText(QStringLiteral("4"));
    expectRefusal("Command5", QStringLiteral("您输入的页码范围不正确！"));

    QList<QByteArray> expected;
    for (int page : {0, 1, 2, 1, 0, 2})
        expected << searchRequest(pageQuery(page), server.hostPort());
    EXPECT_EQ(server.requests(), expected);
    EXPECT_EQ(label("Label17"), QStringLiteral("总共：3 页，当前 3 页"));
}

TEST_F(FrmmainSearchTest, LookupShowsItsPanelAndASearchBringsTheListBack) {
    const QByteArray lookupPage =
        ScriptServer::httpAnswer(toGbk(u"<html><title>x</title> 未注册<span id=span_dt_dt>x</span></html>"));
    server.setScript({ScriptServer::send(lookupPage)});
    open();
    auto* text4 = child<QLineEdit>("Text4");
    MessageBox::setNextAnswer(MessageBox::Ok);
    QTest::keyClick(text4, Qt::Key_Return);
    EXPECT_EQ(MessageBox::lastShown().text, QStringLiteral("请输入要查询的域名,开头不要加www！"));
    EXPECT_TRUE(child<Box>("Box2")->isVisible()) << "a refused lookup switches nothing";

    QSignalSpy looked(&window->lookupCommand(), &LookupCommand::finished);
    QTest::keyClicks(text4, QStringLiteral("example.com"));
    QTest::keyClick(text4, Qt::Key_Return);
    ASSERT_TRUE(looked.wait(5000));
    EXPECT_TRUE(child<Box>("Box3")->isVisible());
    EXPECT_FALSE(child<Box>("Box2")->isVisible());
    EXPECT_EQ(child<QPlainTextEdit>("Text6")->toPlainText(), QStringLiteral("查询完成...\n\n域名未注册"));
    EXPECT_TRUE(server.requests().value(0).startsWith("GET /whois/?domain=example.com&Whois%5B%5D=1"));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("xxx.txt"))));

    server.setScript({ScriptServer::send(searchPage(QStringLiteral("1"), {}))});
    press("Command6");
    EXPECT_TRUE(child<Box>("Box2")->isVisible());
    EXPECT_FALSE(child<Box>("Box3")->isVisible());
    EXPECT_EQ(
        server.requests().value(1),
        searchRequest(pageQuery(0, "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net&org=org"),
                      server.hostPort()));
}

TEST_F(FrmmainSearchTest, ButtonsStayLockedWhileTheServerHoldsTheAnswerAndEnterStartsNothing) {
    server.setScript({ScriptServer::wait(300), ScriptServer::send(searchPage(QStringLiteral("1"), kRows))});
    open();
    QList<QPair<QString, bool>> changes;
    for (Command* command : window->findChildren<Command*>())
        QObject::connect(command, &Command::EnabledChanged, window.get(), [&changes, command] {
            changes.append({command->objectName(), command->Enabled()});
        });
    QSignalSpy finished(&window->searchCommands(), &SearchCommands::finished);
    auto* text1 = child<QLineEdit>("Text1");
    auto* text4 = child<QLineEdit>("Text4");
    QSignalSpy enter1(text1, &QLineEdit::returnPressed);
    QSignalSpy enter4(text4, &QLineEdit::returnPressed);
    text4->setText(QStringLiteral("example.com"));

    QTest::keyClick(text1, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return server.requests().size() == 1; }));
    for (const char* name : {"Command1", "Command2", "Command3", "Command4", "Command5", "Command6"})
        EXPECT_FALSE(child<Command>(name)->Enabled()) << name;
    const int boxes = MessageBox::shownCount();
    QTest::keyClick(text1, Qt::Key_Return);
    QTest::keyClick(text4, Qt::Key_Return);
    EXPECT_EQ(enter1.count(), 2) << "Enter still reaches the keyword box";
    EXPECT_EQ(enter4.count(), 1);
    ASSERT_TRUE(finished.wait(5000));

    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(MessageBox::shownCount(), boxes);
    EXPECT_EQ(finished.count(), 1);
    QList<QPair<QString, bool>> expected;
    for (bool enabled : {false, true})
        for (int i = 1; i <= 6; ++i)
            expected.append({QStringLiteral("Command%1").arg(i), enabled});
    EXPECT_EQ(changes, expected);
}

TEST_F(FrmmainSearchTest, RefusedConnectionTimesOutAndUnlocks) {
    open(settingsFor(QStringLiteral("127.0.0.1:%1").arg(ScriptServer::closedPort())));
    window->fetch().setLimits({/*TickMs=*/10, /*ConnectTicks=*/3, /*SilenceMs=*/1000, 1 << 20});
    press("Command1");
    EXPECT_EQ(label("Label16"), QStringLiteral("连接服务器超时,请稍后再试..."));
    EXPECT_TRUE(child<Command>("Command1")->Enabled());
}

TEST_F(FrmmainSearchTest, ClosingTheWindowDuringAFetchEndsCleanly) {
    server.setScript({ScriptServer::stall()});
    open();
    QTest::keyClick(child<QLineEdit>("Text1"), Qt::Key_Return);
    ASSERT_TRUE(
        waitFor([&] { return server.requests().size() == 1 && server.requests()[0].endsWith("\r\n\r\n"); }));
    window->close();
    window.reset();
    // The request in flight goes with the window: its connection is closed, nothing is sent again.
    ASSERT_TRUE(waitFor([&] { return server.openConnections() == 0; }));
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(FrmmainSearchTest, FocusStaysOnTheButtonThatRanAndAFiveDigitPageCountStaysReadable) {
    server.setScript({ScriptServer::send(searchPage(QStringLiteral("12345"), kRows))});
    open();
    const QRect label17 = child<QLabel>("Label17")->geometry();
    child<QLineEdit>("Text5")->setText(QStringLiteral("2"));
    for (const char* name : {"Command1", "Command4", "Command5"}) {
        press(name);
        ASSERT_EQ(QApplication::focusWidget(), child<Command>(name)) << name;
        // Enter now runs the same command again, not the lookup whose box follows in the tab chain.
        const qsizetype before = server.requests().size();
        QSignalSpy finished(&window->searchCommands(), &SearchCommands::finished);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        ASSERT_TRUE(finished.wait(5000)) << name;
        ASSERT_EQ(server.requests().size(), before + 1) << name;
        EXPECT_TRUE(server.requests().last().startsWith("GET /s/?")) << name;
    }
    auto* label = child<QLabel>("Label17");
    EXPECT_EQ(label->text(), QStringLiteral("总共：12345 页，当前 2 页"));
    EXPECT_EQ(label->geometry().right(), label17.right()) << "grows to the left";
    EXPECT_LT(label->geometry().right(), child<Command>("Command3")->x());
    EXPECT_GT(label->x(), child<QLabel>("Label16")->x() + 14 * 12) << "clear of the longest status text";
    EXPECT_TRUE(child<Box>("Box2")->rect().contains(label->geometry()));
}

namespace {

// The lookup result's context menu as it opens: each item's text and whether it can be chosen;
// the item named `choose`, if any, is clicked, otherwise the menu is closed.
QList<QPair<QString, bool>> resultMenu(QPlainTextEdit* pane, const QString& choose = {}) {
    QList<QPair<QString, bool>> items;
    QTimer::singleShot(0, pane, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) items.append({action->text(), action->isEnabled()});
            if (action->text() == choose) chosen = action;
        }
        if (chosen)
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        else
            menu->close();
    });
    Q_EMIT pane->customContextMenuRequested(QPoint(10, 10));
    return items;
}

QList<QStringList> manyRows(int count) {
    QList<QStringList> rows;
    for (int i = 0; i < count; ++i)
        rows.append({QStringLiteral("name%1.com").arg(i), QStringLiteral("6"), QStringLiteral("com"),
                     QStringLiteral("2026-12-10")});
    return rows;
}

const QByteArray kNotRegistered =
    ScriptServer::httpAnswer(toGbk(u"<html><title>x</title> 未注册<span id=span_dt_dt>x</span></html>"));

} // namespace

// A lookup from the list keeps the list aside: its menu item or Esc shows it again as it was,
// rows, page, selection and scrolling, without asking the service again.
TEST_F(FrmmainSearchTest, ALookupFromTheListGoesBackToTheListAsItWas) {
    const QList<QStringList> rows = manyRows(60);
    server.setScript({ScriptServer::send(searchPage(QStringLiteral("3"), rows))});
    open();
    press("Command1");
    press("Command4");
    auto* list = child<QTreeWidget>("ListView1");
    auto* pane = child<QPlainTextEdit>("Text6");
    ASSERT_EQ(list->topLevelItemCount(), 60);
    list->topLevelItem(41)->setSelected(true);
    list->setCurrentItem(list->topLevelItem(45), 0, QItemSelectionModel::Select);
    list->verticalScrollBar()->setValue(30);
    const auto selected = [list] {
        QList<int> rows;
        for (QTreeWidgetItem* item : list->selectedItems())
            rows.append(list->indexOfTopLevelItem(item));
        std::sort(rows.begin(), rows.end());
        return rows;
    };

    for (const bool byMenu : {true, false}) {
        server.setScript({ScriptServer::send(kNotRegistered)});
        QSignalSpy looked(&window->lookupCommand(), &LookupCommand::finished);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Return);
        ASSERT_TRUE(looked.count() == 1 || looked.wait(5000));
        ASSERT_TRUE(child<Box>("Box3")->isVisible());
        EXPECT_EQ(list->topLevelItemCount(), 0);
        const qsizetype requests = server.requests().size();
        if (byMenu) {
            EXPECT_EQ(resultMenu(pane, QStringLiteral("返回查询结果")).value(0),
                      qMakePair(QStringLiteral("返回查询结果"), true));
        } else {
            pane->setFocus();
            QTest::keyClick(pane, Qt::Key_Escape);
        }
        EXPECT_TRUE(child<Box>("Box2")->isVisible()) << byMenu;
        EXPECT_FALSE(child<Box>("Box3")->isVisible());
        EXPECT_EQ(server.requests().size(), requests) << "nothing asked again";
        ASSERT_EQ(list->topLevelItemCount(), 60);
        for (int r : {0, 59})
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(list->topLevelItem(r)->text(c), rows[r][c]);
        EXPECT_EQ(selected(), (QList<int>{41, 45}));
        EXPECT_EQ(list->indexOfTopLevelItem(list->currentItem()), 45);
        EXPECT_EQ(list->verticalScrollBar()->value(), 30);
        EXPECT_EQ(label("Label17"), QStringLiteral("总共：3 页，当前 2 页"));
        EXPECT_EQ(label("Label16"), QStringLiteral("完成..."));
    }

    // The list came back with its page: the next page is the third.
    server.setScript({ScriptServer::send(searchPage(QStringLiteral("3"), rows))});
    press("Command4");
    EXPECT_TRUE(server.requests().last().startsWith("GET /s/?" + pageQuery(2) + " "));
}

// Before any search there is no list to go back to; after a new search the one kept is gone.
TEST_F(FrmmainSearchTest, WithoutAListThereIsNoWayBack) {
    server.setScript({ScriptServer::send(kNotRegistered)});
    open();
    auto* pane = child<QPlainTextEdit>("Text6");
    QSignalSpy looked(&window->lookupCommand(), &LookupCommand::finished);
    child<QLineEdit>("Text4")->setText(QStringLiteral("example.com"));
    QTest::mouseClick(child<Command>("Command2"), Qt::LeftButton);
    ASSERT_TRUE(looked.wait(5000));
    EXPECT_EQ(resultMenu(pane).value(0), qMakePair(QStringLiteral("返回查询结果"), false));
    pane->setFocus();
    QTest::keyClick(pane, Qt::Key_Escape);
    EXPECT_TRUE(child<Box>("Box3")->isVisible());

    // A list, a lookup in its place, then the preset search fills the list anew.
    server.setScript({ScriptServer::send(searchPage(QStringLiteral("2"), kRows))});
    press("Command1");
    server.setScript({ScriptServer::send(kNotRegistered)});
    QTest::mouseClick(child<Command>("Command2"), Qt::LeftButton);
    ASSERT_TRUE(looked.wait(5000));
    EXPECT_EQ(resultMenu(pane).value(0), qMakePair(QStringLiteral("返回查询结果"), true));
    server.setScript({ScriptServer::send(searchPage(QStringLiteral("2"), {}))});
    press("Command6");
    child<QTreeWidget>("ListView1")->setFocus();
    window->goBackToList();
    EXPECT_EQ(child<QTreeWidget>("ListView1")->topLevelItemCount(), 0) << "the preset's empty page stays";
    EXPECT_FALSE(window->canGoBackToList());
}

TEST_F(FrmmainSearchTest, EnterInThePageBoxJumpsAsItsButtonDoes) {
    server.setScript({ScriptServer::send(searchPage(QStringLiteral("3"), kRows))});
    open();
    press("Command1");
    auto* text5 = child<QLineEdit>("Text5");
    QSignalSpy finished(&window->searchCommands(), &SearchCommands::finished);
    QTest::keyClicks(text5, QStringLiteral("3"));
    QTest::keyClick(text5, Qt::Key_Return);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(server.requests().last(), searchRequest(pageQuery(2), server.hostPort()));
    EXPECT_EQ(label("Label17"), QStringLiteral("总共：3 页，当前 3 页"));

    const qsizetype requests = server.requests().size();
    text5->setText(QStringLiteral("4"));
    MessageBox::setNextAnswer(MessageBox::Ok);
    const int boxes = MessageBox::shownCount();
    QTest::keyClick(text5, Qt::Key_Enter);
    EXPECT_EQ(MessageBox::shownCount(), boxes + 1);
    EXPECT_EQ(MessageBox::lastShown().text, QStringLiteral("您输入的页码范围不正确！"));
    EXPECT_EQ(server.requests().size(), requests);
    EXPECT_EQ(text5->text(), QStringLiteral("4"));
}

// A selected row is highlighted past its last column up to the scroll bar, in the colour of its
// cells, whether the list has the focus or not.
TEST_F(FrmmainSearchTest, ASelectedRowIsHighlightedAcrossTheFreePart) {
    server.setScript({ScriptServer::send(searchPage(QStringLiteral("1"), kRows))});
    open();
    press("Command1");
    auto* list = child<QTreeWidget>("ListView1");
    list->topLevelItem(0)->setSelected(true);
    const int end = list->header()->length();
    ASSERT_LT(end + 30, list->viewport()->width());
    const int y0 = list->visualItemRect(list->topLevelItem(0)).center().y();
    const int y1 = list->visualItemRect(list->topLevelItem(1)).center().y();
    for (const bool focused : {true, false}) {
        if (focused)
            list->setFocus();
        else
            child<QLineEdit>("Text1")->setFocus();
        ASSERT_EQ(list->hasFocus(), focused);
        const QImage shot = list->viewport()->grab().toImage();
        const QRgb cell = shot.pixel(end - 6, y0);
        EXPECT_NE(cell, shot.pixel(end - 6, y1)) << "the row is drawn selected";
        // Up to the style's edge on the scroll bar's side, without one where the columns end.
        for (int x : {end - 1, end + 1, end + 20, list->viewport()->width() - 3})
            EXPECT_EQ(QColor(shot.pixel(x, y0)).name(), QColor(cell).name()) << x << " focused " << focused;
        EXPECT_EQ(shot.pixel(end + 20, y1), shot.pixel(end - 3, y1)) << "an unselected row stays plain";
    }
}
