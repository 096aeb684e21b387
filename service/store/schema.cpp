#include "store/schema.h"

#include "store/listing_rule.h"
#include "store/meta.h"
#include "store/sample_mark.h"
#include "store/schema_mark.h"
#include "store/sqlite_util.h"

#include <QFile>
#include <QFileInfo>

#include <optional>
#include <string>
#include <utility>

namespace yuming::service {

namespace {

// The tables' origin 0, the column's default, is a generated name: what seeding writes and what
// moves with the calendar.
static_assert(static_cast<int>(Origin::Generated) == 0);

// feeds: the lists fetched on schedule (`every` seconds, `at` minutes after local midnight or
// none; `conf` for those service.conf names), what their last answer said and when the next
// fetch is due. feed_names: which feed lists which name; feed 0 is a manual import, noted only
// for names a feed lists as well, since a name no feed lists is the imports' alone. A name leaves
// with its rows.
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
CREATE TABLE IF NOT EXISTS watched (
    name TEXT PRIMARY KEY,
    added INTEGER NOT NULL,
    status TEXT NOT NULL DEFAULT 'unknown',
    expiry INTEGER,
    deletion INTEGER,
    basis TEXT,
    checked INTEGER,
    next INTEGER NOT NULL,
    failures INTEGER NOT NULL DEFAULT 0,
    reminded TEXT NOT NULL DEFAULT ''
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS watch_changes (
    name TEXT NOT NULL,
    at INTEGER NOT NULL,
    from_status TEXT NOT NULL,
    to_status TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS watch_changes_name ON watch_changes (name, at);
CREATE TABLE IF NOT EXISTS feeds (
    id INTEGER PRIMARY KEY,
    url TEXT NOT NULL UNIQUE,
    every INTEGER NOT NULL,
    at INTEGER,
    date_order INTEGER NOT NULL DEFAULT 0,
    conf INTEGER NOT NULL DEFAULT 0,
    added INTEGER NOT NULL,
    last_modified TEXT NOT NULL DEFAULT '',
    etag TEXT NOT NULL DEFAULT '',
    names INTEGER,
    fetched INTEGER,
    status INTEGER,
    bytes INTEGER,
    counts TEXT NOT NULL DEFAULT '',
    changed INTEGER,
    next INTEGER,
    failures INTEGER NOT NULL DEFAULT 0,
    error TEXT NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS feed_names (
    feed INTEGER NOT NULL,
    domain INTEGER NOT NULL,
    PRIMARY KEY (feed, domain)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS feed_names_domain ON feed_names (domain);
CREATE TRIGGER IF NOT EXISTS domains_gone AFTER DELETE ON domains BEGIN
    DELETE FROM feed_names WHERE domain = old.id;
END;
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
           setMeta(db, "dated", dayText(today), error) && setMeta(db, "shown", dayText(today), error) &&
           markSample(db, error) && noteDropListChanged(db, error);
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

// The generated names' dates are shown as of today from now on; the rows stay as `dated` has
// them, so this is a single small write however many names there are.
bool showDatesOf(sqlite3* db, QDate today, std::string& error) {
    const auto shown = metaValue(db, "shown");
    if (!shown.ok()) {
        error = shown.error;
        return false;
    }
    return shown.value == dayText(today) || setMeta(db, "shown", dayText(today), error);
}

// The tables as the service makes them, brought up to date, and the date mark into `dated`. A file
// without one is new: its names table is empty, or the file is refused.
bool tablesReady(sqlite3* db, std::optional<std::string>& dated, std::string& error) {
    // Looked at again inside the transaction: the file was admitted before it was opened to write, and
    // another program may have written to it since.
    const auto held = whatItHolds(db);
    if (!held.ok()) {
        error = "cannot read its tables: " + held.error;
        return false;
    }
    if (!writable(held.value, true)) {
        error = refusal(sqlite3_db_filename(db, "main"), held.value);
        return false;
    }
    const bool unmarked = held.value.kind != Holding::Kind::Ours;
    if (!execute(db, kSchema, error) || !addOrigins(db, error) || (unmarked && !writeSchemaMark(db, error)))
        return false;
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
    return showDatesOf(db, today, error) && recogniseSample(db, error);
}

} // namespace

namespace {

// Made in one transaction of a rollback journal, before the file is switched to a write-ahead log:
// so no crash leaves a file with tables but no mark, or with neither, for the next start to find.
bool makeMarked(const std::string& path, int busyMs, Admitted& admitted, std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = "cannot open " + path + ": " + sqliteError(db);
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, busyMs);
    if (!execute(db, "BEGIN IMMEDIATE", error)) {
        sqlite3_close(db);
        return false;
    }
    const auto held = whatItHolds(db);
    bool ok = held.ok() && writable(held.value, true);
    if (!ok) error = held.ok() ? refusal(path, held.value) : held.error;
    // Another service may have made it meanwhile; then it is that one's to take back.
    admitted.made = ok && held.value.kind == Holding::Kind::Empty;
    if (admitted.made) ok = execute(db, kSchema, error) && writeSchemaMark(db, error);
    ok = ok && execute(db, "COMMIT", error);
    if (!ok) {
        error = writeFailure(db, error);
        std::string ignored;
        execute(db, "ROLLBACK", ignored);
    }
    sqlite3_close(db);
    if (!ok && admitted.made) unmakeFile(path, admitted);
    if (!ok) admitted.made = false;
    return ok;
}

} // namespace

bool admitFile(const std::string& path, int busyMs, Admitted& admitted, std::string& error) {
    const QFileInfo file(QString::fromStdString(path));
    admitted = {false, file.exists()};
    if (file.size() == 0) return makeMarked(path, busyMs, admitted, error);
    const auto held = whatFileHolds(path);
    if (held.ok() && writable(held.value, false)) return true;
    error = held.ok() ? refusal(path, held.value) : "cannot read " + path + ": " + held.error;
    return false;
}

void unmakeFile(const std::string& path, const Admitted& admitted) {
    const QString name = QString::fromStdString(path);
    if (admitted.existed)
        QFile(name).resize(0);
    else
        QFile::remove(name);
    for (const char* beside : {"-journal", "-wal", "-shm"})
        QFile::remove(name + QLatin1String(beside));
}

bool prepareDatabase(const std::string& path, const SeedOptions& options, QDate today, std::string& error) {
    Admitted admitted;
    if (!admitFile(path, 10000, admitted, error)) return false;
    sqlite3* db = openForWriting(path, 0, 10000, error);
    if (!db) {
        if (admitted.made) unmakeFile(path, admitted);
        return false;
    }
    // Names arrive in random order, so the unique index is written all over; a page cache that
    // holds the whole index while seeding keeps SQLite from reading back what it just wrote.
    std::string ignored;
    execute(db, "PRAGMA cache_size = -32768", ignored);
    // Two services starting on one new file: the second waits here and then finds it seeded.
    bool ok = execute(db, "BEGIN IMMEDIATE", error) && bringUpToDate(db, options, today, error) &&
              execute(db, "COMMIT", error);
    if (!ok) {
        error = writeFailure(db, error);
        execute(db, "ROLLBACK", ignored);
    }
    sqlite3_close(db);
    // A file seeded in part is taken back to what it was, as if the service had never started.
    if (!ok && admitted.made) unmakeFile(path, admitted);
    return ok;
}

bool prepareTables(sqlite3* db, std::string& error) {
    std::optional<std::string> dated;
    return tablesReady(db, dated, error);
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
