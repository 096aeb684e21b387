#pragma once

#include "watch/watch_schedule.h"
#include "watch/watch_table.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace yuming::service {

using WatchSink = std::function<void(const WatchEvent&)>;
// One check of one name (ASCII form): `done` once, on any thread, or at once on this one. A kept
// answer younger than `maxAge` may stand in for asking (0: ask now).
using WatchChecker = std::function<void(const std::string& name, std::chrono::seconds maxAge,
                                        std::function<void(WatchAnswer)> done)>;

// What "check now" found for one name.
struct CheckReport {
    std::string name;
    bool changed = false;
    WatchStatus from = WatchStatus::Unknown;
    WatchStatus to = WatchStatus::Unknown;
    std::string error; // empty: answered
};

// The watched names, checked on their schedule on a thread of their own; each event goes to the sink
// once, from that thread. Every other member may be called from any thread.
class Watchlist {
public:
    Watchlist(std::string dbPath, WatchSchedule schedule, WatchChecker checker, WatchSink sink);
    ~Watchlist();
    Watchlist(const Watchlist&) = delete;
    Watchlist& operator=(const Watchlist&) = delete;

    // Reads the names kept and starts checking; false with `error` when the tables cannot be read.
    bool start(std::string& error);
    void stop();

    struct Added {
        int added = 0;
        int already = 0;
        std::string error; // nothing was added
    };
    // Names in ASCII form, already checked for being domains.
    Added add(const std::vector<std::string>& names);
    // How many were watched; -1 with `error`.
    int remove(const std::vector<std::string>& names, std::string& error);
    // Sorted by name.
    std::vector<WatchState> list() const;
    bool watches(const std::string& name) const;
    bool empty() const;
    ReadResult<std::vector<WatchChange>> history(const std::string& name);
    // Checks the names (none: all) now, whatever a kept answer's age; `done` with a report per name
    // once all are answered, or at `limit` with those left marked unanswered.
    void checkNow(std::vector<std::string> names, std::chrono::milliseconds limit,
                  std::function<void(std::vector<CheckReport>)> done);
    // Checks under way at once (default 4): fewer for a slow registry rate, so that none waits
    // at the registry longer than the lookups' queue allows.
    void setInFlight(std::size_t most) { m_inFlightMost = std::max<std::size_t>(1, most); }
    // The schedule's clock moved (tests): look again at what is due.
    void wake();
    QDateTime now() const { return m_schedule.now(); }

private:
    struct Request {
        std::set<std::string> waiting;
        std::vector<CheckReport> reports;
        std::chrono::steady_clock::time_point deadline;
        std::function<void(std::vector<CheckReport>)> done;
    };
    struct Finished {
        std::string name;
        bool forced = false;
        WatchAnswer result;
    };
    void run();
    void settle(std::unique_lock<std::mutex>& lock, std::vector<WatchEvent>& events);
    void startDue(std::unique_lock<std::mutex>& lock);
    std::chrono::milliseconds untilNext() const;
    void answerRequests(bool all);

    WatchTable m_table;
    WatchSchedule m_schedule;
    const WatchChecker m_checker;
    const WatchSink m_sink;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::string, WatchState> m_names;
    std::set<std::string> m_inFlight;
    std::set<std::string> m_forced; // asked for now, not yet started
    std::vector<Finished> m_finished;
    std::vector<std::shared_ptr<Request>> m_requests;
    std::size_t m_inFlightMost = 4;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace yuming::service
