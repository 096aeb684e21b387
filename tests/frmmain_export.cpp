#include "frmmain_fixture.h"

#include "app/message_box.h"
#include "controls/command.h"
#include "search/search_commands.h"
#include "support/qt_print.h"
#include "support/wait_for.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

using namespace yuming;
using yuming::testing::waitFor;

namespace {

const QList<QStringList> kRows{
    {QStringLiteral("abc.com"), QStringLiteral("3"), QStringLiteral("com"), QStringLiteral("2026-12-10")},
    {QStringLiteral("abcd.net"), QStringLiteral("4"), QStringLiteral("net"), QStringLiteral("2026-12-11")},
};

} // namespace

class FrmmainExportTest : public FrmmainTest {
protected:
    void searchOnePage() {
        server.setScript({ScriptServer::send(searchPage(QStringLiteral("1"), kRows))});
        open();
        QSignalSpy finished(&window->searchCommands(), &SearchCommands::finished);
        QTest::mouseClick(child<Command>("Command1"), Qt::LeftButton);
        ASSERT_TRUE(finished.wait(5000));
    }
    // The box the export ends with, answered as soon as it is asked for.
    MessageBox::Shown exportAll(const QString& path) {
        const int boxes = MessageBox::shownCount();
        MessageBox::setNextAnswer(MessageBox::Ok);
        window->exportAllPages(path, 0);
        EXPECT_TRUE(waitFor([&] { return MessageBox::shownCount() > boxes; }));
        return MessageBox::lastShown();
    }
    MessageBox::Shown exportShown(const QString& path) {
        MessageBox::setNextAnswer(MessageBox::Ok);
        window->exportShownPage(path);
        return MessageBox::lastShown();
    }
    static void expectWriteFailed(const MessageBox::Shown& box, const QString& path) {
        EXPECT_EQ(box.icon, MessageBox::Icon::Warning);
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("无法写入文件（"))) << box.text.toStdString();
        EXPECT_TRUE(box.text.endsWith(QStringLiteral("）：\n") + path)) << box.text.toStdString();
        EXPECT_GT(box.text.size(), QStringLiteral("无法写入文件（）：\n").size() + path.size()) << "a reason";
    }
};

// Both exports say what they wrote and where, or why they wrote nothing, with the icon that fits.
TEST_F(FrmmainExportTest, BothExportsSayWhatHappened) {
    searchOnePage();
    const QString page = dir.filePath(QStringLiteral("page.csv"));
    MessageBox::Shown box = exportShown(page);
    EXPECT_EQ(box.icon, MessageBox::Icon::Information);
    EXPECT_EQ(box.title, QStringLiteral("提示"));
    EXPECT_EQ(box.text, QStringLiteral("已导出本页 2 行：\n") + page);
    QFile written(page);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("\xEF\xBB\xBF") + "域名,长度,后缀,删除时间\r\n"
                                                              "abc.com,3,com,2026-12-10\r\n"
                                                              "abcd.net,4,net,2026-12-11\r\n");

    const QString nowhere = dir.filePath(QStringLiteral("gone/page.csv"));
    expectWriteFailed(exportShown(nowhere), nowhere);
    expectWriteFailed(exportAll(nowhere), nowhere);
    EXPECT_EQ(lastExportFolder(window->settings()), dir.path()) << "where the last file was written";

    const QString all = dir.filePath(QStringLiteral("all.csv"));
    box = exportAll(all);
    EXPECT_EQ(box.icon, MessageBox::Icon::Information);
    EXPECT_EQ(box.text, QStringLiteral("已导出全部 1 页，共 2 行：\n") + all);

    server.setScript({ScriptServer::close()});
    box = exportAll(all);
    EXPECT_EQ(box.icon, MessageBox::Icon::Warning);
    EXPECT_EQ(box.text, QStringLiteral("第 1 页获取出错，导出停止。文件只含前 0 页（共 0 行）：\n") + all);
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
    const int boxes = MessageBox::shownCount();
    MessageBox::setNextAnswer(MessageBox::Ok);
    first->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
    QTest::mouseClick(first->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return MessageBox::shownCount() > boxes; }));
    EXPECT_EQ(MessageBox::lastShown().text, QStringLiteral("已导出本页 0 行：\n") + path);
    EXPECT_TRUE(QFile::exists(path));
    ASSERT_TRUE(waitFor([&] { return !window->findChild<QFileDialog*>(); }))
        << "the dialog goes when answered";

    window.reset();
    open();
    QFileDialog* next = ask();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->directory().absolutePath(), dir.filePath(QStringLiteral("out")));
    next->reject();
}
