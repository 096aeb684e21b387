#include "store/feed_names.h"

#include "store/sqlite_util.h"

namespace yuming::service {

namespace {

constexpr std::int64_t kManual = 0;

std::string joined(std::string_view source) {
    return std::string(" FROM ") + std::string(source) +
           " i JOIN domains d ON d.name = i.name AND d.suffix = i.suffix ";
}

bool changes(sqlite3* db, std::string_view sql, std::int64_t& changed, std::string& error) {
    if (!execute(db, sql, error)) return false;
    changed = sqlite3_changes64(db);
    return true;
}

bool anyFeedNames(sqlite3* db, bool& any, std::string& error) {
    Statement exists(db, "SELECT EXISTS (SELECT 1 FROM feed_names)");
    if (exists.step() != Step::Row) {
        error = exists.error();
        return false;
    }
    any = exists.integer(0) != 0;
    return true;
}

// The names of `feed` no longer listed leave it, and those no other source holds leave the list.
bool dropUnlisted(sqlite3* db, const std::string& feed, std::string_view unlisted, std::int64_t& removed,
                  std::string& error) {
    const std::string sql =
        "CREATE TEMP TABLE dropped AS SELECT domain FROM feed_names WHERE feed = " + feed + " AND " +
        std::string(unlisted) + ";" + "DELETE FROM feed_names WHERE feed = " + feed +
        " AND domain IN temp.dropped;";
    if (!execute(db, sql, error)) return false;
    const bool ok = changes(db,
                            "DELETE FROM domains WHERE id IN temp.dropped AND NOT EXISTS "
                            "(SELECT 1 FROM feed_names f WHERE f.domain = domains.id)",
                            removed, error);
    std::string ignored;
    execute(db, "DROP TABLE temp.dropped", ignored);
    return ok;
}

} // namespace

bool noteOthersNames(sqlite3* db, std::string_view source, std::string& error) {
    // Generated names are sample data, which real names end; they are no source of their own.
    return execute(
        db,
        "INSERT OR IGNORE INTO feed_names(feed, domain) SELECT " + std::to_string(kManual) + ", d.id" +
            joined(source) +
            "WHERE d.origin <> 0 AND NOT EXISTS (SELECT 1 FROM feed_names f WHERE f.domain = d.id)",
        error);
}

bool takeFeedNames(sqlite3* db, std::int64_t feed, std::string_view source, std::int64_t& removed,
                   std::string& error) {
    const std::string id = std::to_string(feed);
    if (!execute(db,
                 "CREATE TEMP TABLE listed(domain INTEGER PRIMARY KEY); INSERT OR IGNORE INTO temp.listed "
                 "SELECT d.id" +
                     joined(source),
                 error))
        return false;
    std::string ignored;
    const bool ok =
        dropUnlisted(db, id, "domain NOT IN temp.listed", removed, error) &&
        execute(db,
                "INSERT OR IGNORE INTO feed_names(feed, domain) SELECT " + id + ", domain FROM temp.listed",
                error);
    execute(db, "DROP TABLE temp.listed", ignored);
    return ok;
}

bool noteImportedNames(sqlite3* db, std::string_view source, std::string& error) {
    bool any = false;
    // Without feeds there is nothing to note, and the import need not look its names up again.
    if (!anyFeedNames(db, any, error)) return false;
    return !any || execute(db,
                           "INSERT OR IGNORE INTO feed_names(feed, domain) SELECT " +
                               std::to_string(kManual) + ", d.id" + joined(source) +
                               "WHERE EXISTS (SELECT 1 FROM feed_names f WHERE f.domain = d.id)",
                           error);
}

bool dropFeedNames(sqlite3* db, std::int64_t feed, std::int64_t& removed, std::string& error) {
    return dropUnlisted(db, std::to_string(feed), "1", removed, error);
}

bool countSources(sqlite3* db, std::int64_t& sources, std::string& error) {
    // Names imported by hand are those no feed lists, or those noted as the imports' as well.
    Statement count(db,
                    "SELECT (SELECT COUNT(*) FROM feeds WHERE EXISTS "
                    "(SELECT 1 FROM feed_names f WHERE f.feed = feeds.id)) + "
                    "(EXISTS (SELECT 1 FROM feed_names WHERE feed = 0) OR EXISTS (SELECT 1 FROM domains d "
                    "WHERE d.origin = 1 AND NOT EXISTS (SELECT 1 FROM feed_names f WHERE f.domain = d.id)))");
    if (count.step() != Step::Row) {
        error = count.error();
        return false;
    }
    sources = count.integer(0);
    return true;
}

} // namespace yuming::service
