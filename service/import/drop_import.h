#pragma once

#include "import/drop_list.h"

#include <QDate>
#include <QTimeZone>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace yuming::service {

struct ImportRequest {
    std::vector<std::string> files;
    std::string dbPath;
    // The lists become the drop list: names not in them leave the database, and the names in them
    // take the lists' times whether earlier or later.
    bool replace = false;
    // The zone the service's times are in; a time given with an offset is turned into it.
    QTimeZone zone;
    // The date mark of a database the import creates, and the day the lists' dates are checked by.
    QDate today;
    // The deletion day of names listed without a time.
    std::optional<QDate> bareDay;
    // How dates written a/b/yyyy are read.
    DateOrder dateOrder = DateOrder::Auto;
    // A feed's fetch: its names replace the ones it gave last time, and no other source's.
    struct Feed {
        std::int64_t id = 0;
        // Fewer than half the names it gave last time are taken rather than refused.
        bool acceptShrink = false;
    };
    std::optional<Feed> feed = std::nullopt;
};

struct ImportCounts {
    std::int64_t added = 0;
    std::int64_t updated = 0;
    std::int64_t unchanged = 0;
    std::int64_t removed = 0;
    SkipCounts skipped{};
};

class ImportObserver : public ListObserver {
public:
    // Every file is open; `bytes` in all, as stored.
    virtual void reading(std::uint64_t bytes) = 0;
    // Every file is read; the database is being written.
    virtual void writing() = 0;
};

struct ImportResult {
    ImportCounts counts;
    std::string error;
    bool ok() const { return error.empty(); }
};

// Reads every file, then writes the names in one transaction: all of them or, on any failure (a
// file that cannot be read to its end, a full disk), none, and a database file the import made
// goes again. Without `replace` a name already kept takes a later deletion time only.
ImportResult importDropLists(const ImportRequest& request, ImportObserver& observer);

// "imported 2 files: 10 added, 1 updated, 0 unchanged, 3 skipped (2 bad name, 1 duplicate)".
std::string importSummary(const ImportCounts& counts, std::size_t files, bool replace);

// `yuming-service import`: the summary on stdout, skipped lines and a progress bar (on a terminal)
// on stderr. `zoneName` empty: the system's zone; `bareDate` (YYYY-MM-DD) empty: none given.
// An http(s) URL among the files is fetched first, trusting `caFile` besides the system's CAs.
// 0 imported, 1 failed.
int runImport(const std::vector<std::string>& files, const std::string& dbPath, bool replace,
              const std::string& zoneName, const std::string& bareDate = {},
              DateOrder dateOrder = DateOrder::Auto, const std::string& caFile = {});

} // namespace yuming::service
