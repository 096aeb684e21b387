#include "frmmain_fixture.h"

#include "controls/command.h"
#include "lookup/lookup.h"
#include "search/search_commands.h"
#include "support/service_process.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTreeWidget>

using namespace yuming;

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
    EXPECT_EQ(child<QLabel>("Label16")->text(), status::kDone.toString());
    ASSERT_GT(list->topLevelItemCount(), 0);
    const QString pages = window->searchCommands().state().PageCount;
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
    EXPECT_TRUE(result.startsWith(lookup_text::kFinished.toString())) << result.toStdString();
    EXPECT_TRUE(result.contains(lookup_text::kEstimated.toString())) << result.toStdString();
    EXPECT_EQ(list->topLevelItemCount(), 0);
}
