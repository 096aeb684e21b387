#pragma once

#include "search_filters.h"
#include "seed.h"

#include <QDate>

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

// Brings the database at `path` up to date for `today`: creates and seeds it when it is new
// or empty, and moves every date forward by the days passed since it was last dated, so the
// drop list always covers the coming 30 days.
bool prepareDatabase(const std::string& path, const SeedOptions& options, QDate today, std::string& error);

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
    std::vector<ListedName> listed(QDate today);
    std::optional<Registration> registration(std::string_view name, std::string_view suffix);

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
