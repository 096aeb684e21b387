#include "frmmain_fixture.h"

#include "app/message_box.h"
#include "controls/command.h"
#include "search/search_commands.h"
#include "support/qt_print.h"
#include "support/wait_for.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

using namespace yuming;
using yuming::testing::waitFor;

class FrmmainExportTest : public FrmmainTest {
protected:
    // The box `exporting` ends with, answered as soon as it is asked for.
    template <class Export> MessageBox::Shown boxOf(Export exporting) {
        const int boxes = MessageBox::shownCount();
        MessageBox::setNextAnswer(MessageBox::Ok);
        exporting();
        EXPECT_TRUE(waitFor([&] { return MessageBox::shownCount() > boxes; }));
        return MessageBox::lastShown();
    }
    MessageBox::Shown exportShown(const QString& path) {
        return boxOf([&] { window->exportShownPage(path); });
    }
    MessageBox::Shown exportAll(const QString& path) {
        return boxOf([&] { window->exportAllPages(path, 0); });
    }
};

// Both exports say what they wrote and where, or why they wrote nothing, with the icon that fits.
TEST_F(FrmmainExportTest, BothExportsSayWhatHappened) {
    server.setScript({ScriptServer::send(searchPage(
        QStringLiteral("1"), {{"a.com", "1", "com", "2026-12-10"}, {"b.net", "1", "net", "2026-12-11"}}))});
    open();
    QSignalSpy searched(&window->searchCommands(), &SearchCommands::finished);
    QTest::mouseClick(child<Command>("Command1"), Qt::LeftButton);
    ASSERT_TRUE(searched.wait(5000));

    const QString page = dir.filePath(QStringLiteral("page.csv"));
    MessageBox::Shown box = exportShown(page);
    EXPECT_EQ(box.icon, MessageBox::Icon::Information);
    EXPECT_EQ(box.title, QStringLiteral("提示"));
    EXPECT_EQ(box.text, QStringLiteral("已导出本页 2 行：\n") + page);
    const QString all = dir.filePath(QStringLiteral("all.csv"));
    box = exportAll(all);
    EXPECT_EQ(box.icon, MessageBox::Icon::Information);
    EXPECT_EQ(box.text, QStringLiteral("已导出全部 1 页，共 2 行：\n") + all);

    const QString nowhere = dir.filePath(QStringLiteral("gone/page.csv"));
    for (const MessageBox::Shown& failed : {exportShown(nowhere), exportAll(nowhere)}) {
        EXPECT_EQ(failed.icon, MessageBox::Icon::Warning);
        EXPECT_TRUE(failed.text.startsWith(QStringLiteral("无法写入文件（"))) << failed.text.toStdString();
        EXPECT_TRUE(failed.text.endsWith(QStringLiteral("）：\n") + nowhere)) << failed.text.toStdString();
        EXPECT_GT(failed.text.size(), QStringLiteral("无法写入文件（）：\n").size() + nowhere.size())
            << "a reason";
    }
    server.setScript({ScriptServer::close()});
    box = exportAll(all);
    EXPECT_EQ(box.icon, MessageBox::Icon::Warning);
    EXPECT_EQ(box.text, QStringLiteral("第 1 页获取出错，导出停止。文件只含前 0 页（共 0 行）：\n") + all);
    EXPECT_EQ(lastExportFolder(window->settings()), dir.path()) << "where the last file was written";
}

// The list's export commands ask for the file in a dialog that leaves the window running; the
// next dialog opens where the last export went.
TEST_F(FrmmainExportTest, TheDialogAnswersLaterAndTheNextStartsWhereTheLastExportWent) {
    open();
    const auto ask = [&] {
        window->askExportFile(Frmmain::ExportScope::ShownPage);
        return window->findChild<QFileDialog*>(QStringLiteral("ExportDialog"));
    };
    QFileDialog* first = ask();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible()) << "open() returns with the dialog up";
    EXPECT_EQ(first->directory().absolutePath(), QDir::homePath());

    QDir(dir.path()).mkdir(QStringLiteral("out"));
    const QString path = dir.filePath(QStringLiteral("out/x.csv"));
    const MessageBox::Shown box = boxOf([&] {
        first->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        QTest::mouseClick(first->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save),
                          Qt::LeftButton);
    });
    EXPECT_EQ(box.text, QStringLiteral("已导出本页 0 行：\n") + path);
    ASSERT_TRUE(waitFor([&] { return !window->findChild<QFileDialog*>(); }))
        << "the dialog goes when answered";

    window.reset();
    open();
    QFileDialog* next = ask();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->directory().absolutePath(), dir.filePath(QStringLiteral("out")));
}
