#pragma once

#include "store/read_result.h"
#include "watch/watch_schedule.h"

#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace yuming::service {

// A change of a watched name's status, as its history keeps it.
struct WatchChange {
    QDateTime at;
    WatchStatus from = WatchStatus::Unknown;
    WatchStatus to = WatchStatus::Unknown;
};

// The watched names and their changes in the service's database (tables `watched` and
// `watch_changes`, made with the others). One thread at a time.
class WatchTable {
public:
    explicit WatchTable(const std::string& dbPath);
    ~WatchTable();
    WatchTable(const WatchTable&) = delete;
    WatchTable& operator=(const WatchTable&) = delete;

    bool isOpen() const { return m_db != nullptr; }
    const std::string& error() const { return m_error; }

    ReadResult<std::vector<WatchState>> load();
    // Each an error text, or empty. insert keeps a name already watched as it is; all in one
    // transaction, all or nothing.
    std::string insert(const std::vector<WatchState>& states);
    std::string remove(const std::vector<std::string>& names);
    // The name's state, and with it the change of status its check found.
    std::string save(const WatchState& state, const std::optional<WatchChange>& change = std::nullopt);
    ReadResult<std::vector<WatchChange>> history(const std::string& name);

private:
    bool inTransaction(const std::function<bool(std::string&)>& work, std::string& error);

    sqlite3* m_db = nullptr;
    std::string m_error;
};

} // namespace yuming::service
