// Generated names seeded days ago are shown as of today without their rows being rewritten: the
// same seed made days ago and started today shows what it shows made today, as the landed
// service, which moved the rows, showed it.

#include "service_test_util.h"

#include "catalog/catalog_keeper.h"
#include "catalog/catalog_store.h"
#include "import/drop_import.h"
#include "store/store.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace yuming;
using namespace yuming::testing;

namespace {

const QDate kToday = QDate::currentDate();
const QDateTime kNoon(kToday, QTime(12, 0));

void prepare(const QString& path, QDate today) {
    std::string error;
    EXPECT_TRUE(service::prepareDatabase(path.toStdString(), {.seed = 21, .rows = 400}, today, error))
        << error;
}

void exec(const QString& path, const QString& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// Stores the index of the list at `now` as the service's keeper would.
void storeIndex(const QString& path, const QDateTime& now) {
    service::Store store(path.toStdString());
    const auto built = service::builtCatalogue(store, now);
    ASSERT_TRUE(built.ok()) << built.error;
    EXPECT_EQ(service::StoreWriter(path.toStdString())
                  .saveCatalogue(built.value->image(), store.generation().value, now.date()),
              "");
}

// The list with its deletions, every kept name's dates, and the stored index as opened today
// (whether it had to be moved, and then stored again).
QStringList seen(const QString& path, bool& moved, const QDateTime& now = kNoon) {
    service::Store store(path.toStdString());
    QStringList out;
    for (const auto& row : store.listed(kToday).value)
        out << QString::fromStdString(row.name + ' ' + row.deletion);
    for (const auto& row : Database(path).rows("SELECT name, suffix FROM domains ORDER BY name, suffix")) {
        const auto kept = store.registration(row[0].toStdString(), row[1].toStdString()).value;
        out << (kept ? QString::fromStdString(kept->expiry + ' ' + kept->deletion) : "none");
    }
    auto stored = service::storedCatalogue(store, now);
    moved = stored.value.moved;
    auto catalog = stored.value.catalog ? stored.value.catalog : service::builtCatalogue(store, now).value;
    if (!catalog) return out << "none";
    // Stored again as the keeper stores it.
    if (moved) {
        EXPECT_EQ(service::StoreWriter(path.toStdString())
                      .saveCatalogue(catalog->image(), stored.value.generation, kToday),
                  "");
    }
    out << QString::fromLatin1(QByteArray::fromStdString(std::string(catalog->image())).toBase64());
    return out;
}

struct Quiet : service::ImportObserver {
    void reading(std::uint64_t) override {}
    void skipped(const service::SkippedLine&) override {}
    void read(std::uint64_t) override {}
    void writing() override {}
};

} // namespace

TEST(ServiceShownDates, ADatabaseSeededDaysAgoShowsWhatOneSeededTodayShows) {
    QTemporaryDir dir;
    const QString old = dir.filePath("old.sqlite"), fresh = dir.filePath("fresh.sqlite");
    prepare(old, kToday.addDays(-5));
    storeIndex(old, kNoon.addDays(-5));
    const auto storedRows = Database(old).rows("SELECT * FROM domains ORDER BY id");
    // The service reads the stored index while the file is checked, before it is prepared.
    const auto early = service::openCatalogue(old.toStdString(), kNoon, false);
    prepare(old, kToday);
    ASSERT_TRUE(early.catalog) << early.error;
    EXPECT_TRUE(early.unstored) << "moved, to be stored again";
    EXPECT_TRUE(service::stillCurrent(early, old.toStdString())) << "read with today's dates";
    const std::string earlyImage(early.catalog->image());
    prepare(fresh, kToday);
    EXPECT_EQ(Database(old).rows("SELECT * FROM domains ORDER BY id"), storedRows) << "rows were rewritten";
    bool moved = false, built = false;
    EXPECT_EQ(seen(old, moved), seen(fresh, built));
    EXPECT_TRUE(moved) << "the index stored 5 days ago is moved and stored again";
    EXPECT_EQ(QByteArray::fromStdString(earlyImage).toBase64(), seen(fresh, built).last());

    // An older build opening the file moves the rows itself and stores an index of its own,
    // leaving the note of the moved index's shift behind: it is not taken for the new index's.
    const auto note = Database(old).rows("SELECT value FROM meta WHERE key = 'catalogue_dates'");
    ASSERT_EQ(note.size(), 1);
    exec(old, "UPDATE domains SET expiry = datetime(expiry, '5 days'), deletion = datetime(deletion, "
              "'5 days'); UPDATE meta SET value = date('now', 'localtime') WHERE key = 'dated'; "
              "UPDATE meta SET value = value + 1 WHERE key = 'generation'");
    storeIndex(old, kNoon);
    exec(old, "UPDATE meta SET value = '" + note[0][0] + "' WHERE key = 'catalogue_dates'");
    prepare(old, kToday);
    EXPECT_EQ(seen(old, moved), seen(fresh, built));
    EXPECT_FALSE(moved);

    // An import's deletion two days before a generated one as shown is not the later one.
    const auto name = Database(fresh).rows("SELECT name || '.' || suffix || ' ' || date(deletion, '-2 days') "
                                           "FROM domains WHERE suffix <> 'cn' ORDER BY id LIMIT 1");
    const QString list = dir.filePath("list.txt");
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(name[0][0].toUtf8()) > 0);
    file.close();
    for (const QString& db : {old, fresh}) {
        Quiet quiet;
        const auto result = service::importDropLists(
            {{list.toStdString()}, db.toStdString(), false, QTimeZone::systemTimeZone(), kToday, {}}, quiet);
        EXPECT_EQ(result.counts.unchanged, 1) << result.error;
    }
    EXPECT_EQ(seen(old, moved), seen(fresh, built));
}

// An index made at five in the morning lacks that day's deletions at 02:30 and 04:30; five days
// later at one in the morning those of the day are on the list again, so it is made afresh.
TEST(ServiceShownDates, AnIndexMissingNamesBackOnTheListIsMadeAfresh) {
    QTemporaryDir dir;
    const QString old = dir.filePath("old.sqlite"), fresh = dir.filePath("fresh.sqlite");
    prepare(old, kToday.addDays(-5));
    storeIndex(old, QDateTime(kToday.addDays(-5), QTime(5, 0)));
    prepare(old, kToday);
    prepare(fresh, kToday);
    bool moved = true, built = false;
    const QDateTime early(kToday, QTime(1, 0));
    EXPECT_EQ(seen(old, moved, early), seen(fresh, built, early));
    EXPECT_FALSE(moved);
}
