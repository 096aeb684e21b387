#include "frmmain_fixture.h"

#include "app/message_box.h"
#include "controls/command.h"
#include "lookup/lookup.h"
#include "search/search_commands.h"
#include "support/service_process.h"
#include "support/wait_for.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTreeWidget>

#include <sqlite3.h>

using namespace yuming;

using yuming::testing::waitFor;

// Waits on the real service allow more time than on a scripted server.
constexpr int kServiceWaitMs = 20000;

// The window against the real reference service: what a user sees after typing a keyword and
// pressing Enter, paging on, and looking up the first domain of the list.
TEST_F(FrmmainTest, SearchesPagesAndLooksUpOnTheReferenceService) {
    yuming::testing::ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.error().toStdString();
    open(settingsFor(service.address()));
    auto* text1 = child<QLineEdit>("Text1");
    auto* list = child<QTreeWidget>("ListView1");
    QSignalSpy searched(&window->searchCommands(), &SearchCommands::finished);

    QTest::keyClicks(text1, QStringLiteral("a"));
    QTest::keyClick(text1, Qt::Key_Return);
    ASSERT_TRUE(searched.wait(10000));
    EXPECT_EQ(child<QLabel>("Label16")->text(), QStringLiteral("完成..."));
    ASSERT_GT(list->topLevelItemCount(), 0);
    const QString pages = window->searchCommands().state().pageCountText.value_or(QString());
    EXPECT_EQ(child<QLabel>("Label17")->text(), QStringLiteral("总共：%1 页，当前 1 页").arg(pages));
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        EXPECT_TRUE(list->topLevelItem(i)->text(0).contains(u'a'))
            << list->topLevelItem(i)->text(0).toStdString();

    if (pages.toInt() > 1) {
        QTest::mouseClick(child<Command>("Command4"), Qt::LeftButton);
        ASSERT_TRUE(searched.wait(10000));
        EXPECT_EQ(child<QLabel>("Label17")->text(), QStringLiteral("总共：%1 页，当前 2 页").arg(pages));
    }

    const QString domain = list->topLevelItem(0)->text(0);
    QSignalSpy looked(&window->lookupCommand(), &LookupCommand::finished);
    auto* text4 = child<QLineEdit>("Text4");
    QTest::keyClicks(text4, domain);
    QTest::keyClick(text4, Qt::Key_Return);
    ASSERT_TRUE(looked.wait(10000));
    const QString result = child<QPlainTextEdit>("Text6")->toPlainText();
    EXPECT_TRUE(result.startsWith(QStringLiteral("查询完成..."))) << result.toStdString();
    EXPECT_TRUE(result.contains(QStringLiteral("预算 "))) << result.toStdString();
    EXPECT_EQ(list->topLevelItemCount(), 0);
}

namespace {

// Names on the service's drop list that start with `prefix` (all for an empty one), in com or net, by name:
// the rows a search for them lists, page after page, as CSV lines.
QStringList listedByName(const QString& dbPath, const QString& prefix) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(dbPath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    // The service may be storing its search index at that moment.
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(
        db,
        "SELECT name || '.' || suffix || ',' || length || ',' || suffix || ',' || deletion FROM domains "
        "WHERE deletion >= datetime('now', 'localtime') AND deletion < date('now', 'localtime', '+30 days') "
        "AND name LIKE ?1 || '%' AND suffix IN ('com', 'net') ORDER BY name, suffix",
        -1, &st, nullptr);
    const QByteArray p = prefix.toUtf8();
    sqlite3_bind_text(st, 1, p.constData(), int(p.size()), SQLITE_TRANSIENT);
    QStringList rows;
    while (sqlite3_step(st) == SQLITE_ROW)
        rows << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

QStringList csvLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {"missing"};
    QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << "byte-order mark";
    QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    EXPECT_EQ(lines.value(0), QStringLiteral("域名,长度,后缀,删除时间"));
    return lines.mid(1);
}

} // namespace

// The list's rows put to use: a double-click looks the row's domain up, Ctrl+C copies the
// selected names, and every page of the search goes into one CSV file.
TEST_F(FrmmainTest, ListRowsBecomeLookupsCopiesAndExports) {
    yuming::testing::ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.error().toStdString();
    open(settingsFor(service.address()));
    auto* list = child<QTreeWidget>("ListView1");
    QSignalSpy searched(&window->searchCommands(), &SearchCommands::finished);
    child<QRadioButton>("Option3_1")->setChecked(true); // by name
    QTest::mouseClick(child<Command>("Command1"), Qt::LeftButton);
    ASSERT_TRUE(searched.wait(10000));
    const QStringList want = listedByName(service.dbPath(), QString(""));
    ASSERT_GT(want.size(), 100) << "a search of a few pages";

    list->topLevelItem(1)->setSelected(true);
    list->topLevelItem(0)->setSelected(true);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              list->topLevelItem(0)->text(0) + u'\n' + list->topLevelItem(1)->text(0) + u'\n');

    // The whole search, then one cancelled after its first page; the list keeps its page.
    const QString first = list->topLevelItem(0)->text(0);
    const QString all = dir.filePath(QStringLiteral("all.csv"));
    int boxes = MessageBox::shownCount();
    MessageBox::setNextAnswer(MessageBox::Ok);
    window->exportAllPages(all, 0);
    ASSERT_TRUE(waitFor([&] { return MessageBox::shownCount() > boxes; }, kServiceWaitMs));
    EXPECT_EQ(csvLines(all), want);
    EXPECT_EQ(list->topLevelItem(0)->text(0), first);
    EXPECT_TRUE(child<Command>("Command1")->isEnabled());

    const QString part = dir.filePath(QStringLiteral("part.csv"));
    boxes = MessageBox::shownCount();
    MessageBox::setNextAnswer(MessageBox::Ok);
    window->exportAllPages(part, 200);
    auto* progress = window->findChild<QProgressDialog*>(QStringLiteral("ExportProgress"));
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(child<Command>("Command1")->isEnabled());
    ASSERT_TRUE(waitFor([&] { return progress->value() >= 1; }, kServiceWaitMs));
    // Enter in the boxes starts nothing while the export runs, as their locked buttons would not.
    child<QLineEdit>("Text4")->setText(first);
    QTest::keyClick(child<QLineEdit>("Text4"), Qt::Key_Return);
    QTest::keyClick(child<QLineEdit>("Text1"), Qt::Key_Return);
    EXPECT_FALSE(child<QWidget>("Box3")->isVisible()) << "no lookup in the middle of the export";
    const auto buttons = progress->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    QTest::mouseClick(buttons.first(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return MessageBox::shownCount() > boxes; }, kServiceWaitMs));
    EXPECT_EQ(csvLines(part), want.mid(0, 50));
    EXPECT_TRUE(MessageBox::lastShown().text.contains(QStringLiteral("取消")))
        << MessageBox::lastShown().text.toStdString();

    // A double-click on a row runs the lookup of its domain, as the lookup button does.
    QSignalSpy looked(&window->lookupCommand(), &LookupCommand::finished);
    const QRect row = list->visualItemRect(list->topLevelItem(2));
    const QString domain = list->topLevelItem(2)->text(0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
    ASSERT_TRUE(looked.wait(10000));
    EXPECT_EQ(child<QLineEdit>("Text4")->text(), domain);
    EXPECT_TRUE(child<QPlainTextEdit>("Text6")->toPlainText().startsWith(QStringLiteral("查询完成...")));
}
