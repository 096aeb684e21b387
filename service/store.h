#pragma once

#include "search_filters.h"
#include "seed.h"

#include <QDate>

#include <chrono>
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

// What a read of the database gave: the value, or why the file could not be read. A read that
// failed is never an empty answer; `error` is empty exactly when the read succeeded.
template <typename T> struct ReadResult {
    T value{};
    std::string error;
    bool ok() const { return error.empty(); }
};

// Brings the database at `path` up to date for `today`: creates and seeds it when it is new
// or empty, and moves every date forward by the days passed since it was last dated, so the
// drop list always covers the coming 30 days. Any error reading the file fails it: a database
// that holds names is never seeded again.
bool prepareDatabase(const std::string& path, const SeedOptions& options, QDate today, std::string& error);

enum class CheckDepth {
    Quick, // every page and b-tree is whole (PRAGMA quick_check)
    Full,  // and every index agrees with its table (PRAGMA integrity_check)
};

struct CheckResult {
    enum class Outcome {
        Sound,
        Damaged,    // `problems` says what SQLite found
        CutShort,   // the time allowed ran out before the check ended
        Unreadable, // the file could not be checked at all: `problems` holds why
    };
    Outcome outcome = Outcome::Unreadable;
    std::vector<std::string> problems;
    std::chrono::milliseconds took{};
};

// Checks the structure of the existing database at `path`, read-only: never creates, seeds or
// changes the file. With a `budget`, the check stops when that time has passed.
CheckResult checkDatabase(const std::string& path, CheckDepth depth,
                          std::optional<std::chrono::milliseconds> budget = std::nullopt);

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
    // Names dropping from `today` up to (not including) `today` + 30 days.
    ReadResult<std::vector<ListedName>> listed(QDate today);
    // No registration (an empty value) only when the database was read and holds none.
    ReadResult<std::optional<Registration>> registration(std::string_view name, std::string_view suffix);

private:
    sqlite3* m_db = nullptr;
    std::string m_error;
    struct Statements;
    std::unique_ptr<Statements> m_statements;
};

// The first day after the drop list.
inline QDate listEnd(QDate today) {
    return today.addDays(30);
}

} // namespace yuming::service
