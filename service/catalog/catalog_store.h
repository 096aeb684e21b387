#pragma once

#include "catalog/catalog.h"
#include "store/store.h"

#include <QDateTime>

#include <cstdint>
#include <memory>
#include <string>

struct sqlite3;

namespace yuming::service {

// The catalogue as it is kept with the database: built from the names on the list, or read back
// from the image stored beside them.

// The drop list at `now`, as a catalogue built from the names.
ReadResult<std::shared_ptr<const Catalog>> builtCatalogue(Store& store, const QDateTime& now);

// The search index kept in the database, when it is the one of the names as they are.
struct StoredCatalogue {
    std::shared_ptr<const Catalog> catalog; // null: none fits, `note` says why
    std::int64_t generation = 0;            // of the names
    std::string note;
    // Its dates were moved to today's on reading: it is to be stored again.
    bool moved = false;
};
// The stored catalogue, already without the names deleted before `now`, its generated names'
// dates as shown today.
ReadResult<StoredCatalogue> storedCatalogue(Store& store, const QDateTime& now);

// Builds the catalogue of the drop list at `now` from the names and stores it with the database as
// the search index of the current generation, so the service starts without building it. Inside
// the caller's write transaction, after the names changed (and noteDropListChanged).
bool saveCatalogue(sqlite3* db, const QDateTime& now, std::string& error);

} // namespace yuming::service
