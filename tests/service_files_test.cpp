// The service's files: a damaged database, or another program's, is refused at start, reported by
// "check" and never written to, a read that fails while serving is an error page; a seeding stopped
// by the file-size limit leaves nothing; the log it keeps stays bounded.
#include "service_test_util.h"

#include "lookup/lookup.h"
#include "search/request.h"
#include "store/sqlite_util.h"
#include "store/store.h"
#include "text/gbk.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <csignal>
#include <functional>
#include <random>

using namespace yuming;
using namespace yuming::testing;

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A copy of a small database made once by the service's own preparing code.
QString soundCopy(const QTemporaryDir& dir, const QString& name) {
    static QTemporaryDir home;
    static const QString sound = home.filePath(QStringLiteral("sound.sqlite"));
    std::string error;
    static const bool made =
        service::prepareDatabase(sound.toStdString(), {.seed = 3, .rows = 1000}, QDate::currentDate(), error);
    EXPECT_TRUE(made) << error;
    const QString path = dir.filePath(name + QStringLiteral(".sqlite"));
    QFile::copy(sound, path);
    return path;
}

// Overwrites the first page of b-tree `tree` with random bytes and counts the change in the
// header as a writer would, so connections with the old page cached read it again.
void damage(const QString& path, const QString& tree) {
    const auto root = Database(path).rows("SELECT rootpage FROM sqlite_schema WHERE name = ?", {tree});
    const qint64 size = Database(path).rows("PRAGMA page_size")[0][0].toLongLong();
    QByteArray bytes = contents(path);
    std::mt19937 random(7);
    for (qint64 i = (root[0][0].toLongLong() - 1) * size, end = i + size; i < end; ++i)
        bytes[i] = static_cast<char>(random());
    ++bytes[27]; // the low byte of the change counter
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.write(bytes) == bytes.size());
}

using Ran = ServiceRun;

Ran run(const QStringList& arguments, const std::function<void()>& inChild = {}) {
    return runService(arguments, inChild, 30000);
}

struct DamageCase {
    const char* name;
    const char* tree;
    bool lookupFails, listFails;
};

void PrintTo(const DamageCase& c, std::ostream* out) {
    *out << c.name;
}

class ServiceDamagedDatabase : public ::testing::TestWithParam<DamageCase> {};

} // namespace

TEST_P(ServiceDamagedDatabase, RefusedAtStartReportedByCheckNeverWrittenAndReadAsAnError) {
    const DamageCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = soundCopy(dir, c.name);
    const auto known = Database(path).rows("SELECT name, suffix FROM domains LIMIT 1");
    damage(path, c.tree);
    const QByteArray before = contents(path);

    const Ran served = run({"--listen", "127.0.0.1:0", "--db", path, "--idle-exit", "1", "--no-rdap"});
    EXPECT_EQ(served.exitCode, 1);
    EXPECT_TRUE(served.err.contains("is damaged: Page ")) << served.err.toStdString();
    EXPECT_FALSE(served.out.contains("listening"));
    const Ran checked = run({"check", "--db", path});
    EXPECT_EQ(checked.exitCode, 1);
    EXPECT_TRUE(checked.out.startsWith("Page ")) << checked.out.toStdString();
    // Preparing does not take unreadable names for a new database to seed.
    std::string error;
    service::prepareDatabase(path.toStdString(), {.seed = 4, .rows = 1000}, QDate::currentDate(), error);
    EXPECT_EQ(contents(path), before) << "the damaged file was written to";

    // Past the start check a read gives the right answer or an error, never "no such name" or an
    // empty list.
    service::Store store(path.toStdString());
    ASSERT_TRUE(store.isOpen()) << store.error();
    const auto lookup = store.registration(known[0][0].toStdString(), known[0][1].toStdString());
    EXPECT_EQ(!lookup.ok(), c.lookupFails) << lookup.error;
    EXPECT_TRUE(!lookup.ok() || lookup.value);
    const auto listed = store.listed(QDate::currentDate());
    EXPECT_EQ(!listed.ok(), c.listFails) << listed.error;
    EXPECT_TRUE(!listed.ok() || listed.value.size() == 1000u);
}

INSTANTIATE_TEST_SUITE_P(EachPart, ServiceDamagedDatabase,
                         ::testing::Values(DamageCase{"name_index", "sqlite_autoindex_domains_1", true,
                                                      false},
                                           DamageCase{"names", "domains", true, true},
                                           // Generated names' dates are shown by the day kept there.
                                           DamageCase{"date_mark", "meta", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServiceDamagedWhileServing, LookupThatCannotReadIsAnErrorPage) {
    QTemporaryDir dir;
    const QString path = soundCopy(dir, QStringLiteral("served"));
    const QString domain = Database(path).rows("SELECT name || '.' || suffix FROM domains LIMIT 1")[0][0];
    ServiceProcess service({.rows = 1000, .seed = 3, .dbPath = path});
    ASSERT_TRUE(service.start()) << service.error().toStdString();
    const ServiceAddress address{service.host(), service.port()};
    const auto lookup = [&] { return exchange(service.port(), lookupRequest(domain, address)); };
    ASSERT_EQ(statusOf(lookup()), 200);

    // A page the service wrote at start may still be in the write-ahead log, where it would hide the
    // damaged one in the file: the log is emptied first.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_busy_timeout(db, 10000);
        EXPECT_EQ(sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    damage(path, QStringLiteral("sqlite_autoindex_domains_1"));
    {
        // Any write makes the service's readers drop the pages they hold and read the file again.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_busy_timeout(db, 10000);
        EXPECT_EQ(
            sqlite3_exec(db, "UPDATE meta SET value = value WHERE key = 'dated'", nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(db);
    }
    const QByteArray answer = lookup();
    EXPECT_EQ(statusOf(answer), 500);
    EXPECT_TRUE(answer.contains("database disk image is malformed")) << answer.toStdString();
    EXPECT_EQ(parseLookupPage(fromGbk(answer)).outcome, LookupPage::Outcome::Failed);
}

TEST(ServiceCheck, SoundFileIsOkMissingOneIsAnErrorAndNotMade) {
    QTemporaryDir dir;
    const Ran sound = run({"check", "--db", soundCopy(dir, "sound")});
    EXPECT_EQ(sound.exitCode, 0);
    EXPECT_EQ(sound.out, "ok\n");
    const QString missing = dir.filePath(QStringLiteral("missing.sqlite"));
    const Ran absent = run({"check", "--db", missing});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_TRUE(absent.err.contains("cannot check " + missing.toUtf8() + ": No such file"));
    EXPECT_FALSE(QFile::exists(missing));
}

// Lines come in rounds of about 1 kB; the service looks at the size about once a second, so
// each file holds at most the limit and one round more.
TEST(ServiceLog, MovedAsideAtItsLimitAndKeptToTwoFiles) {
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("service.log"));
    constexpr qint64 kLimit = 1500;
    QProcess process;
    process.start(ServiceProcess::program(),
                  {"--listen", "127.0.0.1:0", "--db", soundCopy(dir, "logged"), "--log", log, "--log-limit",
                   QString::number(kLimit), "--no-rdap"});
    ASSERT_TRUE(process.waitForReadyRead(30000));
    const quint16 port = process.readLine().trimmed().split(':').last().toUShort();
    int sent = 0;
    for (int round = 0; round < 5; ++round) {
        for (int line = 0; line < 20; ++line)
            exchange(port, "GET /?n=" + QByteArray::number(++sent) + " HTTP/1.1\r\nHost: x\r\n\r\n");
        const QDeadlineTimer deadline(5000);
        while (QFileInfo(log).size() >= kLimit && !deadline.hasExpired())
            QThread::msleep(20);
    }
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_TRUE(process.readAllStandardError().isEmpty());

    const QByteArray older = contents(log + ".1");
    const QByteArray newer = contents(log);
    EXPECT_FALSE(QFile::exists(log + ".2"));
    for (const QByteArray& part : {older, newer}) {
        EXPECT_GT(part.size(), 0);
        EXPECT_LE(part.size(), kLimit + 20 * 60);
        EXPECT_TRUE(part.endsWith('\n'));
    }
    EXPECT_TRUE((older + newer).contains("GET /?n=" + QByteArray::number(sent) + " HTTP/1.1\" 200"));
    EXPECT_TRUE(newer.endsWith("yuming-service: stopped\n"));
}

namespace {

void exec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
}

} // namespace

// A database from before names had an origin: written here by hand as that version laid it out,
// dated two days ago, so opening it adds the column and shows the dates two days on, the rows
// left as they are. Its names were seeded, so it is marked as sample data.
TEST(ServiceMigration, AnOldDatabaseGainsOriginsKeepsEveryRowAndShowsItsDatesMoved) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.sqlite"));
    const QDate today = QDate::currentDate();
    const QString soon = today.addDays(3).toString(Qt::ISODate);
    const QString later = today.addDays(100).toString(Qt::ISODate);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
        exec(db,
             "CREATE TABLE domains (id INTEGER PRIMARY KEY, name TEXT NOT NULL, suffix TEXT NOT NULL, "
             "rname TEXT NOT NULL, length INTEGER NOT NULL, expiry TEXT NOT NULL, deletion TEXT NOT NULL, "
             "UNIQUE (name, suffix));"
             "CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);");
        const QString rows =
            QStringLiteral("INSERT INTO domains(name, suffix, rname, length, expiry, deletion) VALUES "
                           "('soon', 'com', 'noos', 4, '%1 08:00:00', '%2 02:30:00'),"
                           "('later', 'cn', 'retal', 5, '%3 09:10:11', '%4 04:30:00');"
                           "INSERT INTO meta VALUES ('dated', '%5'), ('seed', '9'), ('rows', '2'),"
                           "('generation', '4');")
                .arg(today.addDays(1 - 75).toString(Qt::ISODate), today.addDays(1).toString(Qt::ISODate),
                     today.addDays(82).toString(Qt::ISODate), today.addDays(98).toString(Qt::ISODate),
                     today.addDays(-2).toString(Qt::ISODate));
        exec(db, rows.toUtf8().constData());
        sqlite3_close(db);
    }
    std::string error;
    ASSERT_TRUE(service::prepareDatabase(path.toStdString(), {.seed = 1, .rows = 50}, today, error)) << error;

    const Database db(path);
    EXPECT_EQ(
        db.rows("SELECT name, suffix, rname, length, expiry, deletion, origin FROM domains ORDER BY id"),
        (QList<QStringList>{
            {"soon", "com", "noos", "4", today.addDays(-74).toString(Qt::ISODate) + " 08:00:00",
             today.addDays(1).toString(Qt::ISODate) + " 02:30:00", "0"},
            {"later", "cn", "retal", "5", today.addDays(82).toString(Qt::ISODate) + " 09:10:11",
             today.addDays(98).toString(Qt::ISODate) + " 04:30:00", "0"}}));
    EXPECT_EQ(db.rows("SELECT key, value FROM meta ORDER BY key"),
              (QList<QStringList>{{"dated", today.addDays(-2).toString(Qt::ISODate)},
                                  {"generation", "4"},
                                  {"rows", "2"},
                                  {"sample", "1"},
                                  {"seed", "9"},
                                  {"shown", today.toString(Qt::ISODate)}}));
    EXPECT_EQ(db.rows("SELECT * FROM pragma_application_id, pragma_user_version"),
              (QList<QStringList>{{"1500867945", "1"}}));
    // Generated names join the list 30 days before they go: only the first is on it.
    service::Store store(path.toStdString());
    const auto listed = store.listed(today);
    ASSERT_TRUE(listed.ok()) << listed.error;
    ASSERT_EQ(listed.value.size(), 1u);
    EXPECT_EQ(listed.value[0].name, "soon");
    EXPECT_EQ(listed.value[0].deletion, (soon + " 02:30:00").toStdString());
    const auto kept = store.registration("later", "cn");
    ASSERT_TRUE(kept.ok() && kept.value) << kept.error;
    EXPECT_EQ(kept.value->expiry, today.addDays(84).toString(Qt::ISODate).toStdString() + " 09:10:11");
    EXPECT_EQ(kept.value->deletion, (later + " 04:30:00").toStdString());
}

// Seeded names are sample data until real ones come in; what a registry tells of a name does not
// end it. A file seeded by a build that kept no mark is told by its rows: imported names are the
// only ones that build left with an origin of their own.
TEST(ServiceSampleMark, SetBySeedingKeptByLookupsAndFoundAgainInAnUnmarkedFile) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("seeded.sqlite")).toStdString();
    const QDate today = QDate::currentDate();
    std::string error;
    const auto prepare = [&] {
        EXPECT_TRUE(service::prepareDatabase(path, {.seed = 2, .rows = 20}, today, error)) << error;
        return Database(QString::fromStdString(path)).rows("SELECT value FROM meta WHERE key = 'sample'");
    };
    EXPECT_EQ(prepare(), QList<QStringList>{{"1"}});
    const auto learned = service::StoreWriter(path).learn(
        "learned", Com, service::Registration{"2020-01-01 00:00:00", "2020-02-14 00:00:00"}, true, today);
    ASSERT_TRUE(learned.ok()) << learned.error;
    EXPECT_TRUE(service::Store(path).sample().value);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    exec(db, "DELETE FROM meta WHERE key = 'sample'");
    EXPECT_EQ(prepare(), QList<QStringList>{{"1"}});
    exec(db, "DELETE FROM meta WHERE key = 'sample'; UPDATE domains SET origin = 1 WHERE id = 5");
    EXPECT_EQ(prepare(), QList<QStringList>{{"0"}});
    EXPECT_FALSE(service::Store(path).sample().value);
    // Once ended it stays so, even when the imported name goes again.
    exec(db, "UPDATE domains SET origin = 0 WHERE id = 5");
    EXPECT_EQ(prepare(), QList<QStringList>{{"0"}});
    sqlite3_close(db);
}

// A file another connection holds is a failure that passes, told by SQLite's code; one that is
// no database at all is not.
TEST(ServiceStoreErrors, ALockedFileIsBusyAndAFileThatIsNoDatabaseIsNot) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("held.sqlite"));
    std::string error;
    ASSERT_TRUE(
        service::prepareDatabase(path.toStdString(), {.seed = 1, .rows = 10}, QDate::currentDate(), error))
        << error;
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &holder), SQLITE_OK);
    // Readers of a write-ahead log wait for no writer; with a rollback journal they do.
    exec(holder, "PRAGMA journal_mode = DELETE");
    service::Store store(path.toStdString());
    ASSERT_TRUE(store.isOpen()) << store.error();
    const auto before = store.generation();
    ASSERT_TRUE(before.ok()) << before.error;
    exec(holder, "BEGIN EXCLUSIVE; UPDATE meta SET value = value + 1 WHERE key = 'generation'");
    const auto held = store.generation();
    exec(holder, "COMMIT");
    sqlite3_close(holder);
    EXPECT_FALSE(held.ok());
    EXPECT_TRUE(service::isBusy(held.code)) << held.code << ' ' << held.error;
    EXPECT_EQ(store.generation().value, before.value + 1);

    const QString text = dir.filePath(QStringLiteral("text.sqlite"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    const auto garbage = service::Store(text.toStdString()).generation();
    EXPECT_FALSE(garbage.ok());
    EXPECT_NE(garbage.code, 0);
    EXPECT_FALSE(service::isBusy(garbage.code)) << garbage.code << ' ' << garbage.error;
}

namespace {

// A hash of the file and of every file beside it that shares its name (its log, its index).
QByteArray fingerprint(const QString& path) {
    const QFileInfo file(path);
    const QDir dir = file.absoluteDir();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString& name : dir.entryList({file.fileName() + '*'}, QDir::Files, QDir::Name)) {
        hash.addData(name.toUtf8());
        hash.addData(contents(dir.filePath(name)));
    }
    return hash.result().toHex();
}

void withDatabase(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    exec(db, sql);
    sqlite3_close(db);
}

// The write-ahead log of another database, copied beside `path` before it was folded into its
// own: its frames replace the first page with one whose schema has no tables.
void foreignLogBeside(const QString& path) {
    const QString other = path + ".other";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.toUtf8().constData(), &db), SQLITE_OK);
    exec(db, "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; CREATE TABLE t (x); DROP TABLE t");
    EXPECT_TRUE(QFile::copy(other + "-wal", path + "-wal"));
    sqlite3_close(db);
    QFile::remove(other);
}

const QStringList serving(const QString& path) {
    return {"--listen", "127.0.0.1:0", "--db", path, "--rows", "500", "--idle-exit", "1", "--no-rdap"};
}

} // namespace

TEST(ServiceOtherFiles, RefusedByStartCheckAndImportAndLeftByteIdentical) {
    QTemporaryDir dir;
    const QString list = dir.filePath(QStringLiteral("list.txt"));
    {
        QFile file(list);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const QByteArray day = QDate::currentDate().addDays(3).toString(Qt::ISODate).toLatin1();
        file.write("first.com " + day + "\nsecond.net " + day + "\nthird.cn " + day + '\n');
    }
    const auto imported = [&](const QString& path) {
        ASSERT_EQ(run({"import", list, "--db", path}).exitCode, 0);
    };
    const struct {
        const char* name;
        std::function<void(const QString&)> make;
        const char* says;
    } cases[] = {
        {"unrelated",
         [](const QString& path) {
             withDatabase(path, "CREATE TABLE people (name TEXT); CREATE TABLE orders (id INTEGER);"
                                "INSERT INTO people VALUES ('someone')");
         },
         "is not a database of this service: it holds the tables orders, people"},
        {"table_less", [](const QString& path) { withDatabase(path, "CREATE TABLE t (x); DROP TABLE t"); },
         "is not a database of this service: it holds no tables"},
        {"imported_beside_a_foreign_log",
         [&](const QString& path) {
             imported(path);
             foreignLogBeside(path);
         },
         "it holds no tables (as read with the write-ahead log "},
        {"marked_without_its_names",
         [&](const QString& path) {
             imported(path);
             withDatabase(path, "DROP TABLE domains");
         },
         "is damaged: table domains is missing"},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        c.make(path);
        const QByteArray before = fingerprint(path);
        const Ran served = run(serving(path));
        EXPECT_EQ(served.exitCode, 1) << c.name;
        EXPECT_TRUE(served.err.contains(c.says)) << c.name << ": " << served.err.toStdString();
        EXPECT_FALSE(served.out.contains("listening")) << c.name;
        const Ran checked = run({"check", "--db", path});
        EXPECT_EQ(checked.exitCode, 1) << c.name;
        EXPECT_TRUE((checked.out + checked.err).contains(QByteArray(c.says).split(':').last().trimmed()))
            << c.name << ": " << checked.err.toStdString();
        const Ran into = run({"import", list, "--db", path});
        EXPECT_EQ(into.exitCode, 1) << c.name;
        EXPECT_TRUE(into.err.contains(c.says)) << c.name << ": " << into.err.toStdString();
        EXPECT_EQ(fingerprint(path), before) << c.name;
    }
}

// A database as an earlier version left it has no mark; its first start adds one and takes the
// search index stored in it as the names' own.
TEST(ServiceSchemaMark, WrittenAtCreationAndAddedToAnUnmarkedDatabaseWithoutRebuildingItsIndex) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("marked.sqlite"));
    const auto mark = [&] {
        return Database(path).rows("SELECT * FROM pragma_application_id, pragma_user_version");
    };
    const auto generation = [&] {
        return Database(path).rows("SELECT value FROM meta WHERE key = 'generation'");
    };
    ASSERT_EQ(run(serving(path)).exitCode, 0);
    EXPECT_EQ(mark(), (QList<QStringList>{{"1500867945", "1"}}));

    withDatabase(path, "PRAGMA application_id = 0; PRAGMA user_version = 0");
    const auto before = generation();
    const Ran again = run(serving(path));
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_FALSE(again.err.contains("building the search index")) << again.err.toStdString();
    EXPECT_EQ(mark(), (QList<QStringList>{{"1500867945", "1"}}));
    EXPECT_EQ(generation(), before);
}

// Past the limit a write fails instead of the signal ending the process without a word; the seeding
// is taken back to what the file was.
TEST(ServiceFileSizeLimit, SeedingFailsWithTheReasonAndLeavesNothing) {
    QTemporaryDir dir;
    const auto limited = [] {
        ::signal(SIGXFSZ, SIG_DFL);
        const rlimit limit{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const QString absent = dir.filePath(QStringLiteral("absent.sqlite"));
    const QString empty = dir.filePath(QStringLiteral("empty.sqlite"));
    QFile(empty).open(QIODevice::WriteOnly);
    for (const QString& path : {absent, empty}) {
        QStringList arguments = serving(path);
        arguments.replace(arguments.indexOf("500"), "20000");
        const Ran ran = run(arguments, limited);
        EXPECT_EQ(ran.exitCode, 1) << path.toStdString();
        EXPECT_TRUE(ran.err.contains(": the file-size limit was reached")) << ran.err.toStdString();
        EXPECT_EQ(QDir(dir.path()).entryList({QFileInfo(path).fileName() + '*'}, QDir::Files),
                  path == empty ? QStringList{"empty.sqlite"} : QStringList{});
        EXPECT_EQ(QFileInfo(empty).size(), 0);
    }
}
