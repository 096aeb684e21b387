#pragma once

#include "store/seed.h"

#include <QDate>

#include <string>

struct sqlite3;

namespace yuming::service {

// The database's tables, and how a file made by an earlier version is brought up to them.

// Whether the file at `path` may be written as this service's database, told without writing to
// it: a new or empty (0 bytes) file is made one here, with the schema mark; an existing one must be
// this service's. False, with the reason after the file's name in `error`, for another program's
// file or a damaged one.
struct Admitted {
    bool made = false;    // the tables were made here: a failure that follows takes them back
    bool existed = false; // as an empty file
};
bool admitFile(const std::string& path, int busyMs, Admitted& admitted, std::string& error);
// Takes a file admitFile made back to what it was: gone, or empty.
void unmakeFile(const std::string& path, const Admitted& admitted);

// Brings the database at `path` up to date for `today`: creates and seeds it when it is new
// or empty, and moves every date forward by the days passed since it was last dated, so the
// drop list always covers the coming 30 days. Any error reading the file fails it: a database
// that holds names is never seeded again, and a file that is not this service's is not touched.
bool prepareDatabase(const std::string& path, const SeedOptions& options, QDate today, std::string& error);

// For a writer that brings names of its own (the import), inside its transaction: the tables as
// the service makes them, brought up to date. `fresh`: the database held no names; it then gets
// the date mark, so the service never seeds generated names into it. A database with names but
// no date mark is refused, as the service refuses it.
bool prepareForNames(sqlite3* db, QDate today, bool& fresh, std::string& error);
// For a writer of other tables than the names (the feeds), inside its transaction: the tables as
// the service makes them, brought up to date.
bool prepareTables(sqlite3* db, std::string& error);
// The secondary indexes on the names, dropped before many rows are written and made again after.
bool dropNameIndexes(sqlite3* db, std::string& error);
bool createNameIndexes(sqlite3* db, std::string& error);

} // namespace yuming::service
