#include "store/schema_mark.h"

#include "store/sqlite_util.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace yuming::service {

namespace {

// "Yumi" in ASCII: what this service writes as the file's application id.
constexpr unsigned kApplication = 0x59756D69;
// The layout of the tables schema.cpp makes; a later layout gets the next number.
constexpr int kLayout = 1;
constexpr std::string_view kLayoutTables[] = {"catalogue_parts", "domains", "meta", "rdap_answers"};

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// A path as an SQLite URI, so that query parameters can be given with it.
std::string uriOf(const std::string& path) {
    std::string uri = path.starts_with('/') ? "file://" : "file:";
    for (const char c : path) {
        if (c == '?' || c == '#' || c == '%') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            uri += escaped;
        } else {
            uri += c;
        }
    }
    return uri;
}

bool readInteger(sqlite3* db, const char* sql, std::int64_t& value, std::string& error) {
    Statement select(db, sql);
    if (select.step() != Step::Row) {
        error = select.error();
        return false;
    }
    value = select.integer(0);
    return true;
}

// The two tables every version of this service had, with the columns it reads.
bool hasOurTables(sqlite3* db, const std::vector<std::string>& tables, bool& ours, std::string& error) {
    const auto has = [&](std::string_view name) { return std::ranges::find(tables, name) != tables.end(); };
    ours = false;
    if (!has("domains") || !has("meta")) return true;
    std::int64_t columns = 0;
    if (!readInteger(db,
                     "SELECT (SELECT COUNT(*) FROM pragma_table_info('domains') WHERE name IN "
                     "('name', 'suffix', 'rname', 'length', 'expiry', 'deletion')) + "
                     "(SELECT COUNT(*) FROM pragma_table_info('meta') WHERE name IN ('key', 'value'))",
                     columns, error))
        return false;
    ours = columns == 8;
    return true;
}

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

} // namespace

ReadResult<Holding> whatItHolds(sqlite3* db) {
    ReadResult<Holding> result;
    Holding& held = result.value;
    Statement tables(db, "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
                         "ESCAPE '\\' ORDER BY name");
    Step step;
    while ((step = tables.step()) == Step::Row)
        held.tables.emplace_back(tables.text(0));
    std::int64_t application = 0, layout = 0;
    if (step == Step::Failed) {
        result.error = tables.error();
        result.code = tables.code();
        return result;
    }
    if (!readInteger(db, "PRAGMA application_id", application, result.error) ||
        !readInteger(db, "PRAGMA user_version", layout, result.error))
        return result;
    held.application = static_cast<unsigned>(application);
    held.layout = static_cast<int>(layout);
    if (held.application == kApplication) {
        for (const std::string_view table : kLayoutTables)
            if (std::ranges::find(held.tables, table) == held.tables.end()) held.missing.emplace_back(table);
        held.kind = held.layout > kLayout  ? Holding::Kind::Newer
                    : held.missing.empty() ? Holding::Kind::Ours
                                           : Holding::Kind::Damaged;
        return result;
    }
    bool ours = false;
    if (held.application == 0 && !hasOurTables(db, held.tables, ours, result.error)) return result;
    held.kind = ours                                           ? Holding::Kind::Unmarked
                : held.application == 0 && held.tables.empty() ? Holding::Kind::Empty
                                                               : Holding::Kind::Foreign;
    return result;
}

ReadResult<Holding> whatFileHolds(const std::string& path) {
    const bool log = exists(path + "-wal");
    const bool shm = exists(path + "-shm");
    // Without a log or a journal beside it the file is all there is, and SQLite may read it as
    // it stands, taking no lock and making no file. With a log, SQLite must read the log too, and
    // makes a shared-memory index for it.
    const bool alone = !log && !exists(path + "-journal");
    const std::string uri = uriOf(path) + (alone ? "?mode=ro&immutable=1" : "?mode=ro");
    sqlite3* db = nullptr;
    ReadResult<Holding> result;
    if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
        result.error = sqliteError(db);
        result.code = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
    } else {
        sqlite3_busy_timeout(db, 10000);
        result = whatItHolds(db);
    }
    sqlite3_close(db);
    result.value.logBeside = log;
    if (log && !shm && !(result.ok() && writable(result.value, false))) ::unlink((path + "-shm").c_str());
    return result;
}

bool writable(const Holding& held, bool isNew) {
    switch (held.kind) {
    case Holding::Kind::Ours:
    case Holding::Kind::Unmarked:
        return true;
    case Holding::Kind::Empty:
        return isNew;
    case Holding::Kind::Foreign:
    case Holding::Kind::Newer:
    case Holding::Kind::Damaged:
        break;
    }
    return false;
}

std::vector<std::string> missingTables(const Holding& held) {
    std::vector<std::string> problems;
    std::ranges::transform(held.missing, std::back_inserter(problems),
                           [](const std::string& table) { return "table " + table + " is missing"; });
    return problems;
}

std::string refusal(const std::string& path, const Holding& held) {
    std::string text = path;
    switch (held.kind) {
    case Holding::Kind::Damaged:
        text += " is damaged: " + listed(missingTables(held));
        break;
    case Holding::Kind::Newer:
        text += " was made by a newer version of this service (its tables are of layout " +
                std::to_string(held.layout) + "; this version knows layout " + std::to_string(kLayout) +
                " and before)";
        break;
    default:
        text += " is not a database of this service: it holds ";
        text += held.tables.empty()       ? std::string("no tables")
                : held.tables.size() == 1 ? "the table " + held.tables.front()
                                          : "the tables " + listed(held.tables);
        if (held.application != 0) {
            char id[16];
            std::snprintf(id, sizeof id, "0x%08X", held.application);
            text += std::string(" (application id ") + id + ')';
        }
        break;
    }
    if (held.logBeside) text += " (as read with the write-ahead log " + path + "-wal beside it)";
    return text;
}

bool writeSchemaMark(sqlite3* db, std::string& error) {
    return execute(db,
                   "PRAGMA application_id = " + std::to_string(static_cast<int>(kApplication)) +
                       "; PRAGMA user_version = " + std::to_string(kLayout),
                   error);
}

} // namespace yuming::service
