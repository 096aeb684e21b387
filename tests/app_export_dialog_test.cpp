#include "app/export_dialog.h"
#include "support/qt_print.h"
#include "support/wait_for.h"

#include <QAbstractProxyModel>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using yuming::ExportDialog;
using yuming::testing::waitFor;

namespace {

// This program's tests run in a home of their own: what the window and Qt's dialog remember is
// written there, and the documents folder is looked for there.
struct TemporaryHome : ::testing::Environment {
    void SetUp() override {
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    }
    QTemporaryDir home;
};
const auto* const kHome = ::testing::AddGlobalTestEnvironment(new TemporaryHome);

// A folder of entries that stop whoever opens them, as files on a hung network mount do: "held",
// a file under this process's write lease (its open() waits for the lease), and "pipe", a FIFO
// without a writer. Another thread lets both go after 4 s, so a dialog that opens them fails the
// test rather than hanging it.
class BlockingFolder {
public:
    BlockingFolder() {
        QFile(path(u"held")).open(QIODevice::WriteOnly);
        ::mkfifo(QFile::encodeName(path(u"pipe")).constData(), 0600);
        m_lease = ::open(QFile::encodeName(path(u"held")).constData(), O_RDONLY);
        m_held = ::fcntl(m_lease, F_SETLEASE, F_WRLCK) == 0;
        m_release = std::thread([this, done = m_done.get_future()] {
            done.wait_for(std::chrono::seconds(4));
            ::fcntl(m_lease, F_SETLEASE, F_UNLCK);
            ::close(::open(QFile::encodeName(path(u"pipe")).constData(), O_WRONLY | O_NONBLOCK));
        });
    }
    ~BlockingFolder() {
        m_done.set_value();
        m_release.join();
        ::close(m_lease);
    }
    bool held() const { return m_held; }
    QString path(QStringView name = {}) const {
        return name.isEmpty() ? m_dir.path() : m_dir.filePath(name.toString());
    }

private:
    QTemporaryDir m_dir;
    int m_lease = -1;
    bool m_held = false;
    std::promise<void> m_done;
    std::thread m_release;
};

// The longest the event loop went without serving a 20 ms timer since the last restart().
struct Stalls {
    Stalls() {
        QObject::connect(&timer, &QTimer::timeout, [this] { longest = std::max(longest, clock.restart()); });
        timer.start(20);
        clock.start();
    }
    qint64 longestMs() const { return std::max(longest, clock.elapsed()); }
    void restart() { longest = 0, clock.restart(); }
    QTimer timer;
    QElapsedTimer clock;
    qint64 longest = 0;
};

} // namespace

TEST(ExportDialog, ListsFoldersOfFilesThatBlockWithoutStopping) {
    std::signal(SIGIO, SIG_IGN); // the kernel's word to the lease holder that someone opened "held"
    BlockingFolder start;
    if (!start.held()) GTEST_SKIP() << "this file system takes no leases";
    Stalls stalls;
    {
        ExportDialog dialog(nullptr, start.path());
        QSignalSpy listed(dialog.findChild<QFileSystemModel*>(), &QFileSystemModel::directoryLoaded);
        const auto loaded = [&](const QString& path) {
            return std::any_of(listed.begin(), listed.end(),
                               [&](const auto& signal) { return signal[0] == path; });
        };
        dialog.open();
        ASSERT_TRUE(waitFor([&] { return loaded(start.path()); }, 3000));
        EXPECT_LT(stalls.longestMs(), 1000) << "listing the folder it starts in";

        // The name box lists the folder typed into it as soon as its "/" is typed.
        BlockingFolder typed;
        stalls.restart();
        QTest::keyClicks(dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")), typed.path(u"held"));
        ASSERT_TRUE(waitFor([&] { return loaded(typed.path()); }, 3000));
        EXPECT_LT(stalls.longestMs(), 1000) << "listing a folder typed into the name box";

        QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel),
                          Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
        stalls.restart();
    }
    EXPECT_LT(stalls.longestMs(), 1000) << "closing the dialog";
    std::signal(SIGIO, SIG_DFL);
}

// Sizes and dates as a Chinese desktop shows them (Qt's model says "2.00 KiB" and uses the system
// locale); the start: the last export's folder, else documents, else home.
TEST(ExportDialog, ShowsChineseColumnsAndStartsInTheRightFolder) {
    QTemporaryDir folder;
    QDir(folder.path()).mkdir(QStringLiteral("sub"));
    QFile two(folder.filePath(QStringLiteral("two.csv")));
    ASSERT_TRUE(two.open(QIODevice::WriteOnly) && two.write(QByteArray(2048, 'x')) == 2048 && two.flush());
    ASSERT_TRUE(
        two.setFileTime(QDateTime(QDate(2026, 3, 4), QTime(5, 6)), QFileDevice::FileModificationTime));
    ExportDialog dialog(nullptr, folder.path());
    auto* files = dialog.findChild<QFileSystemModel*>();
    dialog.open();
    ASSERT_TRUE(waitFor([&] { return files->rowCount(files->index(folder.path())) == 2; }));
    const auto cell = [&](const char* name, int column) {
        const QModelIndex entry = files->index(folder.filePath(QString::fromUtf8(name)), column);
        return dialog.proxyModel()->mapFromSource(entry).data().toString();
    };
    EXPECT_EQ(cell("two.csv", 1), QStringLiteral("2.0 kB"));
    EXPECT_EQ(cell("two.csv", 3), QStringLiteral("2026/3/4 05:06"));
    EXPECT_EQ(cell("sub", 2), QStringLiteral("文件夹"));
    EXPECT_EQ(dialog.proxyModel()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("大小"));
    dialog.reject();

    const QString documents = QDir::homePath() + QStringLiteral("/Documents");
    EXPECT_EQ(ExportDialog::startFolder(folder.filePath(QStringLiteral("gone"))), QDir::homePath());
    ASSERT_TRUE(QDir().mkpath(documents));
    EXPECT_EQ(ExportDialog::startFolder(QString()), documents);
    EXPECT_EQ(ExportDialog::startFolder(folder.path()), folder.path());
    QDir(documents).removeRecursively();
}
