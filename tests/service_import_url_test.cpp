// `yuming-service import` given URLs: fetched once over HTTP(S) into a file beside the database,
// reported by URL, and that file gone afterwards whether the import was taken, refused or ended
// by a signal.
#include "service_test_util.h"

#include "support/rdap_fixture.h"
#include "support/wait_for.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace yuming::testing;
using namespace std::chrono_literals;

namespace {

using Ran = ServiceRun;

Ran run(const QStringList& arguments) {
    return runService(arguments);
}

RdapFixture::Answer list(std::string body, std::vector<std::pair<std::string, std::string>> headers = {}) {
    RdapFixture::Answer a;
    a.contentType = "text/plain";
    a.body = std::move(body);
    a.headers = std::move(headers);
    return a;
}

// Everything in the database's folder but the database and its journal.
QStringList leftBeside(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".yuming-fetch"));
}

} // namespace

TEST(ImportUrl, AListFetchedOverHttpsIsImportedAndReportedByItsUrl) {
    RdapFixture server(true);
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("d.sqlite"));
    const QString day = QDate::currentDate().addDays(3).toString(Qt::ISODate);
    // Bare names take their day from the URL's file name, as from a file's.
    server.set("/rdap/drops-" + day.toStdString() + ".txt", list("alpha.com\nbad_name.com\nbeta.net\n"));
    const QString url = QString::fromStdString(server.baseUrl()) + "drops-" + day + ".txt?key=1";

    const Ran untrusted = run({"import", url, "--db", db});
    EXPECT_EQ(untrusted.exitCode, 1);
    EXPECT_TRUE(untrusted.err.startsWith("yuming-service: import failed: cannot fetch " + url.toUtf8() +
                                         ": certificate verify failed: "))
        << untrusted.err.toStdString();
    EXPECT_FALSE(QFile::exists(db));

    const Ran ran = run({"import", url, "--db", db, "--rdap-ca", QString::fromStdString(server.caFile())});
    EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_EQ(ran.out, "imported 1 file: 2 added, 0 updated, 0 unchanged, 1 skipped (1 bad name)\n");
    EXPECT_EQ(ran.err, url.toUtf8() + ":2: bad name: bad_name.com\n");
    EXPECT_EQ(Database(db).rows("SELECT name || '.' || suffix || ' ' || substr(deletion, 1, 10) FROM domains "
                                "ORDER BY 1"),
              (QList<QStringList>{{"alpha.com " + day}, {"beta.net " + day}}));
    EXPECT_EQ(leftBeside(dir), QStringList());
}

TEST(ImportUrl, AFetchThatFailsSaysWhyAndLeavesNothing) {
    RdapFixture server;
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("d.sqlite"));
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("a.com " + QDate::currentDate().addDays(2).toString(Qt::ISODate).toLatin1() + "\n");
    file.close();
    server.set("/rdap/ok.txt",
               list("b.com " + QDate::currentDate().toString(Qt::ISODate).toStdString() + "\n"));
    RdapFixture::Answer broken = list("oops");
    broken.status = 500;
    server.set("/rdap/broken", broken);
    server.set("/rdap/cut", list("c.com 2026-12-15\nd.com", {{"Content-Length", "1000"}}));
    const QString base = QString::fromStdString(server.baseUrl());

    const std::pair<QStringList, QByteArray> cases[] = {
        {{good, base + "ok.txt", base + "broken"},
         "cannot fetch " + base.toUtf8() + "broken: the server answered 500"},
        {{base + "cut", good},
         "cannot fetch " + base.toUtf8() + "cut: the answer was cut short after 22 bytes"},
        {{"HTTP://127.0.0.1:" + QString::number(server.port()) + "/rdap/missing"},
         "cannot fetch HTTP://127.0.0.1:" + QByteArray::number(server.port()) +
             "/rdap/missing: the server answered 404"},
    };
    for (const auto& [files, says] : cases) {
        const Ran ran = run(QStringList{"import"} + files + QStringList{"--db", db});
        EXPECT_EQ(ran.exitCode, 1);
        EXPECT_EQ(ran.err, "yuming-service: import failed: " + says + "; the database is as it was\n");
        EXPECT_FALSE(QFile::exists(db));
        EXPECT_EQ(leftBeside(dir), QStringList());
    }
    EXPECT_EQ(server.hits("/rdap/ok.txt"), 1);
}

TEST(ImportUrl, ASignalDuringTheFetchRemovesTheFile) {
    RdapFixture server;
    QTemporaryDir dir;
    RdapFixture::Answer slow = list("a.com 2026-12-15\n" + std::string(100, '#'));
    slow.trickle = true;
    slow.trickleStep = 100ms;
    server.set("/rdap/slow.txt", slow);
    for (const int signal : {SIGTERM, SIGINT}) {
        QProcess process;
        process.start(ServiceProcess::program(),
                      {"import", QString::fromStdString(server.baseUrl()) + "slow.txt", "--db",
                       dir.filePath(QStringLiteral("d.sqlite"))});
        ASSERT_TRUE(waitFor([&] { return !leftBeside(dir).isEmpty(); }, 10000));
        ::kill(static_cast<pid_t>(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit) << signal;
        EXPECT_EQ(leftBeside(dir), QStringList()) << signal;
    }
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("d.sqlite"))));
}
