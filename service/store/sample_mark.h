#pragma once

#include "store/read_result.h"

#include <string>

struct sqlite3;

namespace yuming::service {

// Whether the names are sample data: the generated names a new database is seeded with, not a
// real drop list. Meta `sample` is 1 from the seeding on and 0 once a list of real names came in;
// a database without it either was made by an import or was seeded by a build that kept no mark
// (recogniseSample tells which). Names a registry told of leave the mark as it is.

ReadResult<bool> isSample(sqlite3* db);

// Inside the seeding transaction.
bool markSample(sqlite3* db, std::string& error);

// Inside the transaction that brings real names (an import). `ended`: the mark was there and is gone.
bool endSample(sqlite3* db, bool& ended, std::string& error);

// At start, inside the transaction that prepares the file. A seeded file without the mark gets it
// unless it holds imported names, the only rows an earlier build's import left with an origin of
// their own; a marked one that an earlier build imported into since loses it. Nothing else in the
// file changes.
bool recogniseSample(sqlite3* db, std::string& error);

} // namespace yuming::service
