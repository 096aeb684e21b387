#include "store.h"

#include "sqlite_util.h"

namespace yuming::service {

namespace {

constexpr std::string_view kSchema = R"sql(
CREATE TABLE IF NOT EXISTS domains (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    suffix TEXT NOT NULL,
    rname TEXT NOT NULL,
    length INTEGER NOT NULL,
    expiry TEXT NOT NULL,
    deletion TEXT NOT NULL,
    UNIQUE (name, suffix)
);
CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
)sql";

// Built after the rows are in: one sort per index instead of 200,000 insertions into a b-tree.
// UNIQUE (name, suffix) serves the lookup and prefix queries on the file, rname queries by
// ending, deletion the drop-list window loaded at start. (The service's own searches run on its
// in-memory catalogue.)
constexpr std::string_view kIndexes = R"sql(
CREATE INDEX IF NOT EXISTS domains_rname ON domains (rname);
CREATE INDEX IF NOT EXISTS domains_deletion ON domains (deletion);
)sql";

std::string dayText(QDate day) {
    return day.toString(Qt::ISODate).toStdString();
}

std::optional<std::string> metaValue(sqlite3* db, std::string_view key) {
    Statement select(db, "SELECT value FROM meta WHERE key = ?");
    select.bind(1, key);
    if (select.step() != SQLITE_ROW) return std::nullopt;
    return std::string(select.text(0));
}

bool setMeta(sqlite3* db, std::string_view key, std::string_view value, std::string& error) {
    Statement upsert(db, "INSERT OR REPLACE INTO meta(key, value) VALUES (?, ?)");
    upsert.bind(1, key);
    upsert.bind(2, value);
    if (upsert.step() == SQLITE_DONE) return true;
    error = sqliteError(db);
    return false;
}

bool seedNew(sqlite3* db, const SeedOptions& options, QDate today, std::string& error) {
    return seedDatabase(db, options, today, error) && execute(db, kIndexes, error) &&
           setMeta(db, "seed", std::to_string(options.seed), error) &&
           setMeta(db, "rows", std::to_string(options.rows), error) &&
           setMeta(db, "dated", dayText(today), error);
}

bool moveDates(sqlite3* db, QDate from, QDate today, std::string& error) {
    const auto days = from.daysTo(today);
    if (days == 0) return true;
    Statement shift(db,
                    "UPDATE domains SET expiry = datetime(expiry, ?1), deletion = datetime(deletion, ?1)");
    shift.bind(1, std::to_string(days) + " days");
    if (shift.step() != SQLITE_DONE) {
        error = sqliteError(db);
        return false;
    }
    return setMeta(db, "dated", dayText(today), error);
}

bool bringUpToDate(sqlite3* db, const SeedOptions& options, QDate today, std::string& error) {
    if (!execute(db, kSchema, error)) return false;
    const auto dated = metaValue(db, "dated");
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
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = sqliteError(db);
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, 10000);
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

struct Store::Statements {
    explicit Statements(sqlite3* db)
        : listed(
              db,
              "SELECT name, suffix, deletion FROM domains WHERE deletion >= ? AND deletion < ? ORDER BY id"),
          registration(db, "SELECT expiry, deletion FROM domains WHERE name = ? AND suffix = ?") {}
    Statement listed;
    Statement registration;
};

Store::Store(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        m_error = sqliteError(m_db);
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    sqlite3_busy_timeout(m_db, 2000);
    // Every serving thread has a connection of its own; a lookup reads a handful of index
    // pages, so a small cache each keeps many threads from adding up to much memory.
    std::string ignored;
    execute(m_db, "PRAGMA cache_size = -256", ignored);
    m_statements = std::make_unique<Statements>(m_db);
    if (!m_statements->listed.valid() || !m_statements->registration.valid()) {
        m_error = sqliteError(m_db);
        m_statements.reset();
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

Store::~Store() {
    m_statements.reset();
    sqlite3_close(m_db);
}

std::vector<ListedName> Store::listed(QDate today) {
    std::vector<ListedName> rows;
    if (!isOpen()) return rows;
    Statement& select = m_statements->listed;
    select.reset();
    select.bind(1, dayText(today));
    select.bind(2, dayText(listEnd(today)));
    while (select.step() == SQLITE_ROW) {
        const std::string_view suffix = select.text(1);
        for (Suffix s : {Com, Net, Org, Cn})
            if (suffixName(s) == suffix)
                rows.push_back({std::string(select.text(0)), s, std::string(select.text(2))});
    }
    return rows;
}

std::optional<Registration> Store::registration(std::string_view name, std::string_view suffix) {
    if (!isOpen()) return std::nullopt;
    Statement& select = m_statements->registration;
    select.reset();
    select.bind(1, name);
    select.bind(2, suffix);
    std::optional<Registration> found;
    if (select.step() == SQLITE_ROW)
        found = Registration{std::string(select.text(0)), std::string(select.text(1))};
    // A statement left on a row keeps its read transaction open, and with it a lock that would
    // stop another service from preparing the same file.
    select.reset();
    return found;
}

} // namespace yuming::service
