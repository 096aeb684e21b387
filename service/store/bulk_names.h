#pragma once

#include "store/store.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace yuming::service {

// The names table as a writer that brings many names of its own (the import) uses it, inside its
// transaction, after prepareForNames.

// Calls `use` with the row id, label and suffix of every name kept, in the order of (label, suffix).
using KeptUse = std::function<void(std::int64_t id, std::string_view name, std::string_view suffix)>;
bool eachKeptName(sqlite3* db, const KeptUse& use, std::string& error);

// Takes the rows `ids` (of eachKeptName) off the names.
bool removeNames(sqlite3* db, std::vector<std::int64_t> ids, std::string& error);

// What a name already kept takes from the one brought.
enum class Merge {
    Add,       // the names table holds none: every row is new
    Later,     // its times and origin when its deletion is later
    Different, // its times and origin when any of them differs
};

// Writes every row of the table `source`, one SQLite can read with the columns name, suffix, rname,
// length, expiry and deletion in the order of (name, suffix), as names of `origin`. `changed`: the
// rows added or updated.
bool mergeNames(sqlite3* db, std::string_view source, Origin origin, Merge merge, std::int64_t& changed,
                std::string& error);

} // namespace yuming::service
