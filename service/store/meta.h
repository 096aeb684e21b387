#pragma once

#include "store/read_result.h"

#include <QDate>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;

namespace yuming::service {

// The meta table: the date mark, the generation of the names and what the search index was made
// from, each a key and its text.

// Every change to the names ends with this, inside the transaction that made it, so that a
// running service and the next start see the new drop list.
bool noteDropListChanged(sqlite3* db, std::string& error);
// Goes up with every change of the names.
ReadResult<std::int64_t> namesGeneration(sqlite3* db);

// When the names were last changed by an import or a feed (seconds since the epoch), and from how
// many sources the list then held names. None for a list no import ever changed.
struct ListRefresh {
    std::int64_t at = 0;
    std::int64_t sources = 0;
};
ReadResult<std::optional<ListRefresh>> listRefresh(sqlite3* db);

// For the store's own files:

// A day as the meta table and the deletion times write it: yyyy-MM-dd.
std::string dayText(QDate day);
// Nothing when the key is not there.
ReadResult<std::optional<std::string>> metaValue(sqlite3* db, std::string_view key);
bool setMeta(sqlite3* db, std::string_view key, std::string_view value, std::string& error);

} // namespace yuming::service
