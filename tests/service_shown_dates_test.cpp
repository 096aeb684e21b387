// Generated names seeded days ago are shown as of today without their rows being rewritten.

#include "service_test_util.h"

#include "catalog/catalog_keeper.h"
#include "catalog/catalog_store.h"
#include "import/drop_import.h"
#include "store/shown_dates.h"
#include "store/store.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace yuming;
using namespace yuming::testing;

TEST(ServiceShownDates, MovesTheDayAndKeepsTheRest) {
    EXPECT_EQ(service::movedByDays("2026-12-30 02:30:00", 3), "2027-01-02 02:30:00");
    EXPECT_EQ(service::movedByDays("2028-03-01 04:30:00", -1), "2028-02-29 04:30:00");
    EXPECT_EQ(service::movedByDays("2026-12-09", 0), "2026-12-09");
    EXPECT_EQ(service::movedByDays("12/09/2026 x", 5), "12/09/2026 x");
    service::DayMover mover(40);
    EXPECT_EQ(mover("2026-12-09 01:02:03"), "2027-01-18 01:02:03");
    EXPECT_EQ(mover("2026-12-09 23:59:59"), "2027-01-18 23:59:59");
}

namespace {

constexpr service::SeedOptions kSeed{.seed = 21, .rows = 400};

std::string prepared(const QString& path, QDate today) {
    std::string error;
    service::prepareDatabase(path.toStdString(), kSeed, today, error);
    return error;
}

// What a user of the list sees: every name listed with its deletion, and every kept name's dates.
QStringList seen(const QString& path, QDate today) {
    service::Store store(path.toStdString());
    QStringList out;
    const auto listed = store.listed(today);
    EXPECT_TRUE(listed.ok()) << listed.error;
    for (const auto& row : listed.value)
        out << QString::fromStdString(row.name + ' ' + row.deletion);
    for (const auto& row : Database(path).rows("SELECT name, suffix FROM domains ORDER BY name, suffix")) {
        const auto kept = store.registration(row[0].toStdString(), row[1].toStdString());
        EXPECT_TRUE(kept.ok() && kept.value) << kept.error;
        if (kept.value) out << QString::fromStdString(kept.value->expiry + ' ' + kept.value->deletion);
    }
    return out;
}

void exec(const QString& path, const QString& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message), SQLITE_OK)
        << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

struct Quiet : service::ImportObserver {
    void reading(std::uint64_t) override {}
    void skipped(const service::SkippedLine&) override {}
    void read(std::uint64_t) override {}
    void writing() override {}
};

} // namespace

// The same seed made 5 days ago and started today shows what the same seed made today shows: the
// rows the landed service would have moved by 5 days, the index stored back then moved alike.
TEST(ServiceShownDates, ADatabaseSeededDaysAgoShowsWhatOneSeededTodayShows) {
    QTemporaryDir dir;
    const QString old = dir.filePath("old.sqlite"), fresh = dir.filePath("fresh.sqlite");
    const QDate today = QDate::currentDate(), then = today.addDays(-5);
    const QTime noon(12, 0);
    ASSERT_EQ(prepared(old, then), "");
    {
        service::Store store(old.toStdString());
        const auto built = service::builtCatalogue(store, QDateTime(then, noon));
        ASSERT_TRUE(built.ok()) << built.error;
        ASSERT_EQ(service::StoreWriter(old.toStdString())
                      .saveCatalogue(built.value->image(), store.generation().value, then),
                  "");
    }
    const auto storedRows = Database(old).rows("SELECT * FROM domains ORDER BY id");
    ASSERT_EQ(prepared(old, today), "");
    ASSERT_EQ(prepared(fresh, today), "");
    EXPECT_EQ(Database(old).rows("SELECT * FROM domains ORDER BY id"), storedRows) << "rows were rewritten";

    EXPECT_EQ(seen(old, today), seen(fresh, today));
    const auto moved = service::openCatalogue(old.toStdString(), QDateTime(today, noon), false);
    ASSERT_TRUE(moved.catalog) << moved.error;
    EXPECT_TRUE(moved.unstored) << "a moved index is stored again";
    const auto built = service::openCatalogue(fresh.toStdString(), QDateTime(today, noon));
    ASSERT_TRUE(built.catalog) << built.error;
    EXPECT_GT(built.catalog->size(), 0u);
    EXPECT_EQ(moved.catalog->size(), built.catalog->size());
    EXPECT_TRUE(moved.catalog->image() == built.catalog->image()) << "the moved index differs";

    // An import's deletion is compared with a generated one as shown, not as stored: two days
    // before the shown one it is not the later.
    const auto name = Database(fresh).rows("SELECT name || '.' || suffix, date(deletion, '-2 days') FROM "
                                           "domains WHERE suffix <> 'cn' ORDER BY id LIMIT 1");
    const QString list = dir.filePath("list.txt");
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((name[0][0] + ' ' + name[0][1] + '\n').toUtf8());
    file.close();
    for (const QString& db : {old, fresh}) {
        Quiet quiet;
        const auto result = service::importDropLists(
            {{list.toStdString()}, db.toStdString(), false, QTimeZone::systemTimeZone(), today, {}}, quiet);
        ASSERT_TRUE(result.ok()) << result.error;
        EXPECT_EQ(result.counts.updated, 0);
        EXPECT_EQ(result.counts.unchanged, 1);
    }
    EXPECT_EQ(seen(old, today), seen(fresh, today));
}

// An older build opening the file moves the rows itself and stores an index of its own, leaving
// the moved index's note of its shift behind: that note is not taken for the new index's.
TEST(ServiceShownDates, AnIndexAnOlderBuildStoredIsNotMovedAgain) {
    QTemporaryDir dir;
    const QString old = dir.filePath("old.sqlite"), fresh = dir.filePath("fresh.sqlite");
    const QDate today = QDate::currentDate();
    const QTime noon(12, 0);
    ASSERT_EQ(prepared(old, today.addDays(-4)), "");
    ASSERT_EQ(prepared(old, today), "");
    const auto first = service::openCatalogue(old.toStdString(), QDateTime(today, noon));
    ASSERT_TRUE(first.catalog) << first.error;
    ASSERT_EQ(service::StoreWriter(old.toStdString())
                  .saveCatalogue(first.catalog->image(), first.generation, today),
              "");
    const auto note = Database(old).rows("SELECT value FROM meta WHERE key = 'catalogue_dates'");
    ASSERT_EQ(note.size(), 1);
    exec(old, "UPDATE domains SET expiry = datetime(expiry, '4 days'), deletion = datetime(deletion, "
              "'4 days') WHERE origin = 0; UPDATE meta SET value = '" +
                  today.toString(Qt::ISODate) +
                  "' WHERE key = 'dated'; UPDATE meta SET value = value + 1 WHERE key = 'generation'");
    {
        service::Store store(old.toStdString());
        const auto built = service::builtCatalogue(store, QDateTime(today, noon));
        ASSERT_TRUE(built.ok()) << built.error;
        ASSERT_EQ(service::StoreWriter(old.toStdString())
                      .saveCatalogue(built.value->image(), store.generation().value, today),
                  "");
    }
    exec(old, "UPDATE meta SET value = '" + note[0][0] + "' WHERE key = 'catalogue_dates'");

    ASSERT_EQ(prepared(old, today), "");
    ASSERT_EQ(prepared(fresh, today), "");
    EXPECT_EQ(seen(old, today), seen(fresh, today));
    const auto stored = service::openCatalogue(old.toStdString(), QDateTime(today, noon), false);
    ASSERT_TRUE(stored.catalog) << stored.error;
    EXPECT_FALSE(stored.unstored);
    const auto built = service::openCatalogue(fresh.toStdString(), QDateTime(today, noon));
    ASSERT_TRUE(built.catalog) << built.error;
    EXPECT_TRUE(stored.catalog->image() == built.catalog->image());
}
