#include "import/feed_store.h"

#include "catalog/catalog_store.h"
#include "store/feed_names.h"
#include "store/meta.h"
#include "store/schema.h"
#include "store/sqlite_util.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <functional>

namespace yuming::service {

namespace {

constexpr int kBusyMs = 10000;

// One transaction on the file, the tables made or brought up to date first.
bool inTransaction(const std::string& dbPath, const std::function<bool(sqlite3*, std::string&)>& work,
                   std::string& error) {
    const QString path = QString::fromStdString(dbPath);
    if (!QFileInfo::exists(path)) QDir().mkpath(QFileInfo(path).absolutePath());
    Admitted admitted;
    if (!admitFile(dbPath, kBusyMs, admitted, error)) return false;
    sqlite3* db = openForWriting(dbPath, 0, kBusyMs, error);
    if (!db) {
        if (admitted.made) unmakeFile(dbPath, admitted);
        error = "cannot open " + dbPath + ": " + error;
        return false;
    }
    std::string ignored;
    // A database a feed makes holds the feeds' names alone, as one an import makes holds its
    // lists': dated now, so no service seeds it with sample names before the first fetch.
    bool fresh = false;
    const bool ok = execute(db, "BEGIN IMMEDIATE", error) &&
                    (admitted.made ? prepareForNames(db, QDate::currentDate(), fresh, error)
                                   : prepareTables(db, error)) &&
                    work(db, error) && execute(db, "COMMIT", error);
    if (!ok) {
        error = writeFailure(db, error);
        execute(db, "ROLLBACK", ignored);
    }
    sqlite3_close(db);
    if (!ok && admitted.made) unmakeFile(dbPath, admitted);
    return ok;
}

bool done(Statement& statement, std::string& error) {
    if (statement.step() != Step::Failed) return true;
    error = statement.error();
    return false;
}

void bindOptional(Statement& statement, int index, const std::optional<int>& value) {
    if (value) statement.bind(index, static_cast<std::int64_t>(*value));
}

std::optional<std::int64_t> optionalOf(std::int64_t value) {
    return value < 0 ? std::nullopt : std::optional<std::int64_t>(value);
}

bool dropFeed(sqlite3* db, std::int64_t id, std::int64_t& removed, std::string& error) {
    Statement remove(db, "DELETE FROM feeds WHERE id = ?");
    remove.bind(1, id);
    if (!done(remove, error) || !dropFeedNames(db, id, removed, error)) return false;
    // The names that left go out of the search index with the change, as an import's do.
    return removed == 0 ||
           (noteDropListChanged(db, error) && saveCatalogue(db, QDateTime::currentDateTime(), error));
}

bool upsert(sqlite3* db, const FeedPlan& plan, bool conf, bool& existed, std::string& error) {
    Statement find(db, "SELECT id FROM feeds WHERE url = ?");
    find.bind(1, plan.url);
    const Step step = find.step();
    if (step == Step::Failed) {
        error = find.error();
        return false;
    }
    existed = step == Step::Row;
    Statement write(
        db, existed ? "UPDATE feeds SET every = ?2, at = ?3, conf = ?4, date_order = ?6 WHERE url = ?1"
                    : "INSERT INTO feeds(url, every, at, conf, added, date_order) VALUES (?1, ?2, ?3, ?4, "
                      "?5, ?6)");
    write.bind(1, plan.url);
    write.bind(2, static_cast<std::int64_t>(plan.every.count()));
    bindOptional(write, 3, plan.at);
    write.bind(4, static_cast<std::int64_t>(conf));
    if (!existed) write.bind(5, QDateTime::currentSecsSinceEpoch());
    write.bind(6, static_cast<std::int64_t>(plan.dateOrder));
    return done(write, error);
}

} // namespace

ReadResult<std::vector<Feed>> readFeeds(const std::string& dbPath) {
    ReadResult<std::vector<Feed>> result;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        result.error = sqliteError(db);
        sqlite3_close(db);
        return result;
    }
    sqlite3_busy_timeout(db, kBusyMs);
    {
        Statement table(db, "SELECT EXISTS (SELECT 1 FROM sqlite_schema WHERE name = 'feeds')");
        if (table.step() != Step::Row) {
            result.error = table.error();
        } else if (table.integer(0) != 0) {
            Statement read(db, "SELECT id, url, every, coalesce(at, -1), conf, added, last_modified, etag, "
                               "coalesce(names, -1), coalesce(fetched, -1), coalesce(status, 0), "
                               "coalesce(bytes, 0), counts, coalesce(changed, -1), coalesce(next, -1), "
                               "failures, error, date_order FROM feeds ORDER BY id");
            Step step;
            while ((step = read.step()) == Step::Row) {
                Feed feed;
                feed.id = read.integer(0);
                feed.plan.url = read.text(1);
                feed.plan.every = std::chrono::seconds(read.integer(2));
                if (read.integer(3) >= 0) feed.plan.at = static_cast<int>(read.integer(3));
                feed.conf = read.integer(4) != 0;
                feed.added = read.integer(5);
                feed.lastModified = read.text(6);
                feed.etag = read.text(7);
                feed.names = optionalOf(read.integer(8));
                feed.fetched = optionalOf(read.integer(9));
                feed.status = static_cast<int>(read.integer(10));
                feed.bytes = read.integer(11);
                feed.counts = read.text(12);
                feed.changed = optionalOf(read.integer(13));
                feed.next = optionalOf(read.integer(14));
                feed.failures = static_cast<int>(read.integer(15));
                feed.error = read.text(16);
                const std::int64_t order = read.integer(17);
                feed.plan.dateOrder = order == static_cast<int>(DateOrder::MonthFirst) ? DateOrder::MonthFirst
                                      : order == static_cast<int>(DateOrder::DayFirst) ? DateOrder::DayFirst
                                                                                       : DateOrder::Auto;
                result.value.push_back(std::move(feed));
            }
            if (step == Step::Failed) result.error = read.error();
        }
    }
    sqlite3_close(db);
    return result;
}

bool addFeed(const std::string& dbPath, const FeedPlan& plan, bool& existed, std::string& error) {
    return inTransaction(
        dbPath, [&](sqlite3* db, std::string& why) { return upsert(db, plan, false, existed, why); }, error);
}

bool removeFeed(const std::string& dbPath, const std::string& url, bool& found, std::int64_t& removed,
                std::string& error) {
    found = false;
    removed = 0;
    return inTransaction(
        dbPath,
        [&](sqlite3* db, std::string& why) {
            Statement find(db, "SELECT id FROM feeds WHERE url = ?");
            find.bind(1, url);
            const Step step = find.step();
            if (step == Step::Failed) {
                why = find.error();
                return false;
            }
            found = step == Step::Row;
            return !found || dropFeed(db, find.integer(0), removed, why);
        },
        error);
}

bool recordFetch(const std::string& dbPath, std::int64_t id, const FetchRecord& record, std::string& error) {
    return inTransaction(
        dbPath,
        [&](sqlite3* db, std::string& why) {
            Statement write(db, "UPDATE feeds SET fetched = ?2, status = ?3, bytes = ?4, error = ?5, "
                                "failures = ?6, next = ?7, "
                                "last_modified = CASE WHEN ?8 THEN ?9 ELSE last_modified END, "
                                "etag = CASE WHEN ?8 THEN ?10 ELSE etag END, "
                                "counts = CASE WHEN ?8 THEN ?11 ELSE counts END, "
                                "changed = CASE WHEN ?12 THEN ?2 ELSE changed END WHERE id = ?1");
            write.bind(1, id);
            write.bind(2, record.at);
            write.bind(3, static_cast<std::int64_t>(record.status));
            write.bind(4, record.bytes);
            write.bind(5, record.error);
            write.bind(6, static_cast<std::int64_t>(record.failures));
            write.bind(7, record.next);
            write.bind(8, static_cast<std::int64_t>(record.taken));
            write.bind(9, record.lastModified);
            write.bind(10, record.etag);
            write.bind(11, record.counts);
            write.bind(12, static_cast<std::int64_t>(record.changed));
            return done(write, why);
        },
        error);
}

bool syncConfFeeds(const std::string& dbPath, const std::vector<FeedPlan>& plans, std::string& error) {
    return inTransaction(
        dbPath,
        [&](sqlite3* db, std::string& why) {
            Statement named(db, "SELECT id, url FROM feeds WHERE conf = 1");
            std::vector<std::int64_t> gone;
            Step step;
            while ((step = named.step()) == Step::Row) {
                const std::string url(named.text(1));
                const bool still = std::any_of(plans.begin(), plans.end(),
                                               [&](const FeedPlan& plan) { return plan.url == url; });
                if (!still) gone.push_back(named.integer(0));
            }
            if (step == Step::Failed) {
                why = named.error();
                return false;
            }
            for (const std::int64_t id : gone) {
                std::int64_t removed = 0;
                if (!dropFeed(db, id, removed, why)) return false;
            }
            for (const FeedPlan& plan : plans) {
                bool existed = false;
                if (!upsert(db, plan, true, existed, why)) return false;
            }
            return true;
        },
        error);
}

} // namespace yuming::service
