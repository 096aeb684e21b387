#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;

namespace yuming::service {

// Which feed lists which name (the feed_names table), for an import inside its transaction. `source`
// is a table SQLite can read with the columns name and suffix: the names the import brings.

// Before a feed's names are merged: the names already kept that it lists and no feed lists yet
// are a manual import's (or a lookup's), noted so that no feed takes them off.
bool noteOthersNames(sqlite3* db, std::string_view source, std::string& error);
// After they are merged: the feed lists exactly the names of `source`; those it listed before and
// no longer does leave the list unless another feed or a manual import holds them. `removed`:
// the names that left.
bool takeFeedNames(sqlite3* db, std::int64_t feed, std::string_view source, std::int64_t& removed,
                   std::string& error);
// After a manual import: the names of it a feed lists are the import's too, so they stay when the
// feed drops them.
bool noteImportedNames(sqlite3* db, std::string_view source, std::string& error);
// Takes a feed off: the names only it held leave. `removed`: how many.
bool dropFeedNames(sqlite3* db, std::int64_t feed, std::int64_t& removed, std::string& error);
// The sources the drop list holds names of: each feed with names, and the manual imports as one.
bool countSources(sqlite3* db, std::int64_t& sources, std::string& error);

} // namespace yuming::service
