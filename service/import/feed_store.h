#pragma once

#include "import/drop_list.h"
#include "store/read_result.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace yuming::service {

// The feeds a database keeps (its feeds table): what to fetch, how often, and what the last
// fetch gave. Each call is a short transaction of its own on the file at `dbPath`.

struct FeedPlan {
    std::string url;
    std::chrono::seconds every{24 * 3600};
    // Minutes after midnight (local) that fetches are lined up on; none: any time.
    std::optional<int> at;
    // How its dates written a/b/yyyy are read, when the list's own dates do not say.
    DateOrder dateOrder = DateOrder::Auto;
};

struct Feed {
    std::int64_t id = 0;
    FeedPlan plan;
    bool conf = false; // named in service.conf
    std::int64_t added = 0;
    std::string lastModified, etag;
    std::optional<std::int64_t> names; // usable names of the last list taken
    std::optional<std::int64_t> fetched;
    int status = 0;
    std::int64_t bytes = 0;
    std::string counts; // "10 added, 1 updated, 0 removed, 3 skipped (...)"
    std::optional<std::int64_t> changed;
    std::optional<std::int64_t> next;
    int failures = 0;
    std::string error;
};

// What one fetch did, recorded on its feed. Times are seconds since the epoch.
struct FetchRecord {
    std::int64_t at = 0;
    int status = 0;
    std::int64_t bytes = 0;
    bool taken = false;   // a list was imported: the validators and counts are the answer's
    bool changed = false; // and it changed the names
    std::string lastModified, etag;
    std::string counts;
    std::string error; // empty: taken or not modified
    int failures = 0;
    std::int64_t next = 0;
};

ReadResult<std::vector<Feed>> readFeeds(const std::string& dbPath);
// false with `error` for a URL already kept (the plan is then changed), or a file not the service's.
bool addFeed(const std::string& dbPath, const FeedPlan& plan, bool& existed, std::string& error);
// Takes the feed off, and with it the names only it listed. `found` false: none had that URL.
bool removeFeed(const std::string& dbPath, const std::string& url, bool& found, std::int64_t& removed,
                std::string& error);
bool recordFetch(const std::string& dbPath, std::int64_t id, const FetchRecord& record, std::string& error);
// The feeds service.conf names become the database's conf feeds: new ones added, changed plans
// taken, those no longer named removed (with their names). Feeds added by command stay.
bool syncConfFeeds(const std::string& dbPath, const std::vector<FeedPlan>& plans, std::string& error);

} // namespace yuming::service
