// The layouts published drop lists come in: zip archives made here with libarchive's writer (and
// the ones refused as bombs or for their paths), titles above a header, the header spellings, and
// dates written the US way, with month names and as Unix seconds.
#include "service_test_util.h"

#include "import/archive_reader.h"
#include "import/drop_import.h"
#include "support/zip_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>

using namespace yuming;
using namespace yuming::testing;

namespace {

using Member = ZipMember;

QString zip(const QTemporaryDir& dir, const QString& name, const std::vector<Member>& members,
            bool store = false) {
    return writeZip(dir, name, members, store);
}

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    return file.fileName();
}

struct Lines : service::ImportObserver {
    void reading(std::uint64_t) override {}
    void skipped(const service::SkippedLine& line) override {
        lines << QString::fromStdString(line.file) + ':' + QString::number(line.line) + ' ' +
                     QLatin1String(skipReasonText(line.reason));
    }
    void read(std::uint64_t) override {}
    void writing() override {}
    QStringList lines;
};

struct Imported {
    std::string error;
    QStringList skipped;
    QStringList rows; // "name.suffix expiry deletion", sorted
};

Imported importInto(const QString& db, const QStringList& files,
                    service::DateOrder order = service::DateOrder::Auto, std::optional<QDate> bareDay = {}) {
    service::ImportRequest request{{},     db.toStdString(), false, QTimeZone::utc(), QDate(2026, 12, 9),
                                   bareDay};
    for (const QString& file : files)
        request.files.push_back(file.toStdString());
    request.dateOrder = order;
    Lines lines;
    const auto result = service::importDropLists(request, lines);
    Imported imported{result.error, lines.lines, {}};
    if (QFile::exists(db))
        for (const QStringList& row : Database(db).rows(
                 "SELECT name || '.' || suffix || ' ' || expiry || ' ' || deletion FROM domains "
                 "ORDER BY 1"))
            imported.rows << row.join(u'|');
    return imported;
}

QByteArray listOf(int names, const char* date = "2026-12-15") {
    QByteArray text;
    for (int i = 0; i < names; ++i)
        text.append("name").append(QByteArray::number(i)).append(".com,").append(date).append('\n');
    return text;
}

} // namespace

TEST(ZipLists, EveryListMemberIsReadAndNothingElse) {
    QTemporaryDir dir;
    const QByteArray large = listOf(60000); // past the size a member's packing ratio is judged from
    for (const bool store : {false, true}) {
        const QString archive = zip(
            dir, store ? "stored.zip" : "deflated.zip",
            {{"lists/", {}, true},
             {"lists/drops.CSV", "Drop list of the day\n\nDomain Name,Delete Date\nab.com,2026-12-15\nbad\n"},
             {"lists/more.txt", "cd.net 2026-12-16 03:00\n"},
             {"lists/large", large},
             {"__MACOSX/lists/._drops.CSV", QByteArray("\0\5\26\7\0\2\0\0", 8)},
             {"lists/readme.pdf", "%PDF-1.4 ef.com 2026-12-15\n"}},
            store);
        const QString db = dir.filePath(store ? "s.sqlite" : "d.sqlite");
        const Imported imported = importInto(db, {archive});
        ASSERT_EQ(imported.error, "") << store;
        EXPECT_EQ(imported.skipped, QStringList{archive + ":lists/drops.CSV:5 bad name"});
        ASSERT_EQ(imported.rows.size(), 60002) << store;
        EXPECT_EQ(imported.rows[0], "ab.com 2026-10-01 02:30:00 2026-12-15 02:30:00");
        EXPECT_EQ(imported.rows[1], "cd.net 2026-10-02 03:00:00 2026-12-16 03:00:00");
        EXPECT_EQ(imported.rows[2], "name0.com 2026-10-01 02:30:00 2026-12-15 02:30:00");
    }
}

TEST(ZipLists, BombsClimbingPathsAndArchivesWithoutAListAreRefusedWithTheDatabaseUntouched) {
    QTemporaryDir dir;
    const QString db = dir.filePath("d.sqlite");
    ASSERT_EQ(importInto(db, {write(dir, "kept.txt", "kept.com 2026-12-15\n")}).error, "");
    const QByteArray before = [&] {
        QFile file(db);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    std::vector<Member> many;
    for (int i = 0; i < 65; ++i)
        many.push_back(
            {"part" + std::to_string(i) + ".txt", "n" + QByteArray::number(i) + ".com 2026-12-15\n"});
    const QString damaged = zip(dir, "damaged.zip", {{"a.csv", listOf(20000)}});
    QFile::resize(damaged, QFileInfo(damaged).size() / 2);
    const struct {
        QString file;
        const char* says;
    } cases[] = {
        {zip(dir, "climbs.zip",
             {{"ok.txt", "a.com 2026-12-15\n"}, {"x/../../evil.csv", "b.com 2026-12-15\n"}}),
         "a member named x/../../evil.csv points outside the archive"},
        {zip(dir, "absolute.zip", {{"/etc/drops.csv", "b.com 2026-12-15\n"}}),
         "a member named /etc/drops.csv points outside the archive"},
        {zip(dir, "many.zip", many), "more than 64 members"},
        {zip(dir, "bomb.zip", {{"zeros.txt", QByteArray(64 << 20, '0')}}),
         "member zeros.txt unpacks to more than 200 times its packed size"},
        {zip(dir, "sheet.xlsx", {{"[Content_Types].xml", "<x/>"}, {"xl/workbook.xml", "<w/>"}}),
         "a zip archive without a CSV or text file in it"},
        {damaged, "damaged archive"},
    };
    for (const auto& c : cases) {
        const Imported imported = importInto(db, {c.file});
        EXPECT_NE(imported.error.find(c.says), std::string::npos) << imported.error;
        EXPECT_EQ(imported.rows, QStringList{"kept.com 2026-10-01 02:30:00 2026-12-15 02:30:00"}) << c.says;
        QFile file(db);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll() == before) << c.says;
    }
}

TEST(ZipLists, AllMembersTogetherAreBoundedAndAGzipFileIsOneText) {
    QTemporaryDir dir;
    // Each alone is under the bound given, both together are over it.
    const QString archive = zip(dir, "two.zip", {{"a.txt", listOf(25000)}, {"b.txt", listOf(25000)}});
    const int fd = ::open(archive.toUtf8().constData(), O_RDONLY);
    ASSERT_GE(fd, 0);
    service::ArchiveReader reader(fd, {}, service::Packing::Zip, {64, 1 << 20, 200});
    std::string name;
    std::uint64_t unpacked = 0;
    while (reader.nextMember(name)) {
        std::string_view piece;
        while (reader.next(piece) && !piece.empty())
            unpacked += piece.size();
    }
    ::close(fd);
    EXPECT_EQ(reader.error(), "unpacks to more than 1 MiB; not read (an archive bomb?)");
    EXPECT_LE(unpacked, 1u << 20);

    // Two gzip streams one after the other read as one text, as gzip -d reads them.
    const QString gz = dir.filePath("two.gz");
    for (const char* line : {"a.com 2026-12-15\n", "b.com 2026-12-16\n"}) {
        gzFile file = gzopen(gz.toUtf8().constData(), "ab");
        gzwrite(file, line, static_cast<unsigned>(std::strlen(line)));
        gzclose(file);
    }
    const Imported imported = importInto(dir.filePath("d.sqlite"), {gz});
    ASSERT_EQ(imported.error, "");
    EXPECT_EQ(imported.rows, QStringList({"a.com 2026-10-01 02:30:00 2026-12-15 02:30:00",
                                          "b.com 2026-10-02 02:30:00 2026-12-16 02:30:00"}));
}

TEST(ListLayouts, TitlesHeaderSpellingsAndHeaderlessLines) {
    QTemporaryDir dir;
    const struct {
        const char* text;
        QStringList rows;
        QStringList skipped;
    } cases[] = {
        {"Pending delete list\nGenerated: 2026-12-09 06:00\n\n  Domain Name ; DeleteDate "
         ";x\nab.com;2026-12-15;1\n",
         {"ab.com 2026-10-01 02:30:00 2026-12-15 02:30:00"},
         {}},
        {"domain_name,drop_time\nab.com,2026-12-15 04:00\n",
         {"ab.com 2026-10-01 04:00:00 2026-12-15 04:00:00"},
         {}},
        {"Domain,drop date,Expiry Date\nab.com,,2026-10-01\n",
         {"ab.com 2026-10-01 02:30:00 2026-12-15 02:30:00"},
         {}},
        {"DOMAIN\tDeletion Date\nab.com\t2026-12-15\n",
         {"ab.com 2026-10-01 02:30:00 2026-12-15 02:30:00"},
         {}},
        {"domain,expires\nab.com,2026-10-01 08:00\n", {"ab.com 2026-10-01 08:00:00 2026-12-15 02:30:00"}, {}},
        // An auction's end is no deletion time: its names take the day given.
        {"Domain,End Date\nab.com,2026-12-01\n", {"ab.com 2026-10-04 02:30:00 2026-12-18 02:30:00"}, {}},
        {"ab.com,2026-12-15,12,\"Auction, ends\"\ncd.com,2026-12-16\n",
         {"ab.com 2026-10-01 02:30:00 2026-12-15 02:30:00", "cd.com 2026-10-02 02:30:00 2026-12-16 02:30:00"},
         {}},
        // A plain list's bad first lines are its lines still, not a title.
        {"bad line\nalso bad\nab.com 2026-12-15\n",
         {"ab.com 2026-10-01 02:30:00 2026-12-15 02:30:00"},
         {"1 bad name", "2 bad name"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString db = dir.filePath(QString::number(++n) + ".sqlite");
        const QString list = write(dir, "list.csv", c.text);
        const Imported imported = importInto(db, {list}, service::DateOrder::Auto, QDate(2026, 12, 18));
        EXPECT_EQ(imported.error, "") << c.text;
        EXPECT_EQ(imported.rows, c.rows) << c.text;
        QStringList skipped;
        for (const QString& line : c.skipped)
            skipped << list + ':' + line;
        EXPECT_EQ(imported.skipped, skipped) << c.text;
    }
}

TEST(ListDates, EachFormAndOrder) {
    using service::DateOrder;
    service::ZoneClock clock(QTimeZone("Asia/Shanghai"));
    const struct {
        const char* text;
        DateOrder order;
        const char* time; // empty: not a date
    } cases[] = {
        {"12/15/2026", DateOrder::Auto, "2026-12-15 00:00:00"},
        {"15/12/2026", DateOrder::Auto, "2026-12-15 00:00:00"},
        {"05/12/2026", DateOrder::Auto, ""},
        {"05/12/2026", DateOrder::MonthFirst, "2026-05-12 00:00:00"},
        {"05/12/2026", DateOrder::DayFirst, "2026-12-05 00:00:00"},
        {"15/12/2026", DateOrder::MonthFirst, ""},
        {"2/29/2027", DateOrder::Auto, ""},
        {"12/15/2026 2:30 PM", DateOrder::Auto, "2026-12-15 14:30:00"},
        {"12/15/2026 12:05:09 am", DateOrder::Auto, "2026-12-15 00:05:09"},
        {"12/15/2026 13:05 PM", DateOrder::Auto, ""},
        {"12/15/20261", DateOrder::Auto, ""},
        {"15-Dec-2026", DateOrder::Auto, "2026-12-15 00:00:00"},
        {"5-sep-2026 07:00", DateOrder::Auto, "2026-09-05 07:00:00"},
        {"15-Dez-2026", DateOrder::Auto, ""},
        {"1797301200", DateOrder::Auto, "2026-12-15 10:20:00"}, // 02:20 UTC, shown at +08:00
        {"2026-12-15 02:30 PM", DateOrder::Auto, ""},
    };
    for (const auto& c : cases) {
        const auto time = service::parseListTime(c.text, clock, c.order);
        char shown[32] = {};
        if (time) service::formatWallTime(time->time, shown);
        EXPECT_EQ(std::string(shown), c.time) << c.text;
    }
}

TEST(ListDates, AFileShowsItsOrderOnceAndOneThatNeverDoesIsRefusedNamingItsColumn) {
    QTemporaryDir dir;
    // The first two dates fit either way; the third is day first, and so were they.
    const QString dayFirst = write(dir, "eu.csv",
                                   "Domain,Delete Date\na.com,03/12/2026\nb.com,04/12/2026\n"
                                   "c.com,13/12/2026\nd.com,12/13/2026\n");
    Imported imported = importInto(dir.filePath("1.sqlite"), {dayFirst});
    ASSERT_EQ(imported.error, "");
    EXPECT_EQ(imported.rows, QStringList({"a.com 2026-09-19 02:30:00 2026-12-03 02:30:00",
                                          "b.com 2026-09-20 02:30:00 2026-12-04 02:30:00",
                                          "c.com 2026-09-29 02:30:00 2026-12-13 02:30:00"}));
    EXPECT_EQ(imported.skipped, QStringList{dayFirst + ":5 bad date"});

    const QString open = write(dir, "open.csv", "Domain,Delete Date\na.com,03/12/2026\nb.com,04/12/2026\n");
    imported = importInto(dir.filePath("2.sqlite"), {open});
    EXPECT_EQ(imported.error, open.toStdString() +
                                  ": every date in Delete Date may be read month first or day "
                                  "first: say which with --date-order mdy or dmy");
    EXPECT_FALSE(QFile::exists(dir.filePath("2.sqlite")));

    const QString headerless = write(dir, "plain.txt", "a.com 03/12/2026\n");
    EXPECT_NE(importInto(dir.filePath("3.sqlite"), {headerless}).error.find("every date in column 2"),
              std::string::npos);

    // Told on the command line.
    QProcess process;
    process.start(ServiceProcess::program(),
                  {"import", open, "--db", dir.filePath("4.sqlite"), "--date-order", "mdy"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(Database(dir.filePath("4.sqlite")).rows("SELECT name, deletion FROM domains ORDER BY 1"),
              QList<QStringList>({{"a", "2026-03-12 02:30:00"}, {"b", "2026-04-12 02:30:00"}}));
    process.start(ServiceProcess::program(),
                  {"import", open, "--db", dir.filePath("5.sqlite"), "--date-order", "ymd"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("bad option: --date-order ymd (mdy or dmy)"));
}
