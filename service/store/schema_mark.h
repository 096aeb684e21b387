#pragma once

#include "store/read_result.h"

#include <string>
#include <vector>

struct sqlite3;

namespace yuming::service {

// How a database tells it is this service's: its schema mark (PRAGMA application_id, and
// PRAGMA user_version for the layout of its tables), written when the file is made. Files made
// before there was a mark are known by their tables and get the mark on their first start. Any
// other SQLite file is the user's own and is never written to.

struct Holding {
    enum class Kind {
        Empty,    // no tables and no mark: nothing was ever written to it
        Ours,     // the mark and every table of its layout
        Unmarked, // this service's tables without the mark: made by an earlier version
        Foreign,  // another program's database
        Newer,    // marked with a layout later than this version knows
        Damaged,  // the mark, but some of its tables are gone
    };
    Kind kind = Kind::Empty;
    std::vector<std::string> tables;  // every table it holds
    std::vector<std::string> missing; // the tables of its layout it lacks
    unsigned application = 0;
    int layout = 0;
    bool logBeside = false; // read together with a write-ahead log found beside it
};

// What the database of `db` holds, inside the caller's transaction when it writes.
ReadResult<Holding> whatItHolds(sqlite3* db);
// What the existing file at `path` holds, read without writing a byte to it or leaving a file
// beside it: SQLite's shared-memory index of a write-ahead log that had none is removed again
// when the file is refused.
ReadResult<Holding> whatFileHolds(const std::string& path);

// Whether a writer may go on with a file that holds `held` (Empty only for a new one).
bool writable(const Holding& held, bool isNew);
// Why the file at `path` is refused, after its name: "is not a database of this service: ...".
std::string refusal(const std::string& path, const Holding& held);
// Each table it lacks, as a check reports a problem.
std::vector<std::string> missingTables(const Holding& held);

// The mark, inside the transaction that makes or brings up the tables.
bool writeSchemaMark(sqlite3* db, std::string& error);

} // namespace yuming::service
