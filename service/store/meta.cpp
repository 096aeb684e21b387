#include "store/meta.h"

#include "store/sqlite_util.h"

#include <cstdlib>

namespace yuming::service {

std::string dayText(QDate day) {
    return day.toString(Qt::ISODate).toStdString();
}

ReadResult<std::optional<std::string>> metaValue(sqlite3* db, std::string_view key) {
    Statement select(db, "SELECT value FROM meta WHERE key = ?");
    select.bind(1, key);
    switch (select.step()) {
    case Step::Row:
        return {std::string(select.text(0)), {}};
    case Step::Done:
        return {};
    case Step::Failed:
        break;
    }
    return {std::nullopt, select.error(), select.code()};
}

bool setMeta(sqlite3* db, std::string_view key, std::string_view value, std::string& error) {
    Statement upsert(db, "INSERT OR REPLACE INTO meta(key, value) VALUES (?, ?)");
    upsert.bind(1, key);
    upsert.bind(2, value);
    if (upsert.step() == Step::Done) return true;
    error = upsert.error();
    return false;
}

bool noteDropListChanged(sqlite3* db, std::string& error) {
    return execute(db,
                   "INSERT INTO meta(key, value) VALUES ('generation', '1') ON CONFLICT(key) DO UPDATE "
                   "SET value = CAST(value AS INTEGER) + 1",
                   error);
}

ReadResult<std::int64_t> namesGeneration(sqlite3* db) {
    const auto value = metaValue(db, "generation");
    if (!value.ok()) return {0, value.error, value.code};
    return {value.value ? std::strtoll(value.value->c_str(), nullptr, 10) : 0, {}};
}

ReadResult<std::optional<ListRefresh>> listRefresh(sqlite3* db) {
    const auto at = metaValue(db, "refreshed");
    if (!at.ok()) return {std::nullopt, at.error, at.code};
    const auto sources = metaValue(db, "sources");
    if (!sources.ok()) return {std::nullopt, sources.error, sources.code};
    if (!at.value) return {};
    return {ListRefresh{std::strtoll(at.value->c_str(), nullptr, 10),
                        sources.value ? std::strtoll(sources.value->c_str(), nullptr, 10) : 0},
            {}};
}

} // namespace yuming::service
