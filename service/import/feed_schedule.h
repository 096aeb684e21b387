#pragma once

#include "import/feed_store.h"

#include <QTimeZone>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace yuming::service {

// When each feed is fetched, at a clock the caller gives (seconds since the epoch), with no
// threads of its own. A feed is fetched no more often than its interval, later by a random
// jitter so that clients of one publisher do not all come at once; one that failed is tried
// again with a back-off that doubles from 30 minutes (never more often), up to its interval, or
// after the server's Retry-After when that is later; and one host is asked for one feed at a time.
class FeedSchedule {
public:
    using Clock = std::function<std::int64_t()>;
    FeedSchedule(Clock clock, QTimeZone zone, std::uint64_t seed);

    std::int64_t now() const { return m_clock(); }
    // The longest jitter for a feed fetched every `every`: a twentieth of it, at most 15 minutes.
    static std::chrono::seconds jitterBound(std::chrono::seconds every);
    // The next fetch after one begun at `started` that was taken or answered 304.
    std::int64_t afterSuccess(const FeedPlan& plan, std::int64_t started);
    // The next one after the `failures`-th failure in a row (1 for the first).
    std::int64_t afterFailure(const FeedPlan& plan, std::int64_t started, int failures,
                              std::optional<std::chrono::seconds> retryAfter);

    // Of `feeds`, the index of the one to fetch now: due (or never fetched), its host not busy,
    // the longest overdue first. None: `wake` says when one next falls due (0: none will).
    std::optional<std::size_t> pick(const std::vector<Feed>& feeds, std::int64_t& wake) const;
    void begin(const std::string& url);
    void end(const std::string& url);

    // "example.com:443" of an http or https URL; empty for none.
    static std::string hostOf(const std::string& url);

private:
    std::int64_t jittered(std::int64_t at, std::chrono::seconds every);
    std::int64_t slotAfter(const FeedPlan& plan, std::int64_t earliest) const;

    Clock m_clock;
    QTimeZone m_zone;
    std::mt19937_64 m_random;
    std::multiset<std::string> m_busy;
};

} // namespace yuming::service
