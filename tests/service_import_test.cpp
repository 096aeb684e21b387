// Drop lists read into the database: every format and date form stored as the service keeps it,
// skipped lines named by file and line, all or nothing against failures and kill -9, merge and
// replace, and a database made by an import served with its names only.
#include "service_test_util.h"

#include "import/drop_import.h"
#include "protocol/search_page.h"
#include "search/request.h"
#include "support/wait_for.h"
#include "text/gbk.h"

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
#include <zlib.h>

#include <csignal>
#include <functional>

using namespace yuming;
using namespace yuming::testing;

namespace {

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes, bool gzip = false) {
    const QString path = dir.filePath(name);
    if (gzip) {
        gzFile file = gzopen(path.toUtf8().constData(), "wb");
        gzwrite(file, bytes.constData(), static_cast<unsigned>(bytes.size()));
        gzclose(file);
    } else {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    return path;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QStringList> names(const QString& db) {
    return Database(db).rows("SELECT name || '.' || suffix || ' ' || expiry || ' ' || deletion || ' ' || "
                             "origin FROM domains ORDER BY 1");
}

QStringList flat(const QList<QStringList>& rows) {
    QStringList out;
    for (const QStringList& row : rows)
        out << row.join(u'|');
    return out;
}

using Ran = ServiceRun;

Ran run(const QStringList& arguments, const std::function<void()>& inChild = {}) {
    return runService(arguments, inChild, 60000);
}

// Today's drop list holds days 0 to 29 from today; `day` from it, as the lists write it.
QByteArray day(int days) {
    return QDate::currentDate().addDays(days).toString(Qt::ISODate).toLatin1();
}

struct FormatCase {
    const char* name;
    QByteArray text;
    QStringList rows; // "name.suffix expiry deletion origin", sorted
    bool gzip = false;
};

void PrintTo(const FormatCase& c, std::ostream* out) {
    *out << c.name;
}

class ImportFormat : public ::testing::TestWithParam<FormatCase> {};

struct Quiet : service::ImportObserver {
    void reading(std::uint64_t) override {}
    void skipped(const service::SkippedLine& line) override {
        lines << QString::fromUtf8(line.text.data(), qsizetype(line.text.size()));
    }
    void read(std::uint64_t) override {}
    void writing() override {}
    QStringList lines;
};

} // namespace

TEST_P(ImportFormat, StoresNamesAndTimesAsTheServiceKeepsThem) {
    const FormatCase& c = GetParam();
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("d.sqlite"));
    Quiet quiet;
    const auto result =
        service::importDropLists({{write(dir, QStringLiteral("list"), c.text, c.gzip).toStdString()},
                                  db.toStdString(),
                                  false,
                                  QTimeZone("Asia/Shanghai"),
                                  QDate::currentDate(),
                                  std::nullopt},
                                 quiet);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(quiet.lines, QStringList());
    EXPECT_EQ(flat(names(db)), c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    EachForm, ImportFormat,
    ::testing::Values(
        FormatCase{
            "plain_each_separator_and_date_form",
            "a.com\t2026-12-15 03:04:05\nB.Net, 2026-12-15 03:04\n c.cn   2026-12-15\nd.org 2026/1/5 7:08\n"
            "e.com,2026-12-15T03:00:00.250+08:00\nf.com 2026-12-15T03:00:00Z\n\"g.com.\" 2026-12-15 03:00 "
            "-05:00\n",
            {"a.com 2026-10-01 03:04:05 2026-12-15 03:04:05 1",
             "b.net 2026-10-01 03:04:00 2026-12-15 03:04:00 1",
             "c.cn 2026-11-29 04:30:00 2026-12-15 04:30:00 1",
             "d.org 2025-10-22 07:08:00 2026-01-05 07:08:00 1",
             "e.com 2026-10-01 03:00:00 2026-12-15 03:00:00 1",
             "f.com 2026-10-01 11:00:00 2026-12-15 11:00:00 1",
             "g.com 2026-10-01 16:00:00 2026-12-15 16:00:00 1"}},
        FormatCase{"csv_english_header_quoted_fields_expiry_only",
                   "\xef\xbb\xbf Domain ,Status,\"Deletion "
                   "Date\",expiration\n\"ab.com\",\"pending\ndelete\",2026-12-15,\n"
                   "cd.net,\"a, \"\"b\"\"\",,2026-10-01 12:00\n",
                   {"ab.com 2026-10-01 02:30:00 2026-12-15 02:30:00 1",
                    "cd.net 2026-10-01 12:00:00 2026-12-15 02:30:00 1"}},
        FormatCase{"csv_chinese_header_in_gbk",
                   toGbk(u"# 今日删除\n状态;域名;删除时间;到期时间\n待删除;zh.cn;2026-12-20 05:00;\n"),
                   {"zh.cn 2026-12-04 05:00:00 2026-12-20 05:00:00 1"}},
        FormatCase{"csv_chinese_header_in_utf8_tabs",
                   QStringLiteral("域名\t过期时间\nu8.cn\t2026-12-01\n").toUtf8(),
                   {"u8.cn 2026-12-01 04:30:00 2026-12-17 04:30:00 1"}},
        FormatCase{"gzip_by_its_bytes",
                   "gz.com 2026-12-15\n",
                   {"gz.com 2026-10-01 02:30:00 2026-12-15 02:30:00 1"},
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImportCommand, SkippedLinesNamedByFileAndLineFirstTwentyOnlyAndASummary) {
    QTemporaryDir dir;
    QByteArray list =
        "# comment\n\nok.com 2026-12-15\nbad_name.com 2026-12-15\nx.io 2026-12-15\nx.com 2026-02-30\n"
        "x.net\nok.com 2026-12-20\n";
    for (int i = 0; i < 20; ++i)
        list += "-x.com 2026-12-15\n";
    const QString file = write(dir, QStringLiteral("l.txt"), list);
    const Ran ran = run({"import", file, "--db", dir.filePath(QStringLiteral("d.sqlite"))});
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_EQ(ran.out,
              "imported 1 file: 1 added, 0 updated, 0 unchanged, 25 skipped (21 bad name, 1 unsupported "
              "suffix, 1 bad date, 1 no date, 1 duplicate)\n");
    const QList<QByteArray> lines = ran.err.split('\n');
    ASSERT_EQ(lines.size(), 22) << ran.err.toStdString(); // 20, the note, and after the last line end
    const QByteArray f = file.toUtf8();
    EXPECT_EQ(lines[0], f + ":4: bad name: bad_name.com 2026-12-15");
    EXPECT_EQ(lines[1], f + ":5: unsupported suffix: x.io 2026-12-15");
    EXPECT_EQ(lines[2], f + ":6: bad date: x.com 2026-02-30");
    EXPECT_EQ(lines[3], f + ":7: no date: x.net");
    EXPECT_EQ(lines[4], f + ":8: duplicate: ok.com 2026-12-20");
    EXPECT_EQ(lines[19], f + ":23: bad name: -x.com 2026-12-15");
    EXPECT_FALSE(ran.err.contains('\r')) << "a progress bar where there is no terminal";
}

TEST(ImportCommand, UsageErrorsAndFilesThatCannotBeReadChangeNothing) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("d.sqlite"));
    const QString good = write(dir, QStringLiteral("g.txt"), "a.com 2026-12-15\n");
    const struct {
        QStringList args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"import", "--db", db}, 2, "import needs at least one file"},
        {{"import", good, "--db", db, "--rows", "5"}, 2, "import takes only"},
        {{"--replace", "--db", db}, 2, "unknown option: --replace"},
        {{"import", good, dir.filePath("missing.txt"), "--db", db}, 1, "missing.txt: No such file"},
        {{"import", good, dir.path(), "--db", db}, 1, "a folder, not a file"},
        {{"import",
          write(dir, "u16.txt",
                QByteArray("\xff\xfe"
                           "a\0.\0c\0",
                           8)),
          "--db", db},
         1,
         "UTF-16"},
        {{"import", write(dir, "none.txt", "# nothing\nbad\n"), "--db", db}, 1, "no names to import"},
        {{"import", good, "--db", db, "--date", "2026-1-5"}, 2, "bad option: --date 2026-1-5"},
        {{"import", good, "--db", db, "--date", "1984-12-31"}, 2, "bad option: --date 1984-12-31"},
        {{"--date", "2026-12-15", "--db", db}, 2, "unknown option: --date"},
        {{"import", write(dir, "bare.txt", "a.com\n"), "--db", db},
         1,
         "bare.txt: a list of bare names needs --date"},
    };
    for (const auto& c : cases) {
        const Ran ran = run(c.args);
        EXPECT_EQ(ran.exitCode, c.exitCode) << c.says;
        EXPECT_TRUE(ran.err.contains(c.says)) << ran.err.toStdString();
        EXPECT_FALSE(QFile::exists(db)) << c.says << ": a database was made";
    }
}

// Failures after the first file, while reading and while writing, and a kill in the middle.
TEST(ImportCommand, AllOrNothing) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("d.sqlite"));
    ASSERT_EQ(run({"import", write(dir, "first.txt", "kept.com 2026-12-15\n"), "--db", db}).exitCode, 0);
    const QByteArray before = contents(db);
    QByteArray many;
    many.reserve(400000 * 32);
    for (int i = 0; i < 400000; ++i)
        many.append("n").append(QByteArray::number(i)).append(".com\t2026-12-15 02:30:00\n");
    const QString large = write(dir, "large.txt", many);
    const QString cut = write(dir, "cut.gz", many.left(100000), true);
    QFile::resize(cut, QFileInfo(cut).size() - 8);
    const auto fileSizeLimit = [] {
        ::signal(SIGXFSZ, SIG_DFL);
        const rlimit limit{8 << 20, 8 << 20}; // past the file as it was, short of all the import writes
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const struct {
        const char* name;
        QStringList files;
        std::function<void()> inChild;
        const char* says;
    } cases[] = {
        {"folder_second", {large, dir.path()}, {}, "a folder"},
        {"compressed_file_ends_early", {large, cut}, {}, "ends early"},
        {"file_size_limit",
         {large},
         fileSizeLimit,
         ": the file-size limit was reached; the database is as it was"},
    };
    for (const auto& c : cases) {
        const Ran ran = run(QStringList{"import"} + c.files + QStringList{"--db", db}, c.inChild);
        EXPECT_EQ(ran.exitCode, 1) << c.name;
        EXPECT_TRUE(ran.err.contains(c.says)) << c.name << ": " << ran.err.toStdString();
        EXPECT_EQ(contents(db), before) << c.name;
        EXPECT_EQ(QFileInfo(db + "-wal").size(), 0) << c.name;
    }

    QProcess killed;
    killed.start(ServiceProcess::program(), {"import", large, "--db", db});
    ASSERT_TRUE(killed.waitForStarted());
    const QDeadlineTimer deadline(30000);
    // Caught as the names go into the log, before the commit that ends it.
    while (QFileInfo(db + "-wal").size() == 0 && killed.state() == QProcess::Running &&
           !deadline.hasExpired())
        QThread::usleep(200);
    ASSERT_EQ(killed.state(), QProcess::Running) << "the import ended before it was caught writing";
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    killed.waitForFinished();
    sqlite3* raw = nullptr; // read-write: the next connection takes back what the log holds
    ASSERT_EQ(sqlite3_open_v2(db.toUtf8().constData(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(raw, "PRAGMA integrity_check", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    EXPECT_EQ(Database(db).rows("PRAGMA integrity_check"), QList<QStringList>{{"ok"}});
    EXPECT_EQ(contents(db), before);
    EXPECT_EQ(QFileInfo(db + "-wal").size(), 0);
}

TEST(ImportCommand, MergeTakesLaterTimesReplaceTakesTheListAndTheServiceServesOnlyImportedNames) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("new/d.sqlite"));
    const auto import = [&](const QByteArray& list, QStringList extra = {}) {
        static int n = 0;
        const Ran ran =
            run(QStringList{"import", write(dir, QString::number(++n), list), "--db", db} + extra);
        EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
        return ran.out.trimmed();
    };
    const QByteArray first = "x.com " + day(5) + "\ny.net " + day(6) + "\nz.org " + day(7) + "\n";
    EXPECT_EQ(import(first), "imported 1 file: 3 added, 0 updated, 0 unchanged, 0 skipped");
    const QByteArray made = contents(db);
    EXPECT_EQ(import(first), "imported 1 file: 0 added, 0 updated, 3 unchanged, 0 skipped");
    EXPECT_EQ(contents(db), made) << "the same list again changed the file";
    EXPECT_EQ(Database(db).rows("SELECT value FROM meta WHERE key = 'generation'"),
              QList<QStringList>{{"1"}});

    EXPECT_EQ(import("x.com " + day(9) + "\ny.net " + day(2) + "\nw.cn " + day(3) + "\n"),
              "imported 1 file: 1 added, 1 updated, 1 unchanged, 0 skipped");
    const auto deletion = [&](const QString& name) {
        return Database(db).rows(
            "SELECT substr(deletion, 1, 10) FROM domains WHERE name || '.' || suffix = ?", {name});
    };
    EXPECT_EQ(deletion("x.com"), QList<QStringList>{{QString(day(9))}});
    EXPECT_EQ(deletion("y.net"), QList<QStringList>{{QString(day(6))}});
    EXPECT_EQ(Database(db).rows("SELECT value FROM meta WHERE key = 'generation'"),
              QList<QStringList>{{"2"}});

    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open_v2(db.toUtf8().constData(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        sqlite3_exec(raw, "INSERT INTO rdap_answers VALUES ('y.net', 1, 1, 'r')", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
    }
    EXPECT_EQ(import("x.com " + day(1) + "\nq.com " + day(4) + "\n", {"--replace"}),
              "imported 1 file: 1 added, 1 updated, 0 unchanged, 3 removed, 0 skipped");
    EXPECT_EQ(Database(db).rows("SELECT name || '.' || suffix, origin FROM domains ORDER BY 1"),
              (QList<QStringList>{{"q.com", "1"}, {"x.com", "1"}}));
    EXPECT_EQ(Database(db).rows("SELECT domain FROM rdap_answers"), QList<QStringList>{{"y.net"}});

    ServiceProcess service({.dbPath = db});
    ASSERT_TRUE(service.start()) << service.error().toStdString();
    const ServiceAddress address{service.host(), service.port()};
    const ResultPage page = parseResultPage(fromGbk(exchange(
        service.port(),
        searchRequest(u"key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_2&tsym=0&d=0&do=do&page=0", address))));
    ASSERT_EQ(page.rows.size(), 2);
    EXPECT_EQ(page.rows[0].domain(), u"q.com");
    EXPECT_EQ(page.rows[1].domain(), u"x.com");
}

// A seeded database is sample data, and the service says so on its pages, in the head of its
// search answers and when it starts; an import of one real name ends that while it serves.
TEST(ImportCommand, RealNamesEndTheSampleDataWhileTheServiceServes) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("seeded.sqlite"));
    ServiceProcess service({.rows = 300, .seed = 4, .dbPath = db, .extraArgs = {"--no-rdap"}});
    ASSERT_TRUE(service.start()) << service.error().toStdString();
    EXPECT_TRUE(service.log().contains("holds sample data (示例数据)")) << service.log().toStdString();
    const auto get = [&](const QByteArray& target) {
        return exchange(service.port(),
                        "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    };
    const auto head = [](const QByteArray& answer) { return answer.left(answer.indexOf("\r\n\r\n") + 2); };
    const QByteArray search =
        "/s/?key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&tsym=0&d=0&do=do&page=0";
    const QByteArray sample = toGbk(QStringLiteral("示例数据"));
    EXPECT_TRUE(bodyOf(get("/asd/yuming.htm")).contains(sample));
    EXPECT_TRUE(bodyOf(get("/")).contains(sample));
    EXPECT_TRUE(head(get(search)).contains("\r\nX-Yuming-Sample: 1\r\n"))
        << get(search).left(300).toStdString();

    const Ran ran = run({"import", write(dir, "list.txt", "real.com " + day(5) + "\n"), "--db", db});
    ASSERT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    ASSERT_TRUE(waitFor([&] { return !bodyOf(get("/asd/yuming.htm")).contains(sample); }, 10000));
    EXPECT_TRUE(bodyOf(get("/asd/yuming.htm")).contains(toGbk(QStringLiteral("个域名将在30天内删除"))));
    EXPECT_FALSE(bodyOf(get("/")).contains(sample));
    const QByteArray answer = get(search);
    EXPECT_EQ(statusOf(answer), 200);
    EXPECT_FALSE(head(answer).contains("X-Yuming-Sample")) << answer.left(300).toStdString();
}

namespace {

struct Reasons : service::ImportObserver {
    void reading(std::uint64_t) override {}
    void skipped(const service::SkippedLine& line) override {
        const QString file = QFileInfo(QString::fromStdString(line.file)).fileName();
        lines << file + ':' + QString::number(line.line) + ' ' + QLatin1String(skipReasonText(line.reason));
    }
    void read(std::uint64_t) override {}
    void writing() override {}
    QStringList lines;
};

struct Imported {
    service::ImportResult result;
    QStringList skipped;
    QStringList rows;
};

// Against a fixed today, so the window's far end is a date written here.
Imported importInto(const QString& db, const QStringList& files, std::optional<QDate> bareDay = {}) {
    std::vector<std::string> paths;
    for (const QString& file : files)
        paths.push_back(file.toStdString());
    Reasons reasons;
    const auto result = service::importDropLists(
        {paths, db.toStdString(), false, QTimeZone::utc(), QDate(2026, 12, 9), bareDay}, reasons);
    return {result, reasons.lines, QFile::exists(db) ? flat(names(db)) : QStringList()};
}

} // namespace

TEST(ImportDates, OnlyDatesFrom1985To100YearsAheadAreTaken) {
    QTemporaryDir dir;
    const Imported imported =
        importInto(dir.filePath("d.sqlite"),
                   {write(dir, "plain.txt",
                          "year0.com 0000-01-01\nold.com 1984-12-31 23:59\nfirst.com 1985-01-01\n"
                          "last.com 2126-12-09 23:59\npast.com 2126-12-10\n"),
                    write(dir, "expiry.csv", "domain,expiry\ne1.com,0000-01-01\ne2.com,2026-10-01\n")});
    ASSERT_TRUE(imported.result.ok()) << imported.result.error;
    EXPECT_EQ(imported.skipped, QStringList({"plain.txt:1 bad date", "plain.txt:2 bad date",
                                             "plain.txt:5 bad date", "expiry.csv:2 bad date"}));
    EXPECT_EQ(imported.rows, QStringList({"e2.com 2026-10-01 02:30:00 2026-12-15 02:30:00 1",
                                          "first.com 1984-10-18 02:30:00 1985-01-01 02:30:00 1",
                                          "last.com 2126-09-25 23:59:00 2126-12-09 23:59:00 1"}));
}

TEST(ImportDates, BareNamesTakeTheGivenDayOrTheOneInTheirFileName) {
    QTemporaryDir dir;
    const QString named = write(dir, "drops-12-15-2026.txt", "a.com\nb.cn\n");
    const QString compact = write(dir, "list20261216.txt", "\"c.com\"\n");
    const QString mixed = write(dir, "mixed-2026-12-17.txt", "d.com\ne.com 2026-12-20\nf.com\n");
    Imported imported = importInto(dir.filePath("1.sqlite"), {named, compact, mixed});
    ASSERT_TRUE(imported.result.ok()) << imported.result.error;
    EXPECT_EQ(imported.skipped,
              QStringList({"mixed-2026-12-17.txt:1 no date", "mixed-2026-12-17.txt:3 no date"}))
        << "a list that gives times has none for its bare names";
    EXPECT_EQ(imported.rows, QStringList({"a.com 2026-10-01 02:30:00 2026-12-15 02:30:00 1",
                                          "b.cn 2026-11-29 04:30:00 2026-12-15 04:30:00 1",
                                          "c.com 2026-10-02 02:30:00 2026-12-16 02:30:00 1",
                                          "e.com 2026-10-06 02:30:00 2026-12-20 02:30:00 1"}));

    imported = importInto(dir.filePath("2.sqlite"), {named, mixed}, QDate(2026, 12, 18));
    ASSERT_TRUE(imported.result.ok()) << imported.result.error;
    EXPECT_EQ(imported.skipped, QStringList());
    EXPECT_EQ(imported.rows, QStringList({"a.com 2026-10-04 02:30:00 2026-12-18 02:30:00 1",
                                          "b.cn 2026-12-02 04:30:00 2026-12-18 04:30:00 1",
                                          "d.com 2026-10-04 02:30:00 2026-12-18 02:30:00 1",
                                          "e.com 2026-10-06 02:30:00 2026-12-20 02:30:00 1",
                                          "f.com 2026-10-04 02:30:00 2026-12-18 02:30:00 1"}));

    const QString undated = write(dir, "bare-2026-12-15-2026-12-16.txt", "g.com\n");
    imported = importInto(dir.filePath("3.sqlite"), {named, undated});
    EXPECT_EQ(imported.result.error, undated.toStdString() +
                                         ": a list of bare names needs --date YYYY-MM-DD (or one date in the "
                                         "file's name)");
    EXPECT_FALSE(QFile::exists(dir.filePath("3.sqlite")));

    // The command line's --date, as the import command passes it on.
    const Ran ran = run({"import", undated, "--db", dir.filePath("4.sqlite"), "--date", "2026-12-18"});
    EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_EQ(flat(names(dir.filePath("4.sqlite"))),
              QStringList{"g.com 2026-10-04 02:30:00 2026-12-18 02:30:00 1"});
}

TEST(ImportDates, TheDateInAFileName) {
    const QDate today(2026, 12, 9);
    const std::pair<const char*, std::optional<QDate>> cases[] = {
        {"drops-2026-12-15.txt", QDate(2026, 12, 15)},
        {"12-15-2026.csv.gz", QDate(2026, 12, 15)},
        {"/lists/2020-01-01/pending_20261215", QDate(2026, 12, 15)},
        {"2026-12-15 then 2026-12-16", std::nullopt},
        {"list-12345678.txt", std::nullopt},
        {"202612150.txt", std::nullopt},
        {"1984-12-31.txt", std::nullopt},
    };
    for (const auto& [name, date] : cases)
        EXPECT_EQ(service::dateInFileName(name, today), date) << name;
}
