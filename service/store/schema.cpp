#include "store/schema.h"

#include "store/listing_rule.h"
#include "store/meta.h"
#include "store/sqlite_util.h"

#include <optional>
#include <string>
#include <utility>

namespace yuming::service {

namespace {

// The tables' origin 0, the column's default, is a generated name: what seeding writes and what
// moves with the calendar.
static_assert(static_cast<int>(Origin::Generated) == 0);

constexpr std::string_view kSchema = R"sql(
CREATE TABLE IF NOT EXISTS domains (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    suffix TEXT NOT NULL,
    rname TEXT NOT NULL,
    length INTEGER NOT NULL,
    expiry TEXT NOT NULL,
    deletion TEXT NOT NULL,
    origin INTEGER NOT NULL DEFAULT 0,
    UNIQUE (name, suffix)
);
CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS catalogue_parts (part INTEGER PRIMARY KEY, data BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS rdap_answers (
    domain TEXT PRIMARY KEY,
    fetched INTEGER NOT NULL,
    found INTEGER NOT NULL,
    record TEXT NOT NULL
) WITHOUT ROWID;
)sql";

// Built after the rows are in: one sort per index instead of 200,000 insertions into a b-tree.
// UNIQUE (name, suffix) serves the lookup and prefix queries on the file, rname queries by
// ending, deletion the drop-list window loaded at start. (The service's own searches run on its
// in-memory catalogue.)
constexpr std::string_view kIndexes = R"sql(
CREATE INDEX IF NOT EXISTS domains_rname ON domains (rname);
CREATE INDEX IF NOT EXISTS domains_deletion ON domains (deletion);
)sql";

// Whether the names table holds anything; false with `error` when it cannot be read.
bool holdsNames(sqlite3* db, bool& holds, std::string& error) {
    Statement any(db, "SELECT EXISTS (SELECT 1 FROM domains)");
    if (any.step() != Step::Row) {
        error = any.error();
        return false;
    }
    holds = any.integer(0) != 0;
    return true;
}

bool seedNew(sqlite3* db, const SeedOptions& options, QDate today, std::string& error) {
    return seedDatabase(db, options, today, error) && execute(db, kIndexes, error) &&
           setMeta(db, "seed", std::to_string(options.seed), error) &&
           setMeta(db, "rows", std::to_string(options.rows), error) &&
           setMeta(db, "dated", dayText(today), error) && noteDropListChanged(db, error);
}

// Databases made before names had an origin hold generated names only.
bool addOrigins(sqlite3* db, std::string& error) {
    Statement has(db, "SELECT COUNT(*) FROM pragma_table_info('domains') WHERE name = 'origin'");
    if (has.step() != Step::Row) {
        error = has.error();
        return false;
    }
    return has.integer(0) > 0 ||
           execute(db, "ALTER TABLE domains ADD COLUMN origin INTEGER NOT NULL DEFAULT 0", error);
}

bool moveDates(sqlite3* db, QDate from, QDate today, std::string& error) {
    const auto days = from.daysTo(today);
    if (days == 0) return true;
    Statement shift(db, "UPDATE domains SET expiry = datetime(expiry, ?1), deletion = datetime(deletion, ?1) "
                        "WHERE origin = 0");
    shift.bind(1, std::to_string(days) + " days");
    if (shift.step() != Step::Done) {
        error = shift.error();
        return false;
    }
    if (sqlite3_changes(db) > 0 && !noteDropListChanged(db, error)) return false;
    return setMeta(db, "dated", dayText(today), error);
}

// The tables as the service makes them, brought up to date, and the date mark into `dated`. A file
// without one is new: its names table is empty, or the file is refused.
bool tablesReady(sqlite3* db, std::optional<std::string>& dated, std::string& error) {
    if (!execute(db, kSchema, error) || !addOrigins(db, error)) return false;
    auto mark = metaValue(db, "dated");
    if (!mark.ok()) {
        error = "cannot read the date mark: " + mark.error;
        return false;
    }
    dated = std::move(mark.value);
    if (dated) return true;
    // Seeding is for a new file only: names without a date mark are not this service's to
    // overwrite, whatever happened to them.
    bool holds = false;
    if (!holdsNames(db, holds, error)) return false;
    if (holds) {
        error = "the database holds names but no date mark";
        return false;
    }
    return true;
}

bool bringUpToDate(sqlite3* db, const SeedOptions& options, QDate today, std::string& error) {
    std::optional<std::string> dated;
    if (!tablesReady(db, dated, error)) return false;
    if (!dated) return seedNew(db, options, today, error);
    const QDate from = QDate::fromString(QString::fromStdString(*dated), Qt::ISODate);
    if (!from.isValid()) {
        error = "the database's date mark is damaged: " + *dated;
        return false;
    }
    return moveDates(db, from, today, error);
}

} // namespace

bool prepareDatabase(const std::string& path, const SeedOptions& options, QDate today, std::string& error) {
    sqlite3* db = openForWriting(path, SQLITE_OPEN_CREATE, 10000, error);
    if (!db) return false;
    // Names arrive in random order, so the unique index is written all over; a page cache that
    // holds the whole index while seeding keeps SQLite from reading back what it just wrote.
    std::string ignored;
    execute(db, "PRAGMA cache_size = -32768", ignored);
    // Two services starting on one new file: the second waits here and then finds it seeded.
    bool ok = execute(db, "BEGIN IMMEDIATE", error) && bringUpToDate(db, options, today, error) &&
              execute(db, "COMMIT", error);
    if (!ok) execute(db, "ROLLBACK", ignored);
    sqlite3_close(db);
    return ok;
}

bool prepareForNames(sqlite3* db, QDate today, bool& fresh, std::string& error) {
    std::optional<std::string> dated;
    if (!tablesReady(db, dated, error)) return false;
    if (!dated) {
        fresh = true;
        return setMeta(db, "dated", dayText(today), error);
    }
    bool holds = false;
    if (!holdsNames(db, holds, error)) return false;
    fresh = !holds;
    return true;
}

bool dropNameIndexes(sqlite3* db, std::string& error) {
    return execute(db, "DROP INDEX IF EXISTS domains_rname; DROP INDEX IF EXISTS domains_deletion;", error);
}

bool createNameIndexes(sqlite3* db, std::string& error) {
    return execute(db, kIndexes, error);
}

} // namespace yuming::service
