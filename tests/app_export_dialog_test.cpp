#include "app/export_dialog.h"
#include "support/qt_print.h"
#include "support/wait_for.h"

#include <QAbstractProxyModel>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using yuming::ExportDialog;
using yuming::testing::waitFor;

namespace {

// Every test of this program runs with a home of its own: what the dialog and the window
// remember (theirs and Qt's) is written there, and the documents folder is looked for there.
class TemporaryHome : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral(".config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral(".local/share"))));
    }

private:
    QTemporaryDir m_home;
};
const ::testing::Environment* const kHome = ::testing::AddGlobalTestEnvironment(new TemporaryHome);

// A folder holding two entries that stop whoever opens them, as a file on a hung network or FUSE
// mount does: "held", a file under a write lease of this process, whose open() waits until the
// lease is given up, and "pipe", a FIFO without a writer. A second thread gives both up after
// a few seconds in any case, so a test of a dialog that does open them fails rather than hangs.
class BlockingFolder {
public:
    BlockingFolder() {
        m_sigio = std::signal(SIGIO, SIG_IGN); // the kernel's word that someone opened "held"
        QFile held(path(u"held"));
        if (held.open(QIODevice::WriteOnly)) held.write("abc");
        held.close();
        ::mkfifo(QFile::encodeName(path(u"pipe")).constData(), 0600);
        m_lease = ::open(QFile::encodeName(path(u"held")).constData(), O_RDONLY);
        m_held = m_lease >= 0 && ::fcntl(m_lease, F_SETLEASE, F_WRLCK) == 0;
        m_release = std::thread([this] {
            std::unique_lock lock(m_mutex);
            m_done.wait_for(lock, std::chrono::seconds(4), [this] { return m_finished; });
            release();
        });
    }
    ~BlockingFolder() {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_one();
        m_release.join();
        if (m_lease >= 0) ::close(m_lease);
        std::signal(SIGIO, m_sigio);
    }
    BlockingFolder(const BlockingFolder&) = delete;
    BlockingFolder& operator=(const BlockingFolder&) = delete;

    bool held() const { return m_held; }
    QString path(QStringView name = {}) const {
        return name.isEmpty() ? m_dir.path() : m_dir.filePath(name.toString());
    }

private:
    void release() {
        ::fcntl(m_lease, F_SETLEASE, F_UNLCK);
        // A reader waiting for the pipe's writer gets one, and then the end of the pipe.
        const int writer = ::open(QFile::encodeName(path(u"pipe")).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }

    QTemporaryDir m_dir;
    int m_lease = -1;
    bool m_held = false;
    void (*m_sigio)(int) = SIG_DFL;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_release;
};

// The longest the event loop went without serving a 20 ms timer, from now on.
class Stalls {
public:
    Stalls() {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_clock.restart()); });
        m_timer.start(20);
    }
    qint64 longestMs() const { return std::max(m_longest, m_clock.elapsed()); }
    void restart() {
        m_longest = 0;
        m_clock.restart();
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

} // namespace

TEST(ExportDialog, ListsFoldersOfFilesThatBlockWithoutStopping) {
    BlockingFolder start;
    if (!start.held()) GTEST_SKIP() << "this file system takes no leases";
    Stalls stalls;
    {
        ExportDialog dialog(nullptr, start.path());
        auto* files = dialog.findChild<QFileSystemModel*>();
        ASSERT_NE(files, nullptr);
        QSignalSpy listed(files, &QFileSystemModel::directoryLoaded);
        const auto loaded = [&](const QString& path) {
            return std::any_of(listed.begin(), listed.end(), [&](const QList<QVariant>& signal) {
                return signal.value(0).toString() == path;
            });
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

        QSignalSpy finished(&dialog, &QDialog::finished);
        QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel),
                          Qt::LeftButton);
        EXPECT_EQ(finished.count(), 1);
        EXPECT_FALSE(dialog.isVisible());
        stalls.restart();
    }
    EXPECT_LT(stalls.longestMs(), 1000) << "closing the dialog";
}

// Qt's own model shows "2.00 KiB" and the system locale's dates; the dialog shows them as a Chinese
// desktop does, and starts in the last export's folder, else in documents, else at home.
TEST(ExportDialog, ShowsChineseColumnsAndStartsInTheRightFolder) {
    QTemporaryDir folder;
    QDir(folder.path()).mkdir(QStringLiteral("sub"));
    QFile two(folder.filePath(QStringLiteral("two.csv")));
    ASSERT_TRUE(two.open(QIODevice::WriteOnly));
    two.write(QByteArray(2048, 'x'));
    two.flush();
    ASSERT_TRUE(
        two.setFileTime(QDateTime(QDate(2026, 3, 4), QTime(5, 6)), QFileDevice::FileModificationTime));
    two.close();
    ExportDialog dialog(nullptr, folder.path());
    auto* files = dialog.findChild<QFileSystemModel*>();
    QSignalSpy listed(files, &QFileSystemModel::directoryLoaded);
    dialog.open();
    ASSERT_TRUE(
        waitFor([&] { return listed.count() > 0 && files->rowCount(files->index(folder.path())) == 2; }));
    const QAbstractItemModel* shown = dialog.proxyModel();
    const auto cell = [&](const QString& name, int column) {
        const QModelIndex entry = files->index(folder.filePath(name), column);
        return dialog.proxyModel()->mapFromSource(entry).data().toString();
    };
    EXPECT_EQ(cell(QStringLiteral("two.csv"), 1), QStringLiteral("2.0 kB"));
    EXPECT_EQ(cell(QStringLiteral("two.csv"), 3), QStringLiteral("2026/3/4 05:06"));
    EXPECT_EQ(cell(QStringLiteral("sub"), 1), QString());
    EXPECT_EQ(cell(QStringLiteral("sub"), 2), QStringLiteral("文件夹"));
    QStringList headers;
    for (int c = 0; c < 4; ++c)
        headers << shown->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers, (QStringList{QStringLiteral("名称"), QStringLiteral("大小"), QStringLiteral("类型"),
                                    QStringLiteral("修改日期")}));
    dialog.reject();

    const QString home = QDir::homePath();
    const QString documents = home + QStringLiteral("/Documents");
    EXPECT_EQ(ExportDialog::startFolder(QString()), home);
    EXPECT_EQ(ExportDialog::startFolder(folder.filePath(QStringLiteral("gone"))), home);
    ASSERT_TRUE(QDir().mkpath(documents));
    EXPECT_EQ(ExportDialog::startFolder(QString()), documents);
    EXPECT_EQ(ExportDialog::startFolder(folder.path()), folder.path());
    QDir(documents).removeRecursively();
}
