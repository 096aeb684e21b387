#pragma once

#include "import/feed_schedule.h"
#include "import/feed_store.h"

#include <QTimeZone>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace yuming::service {

struct FeedEnv {
    std::string dbPath;
    std::string caFile; // trusted besides the system's CAs
    QTimeZone zone;
};

struct FeedRun {
    bool ok = false;  // taken, or answered 304
    std::string line; // what happened, for the log and the command line
};

// Fetches `feed` once and, when a list came, imports it in one transaction; the outcome and the
// next fetch are recorded on the feed whatever happened, except a fetch ended by `stop`, which
// leaves the feed as it was for the next start. The list is kept as it was on any failure.
FeedRun fetchFeed(const Feed& feed, const FeedEnv& env, FeedSchedule& schedule, bool acceptShrink,
                  const std::atomic<bool>* stop = nullptr);

// `yuming-service feed fetch [URL]`: each feed (or the one) fetched now, a line each on stdout
// (a failure's on stderr). 0 when every fetch was taken or answered 304.
int runFeedFetch(const FeedEnv& env, const std::string& url, bool acceptShrink);

// The running service's feeds: on a thread of its own, each fetched when the schedule says. The
// feeds table is read again every few seconds, so a feed added beside the service is fetched
// without a restart; the catalogue keeper then serves the new list.
class FeedRunner {
public:
    FeedRunner(FeedEnv env, std::function<void(const std::string&)> log);
    ~FeedRunner();
    FeedRunner(const FeedRunner&) = delete;
    FeedRunner& operator=(const FeedRunner&) = delete;
    void stop();
    // Whether the database keeps any feed: work to do, which a service that ends when idle stays for.
    bool any() const { return m_any.load(); }

private:
    void run();
    // Waits up to `seconds`; false once stopping.
    bool rest(std::int64_t seconds);

    const FeedEnv m_env;
    const std::function<void(const std::string&)> m_log;
    FeedSchedule m_schedule;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    // Ends a fetch under way when the service stops; an import already writing is let finish.
    std::atomic<bool> m_cancel = false;
    std::atomic<bool> m_any = false;
    std::string m_lastError;
    // Feeds fetched by this runner are not fetched again before this, whatever the table says:
    // an outcome that could not be recorded is no reason for a tight loop.
    std::map<std::int64_t, std::int64_t> m_notBefore;
    std::thread m_thread;
};

} // namespace yuming::service
