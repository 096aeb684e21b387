#pragma once

// The store's connections, and with them the rest of the store: the tables and their migration
// (schema.h), the meta table (meta.h), the check of the file (check.h), the drop list's rule
// (listing_rule.h).

#include "protocol/search_query.h"
#include "store/check.h"
#include "store/listing_rule.h"
#include "store/meta.h"
#include "store/read_result.h"
#include "store/schema.h"
#include "store/seed.h"

#include <QDate>
#include <QDateTime>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace yuming::service {

// A name on the drop list, as the search catalogue keeps it.
struct ListedName {
    std::string name;
    Suffix suffix;
    std::string deletion;
};

struct Registration {
    std::string expiry;
    std::string deletion;
};

// A registry's answer about one domain as kept in the database: when it was fetched, whether
// the domain exists, and the answer's facts in a compact text form.
struct RegistryAnswer {
    std::int64_t fetched = 0; // seconds since the epoch
    bool found = false;
    std::string record;
};

// Each name on the drop list: its label, suffix and deletion time.
using ListedUse = std::function<void(std::string_view name, Suffix suffix, std::string_view deletion)>;
// Calls `use` with each name on the drop list at `now`; empty, or why the names could not be read.
// For a writer, inside its transaction; readers use Store::eachListed.
std::string eachListed(sqlite3* db, const QDateTime& now, const ListedUse& use);
// Stores `image` as the search index of generation `generation` of the names, made on `day`. Inside
// the caller's write transaction, after the names changed (and noteDropListChanged).
bool storeCatalogueImage(sqlite3* db, std::string_view image, std::int64_t generation, QDate day,
                         std::string& error);

// The search index kept in the database, when it is the one of the names as they are.
struct StoredImage {
    bool fits = false;           // false: none fits, `note` says why
    std::int64_t generation = 0; // of the names
    std::string note;
    // The days every deletion time in the image is to be moved by to be today's: the generated
    // names' dates were shown for another day when it was stored.
    int moveDays = 0;
};
// Where a stored image of `bytes` bytes is to be read into.
using ImageRoom = std::function<char*(std::size_t bytes)>;

// A read-only connection. SQLite connections must not be shared between threads without a
// lock, so each serving thread opens its own.
class Store {
public:
    explicit Store(const std::string& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    bool isOpen() const { return m_db != nullptr; }
    const std::string& error() const { return m_error; }
    // The drop list at the start of `today`: names deleted from then on; imported names whenever
    // they go, the others within the 30 days from `today`.
    ReadResult<std::vector<ListedName>> listed(QDate today);
    // Calls `use` with each name on the list at `now`; empty, or why the names could not be read.
    std::string eachListed(const QDateTime& now, const ListedUse& use);
    // The stored search index, read into `room`, when it is the one of the names at `now`.
    ReadResult<StoredImage> storedImage(const QDateTime& now, const ImageRoom& room);
    // Goes up with every change of the names.
    ReadResult<std::int64_t> generation();
    // Whether the names are sample data (sample_mark.h).
    ReadResult<bool> sample();
    // When an import or a feed last changed the names (meta.h).
    ReadResult<std::optional<ListRefresh>> refresh();
    // The days generated names' dates are shown moved by (shown_dates.h).
    ReadResult<int> shownShift();
    // Reads as the file will be once prepared on `day`, which shows the generated dates as of it:
    // for what is read while the file is checked, before it is prepared.
    void showAsOf(QDate day) { m_shownOn = day; }
    // Whether a generated name is shown deleted from `from` to before `to` (date texts).
    ReadResult<bool> shownGeneratedIn(const std::string& from, const std::string& to);
    // No registration (an empty value) only when the database was read and holds none.
    ReadResult<std::optional<Registration>> registration(std::string_view name, std::string_view suffix);
    // The registry's last answer about `domain` (lower case), if one was kept.
    ReadResult<std::optional<RegistryAnswer>> answer(std::string_view domain);

private:
    sqlite3* m_db = nullptr;
    std::string m_error;
    int m_code = 0;
    std::optional<QDate> m_shownOn;
    struct Statements;
    std::unique_ptr<Statements> m_statements;
};

// The one connection that writes while the service runs: registries' answers, and the names
// those answers put on the drop list or take off it. One thread at a time.
class StoreWriter {
public:
    explicit StoreWriter(const std::string& path);
    ~StoreWriter();
    StoreWriter(const StoreWriter&) = delete;
    StoreWriter& operator=(const StoreWriter&) = delete;

    bool isOpen() const { return m_db != nullptr; }
    const std::string& error() const { return m_error; }
    // A writer of its own thread may wait long for a file another writer holds (an import of
    // millions of names); it gives up at `longest`, or at once when `stop` is set.
    void waitWhileBusy(std::chrono::milliseconds longest, const std::atomic<bool>& stop);
    // Empty, or why the answer could not be kept.
    std::string saveAnswer(std::string_view domain, const RegistryAnswer& answer);
    // What a registry says of a name: `now` its dates (none: it is not registered, and a row
    // it has goes), `list` whether the registry has it being deleted: then it is listed however
    // far off its deletion is, even when it had no row yet. A name already kept takes the
    // registry's dates. True when the drop list of `today` changed.
    ReadResult<bool> learn(std::string_view name, Suffix suffix, const std::optional<Registration>& now,
                           bool list, QDate today);
    // Stores `image` as the search index, unless the names changed since `generation`: empty, or
    // why it could not be stored.
    std::string saveCatalogue(std::string_view image, std::int64_t generation, QDate day);

private:
    struct BusyWait {
        std::chrono::milliseconds longest{};
        const std::atomic<bool>* stop = nullptr;
        std::chrono::steady_clock::time_point began{};
    };
    sqlite3* m_db = nullptr;
    std::string m_error;
    BusyWait m_busy;
};

} // namespace yuming::service
