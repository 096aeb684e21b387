#include "watch/watchlist.h"

#include <algorithm>
#include <iostream>

namespace yuming::service {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Looked at again at least this often, so a clock that is moved (a suspended machine waking up) is
// noticed within a second.
constexpr milliseconds kLongestSleep{1000};

} // namespace

Watchlist::Watchlist(std::string dbPath, WatchSchedule schedule, WatchChecker checker, WatchSink sink)
    : m_table(dbPath), m_schedule(std::move(schedule)), m_checker(std::move(checker)),
      m_sink(std::move(sink)) {}

Watchlist::~Watchlist() {
    stop();
}

bool Watchlist::start(std::string& error) {
    if (!m_table.isOpen()) {
        error = m_table.error();
        return false;
    }
    auto loaded = m_table.load();
    if (!loaded.ok()) {
        error = loaded.error;
        return false;
    }
    for (WatchState& state : loaded.value)
        m_names.emplace(state.name, std::move(state));
    m_thread = std::thread([this] { run(); });
    return true;
}

void Watchlist::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    answerRequests(true);
}

Watchlist::Added Watchlist::add(const std::vector<std::string>& names) {
    Added added;
    std::vector<WatchState> fresh;
    {
        const std::lock_guard lock(m_mutex);
        std::set<std::string> seen;
        for (const std::string& name : names) {
            if (m_names.contains(name) || !seen.insert(name).second) {
                ++added.already;
                continue;
            }
            fresh.push_back(m_schedule.added(name));
        }
        added.error = m_table.insert(fresh);
        if (!added.error.empty()) return {0, 0, added.error};
        for (WatchState& state : fresh)
            m_names.emplace(state.name, std::move(state));
        added.added = static_cast<int>(fresh.size());
    }
    m_wake.notify_all();
    return added;
}

int Watchlist::remove(const std::vector<std::string>& names, std::string& error) {
    const std::lock_guard lock(m_mutex);
    std::vector<std::string> watched;
    std::set<std::string> seen;
    for (const std::string& name : names)
        if (m_names.contains(name) && seen.insert(name).second) watched.push_back(name);
    error = m_table.remove(watched);
    if (!error.empty()) return -1;
    for (const std::string& name : watched) {
        m_names.erase(name);
        m_forced.erase(name);
        // A "check now" waiting for it is told at once rather than at its time limit.
        for (const auto& request : m_requests)
            if (request->waiting.erase(name))
                request->reports.push_back(
                    {name, false, WatchStatus::Unknown, WatchStatus::Unknown, "removed"});
    }
    m_wake.notify_all();
    return static_cast<int>(watched.size());
}

std::vector<WatchState> Watchlist::list() const {
    const std::lock_guard lock(m_mutex);
    std::vector<WatchState> states;
    states.reserve(m_names.size());
    for (const auto& [name, state] : m_names)
        states.push_back(state);
    return states;
}

bool Watchlist::watches(const std::string& name) const {
    const std::lock_guard lock(m_mutex);
    return m_names.contains(name);
}

bool Watchlist::empty() const {
    const std::lock_guard lock(m_mutex);
    return m_names.empty();
}

ReadResult<std::vector<WatchChange>> Watchlist::history(const std::string& name) {
    const std::lock_guard lock(m_mutex);
    return m_table.history(name);
}

void Watchlist::checkNow(std::vector<std::string> names, milliseconds limit,
                         std::function<void(std::vector<CheckReport>)> done) {
    auto request = std::make_shared<Request>();
    request->deadline = SteadyClock::now() + limit;
    request->done = std::move(done);
    {
        const std::lock_guard lock(m_mutex);
        if (names.empty())
            for (const auto& [name, state] : m_names)
                names.push_back(name);
        for (const std::string& name : names)
            if (m_names.contains(name)) request->waiting.insert(name);
        m_forced.insert(request->waiting.begin(), request->waiting.end());
        m_requests.push_back(request);
    }
    m_wake.notify_all();
}

void Watchlist::wake() {
    m_wake.notify_all();
}

void Watchlist::run() {
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        std::vector<WatchEvent> events;
        settle(lock, events);
        if (!events.empty()) {
            lock.unlock();
            for (const WatchEvent& event : events)
                m_sink(event);
            lock.lock();
            continue;
        }
        startDue(lock);
        if (m_stopping) break;
        lock.unlock();
        answerRequests(false);
        lock.lock();
        if (!m_finished.empty()) continue;
        m_wake.wait_for(lock, untilNext());
    }
}

// The answers that came in, and the reminders now due.
void Watchlist::settle(std::unique_lock<std::mutex>&, std::vector<WatchEvent>& events) {
    std::vector<Finished> finished;
    finished.swap(m_finished);
    for (Finished& each : finished) {
        m_inFlight.erase(each.name);
        const auto found = m_names.find(each.name);
        if (found == m_names.end()) continue; // removed meanwhile
        WatchState& state = found->second;
        const WatchStatus before = state.status;
        bool changed = false;
        std::vector<WatchEvent> made = m_schedule.apply(state, each.result, &changed);
        const std::optional<WatchChange> change =
            changed ? std::optional<WatchChange>(WatchChange{state.checkedAt, before, state.status})
                    : std::nullopt;
        if (const std::string error = m_table.save(state, change); !error.empty())
            std::cerr << "yuming-service: cannot keep the watchlist's answer about " << state.name << ": "
                      << error << '\n';
        // Said once when a name's checks begin to fail, not at every retry.
        if (!each.result.ok && state.failures == 1)
            std::cerr << "yuming-service: watchlist check of " << state.name
                      << " failed: " << each.result.error << '\n';
        events.insert(events.end(), made.begin(), made.end());
        if (!each.forced) continue;
        for (const auto& request : m_requests)
            if (request->waiting.erase(each.name))
                request->reports.push_back({each.name, changed, before, state.status, each.result.error});
    }
    const QDateTime now = m_schedule.now();
    for (auto& [name, state] : m_names) {
        if (m_schedule.nextWake(state) > now) continue;
        std::vector<WatchEvent> due = m_schedule.remindersDue(state);
        if (due.empty()) continue;
        if (const std::string error = m_table.save(state); !error.empty())
            std::cerr << "yuming-service: cannot note the reminder of " << name << ": " << error << '\n';
        events.insert(events.end(), due.begin(), due.end());
    }
}

// Names asked for now go first, then those due, a few at a time: the registries' own rate limit
// paces them, and a short queue at a registry keeps the searches' own lookups from waiting behind
// the watchlist.
void Watchlist::startDue(std::unique_lock<std::mutex>& lock) {
    const QDateTime now = m_schedule.now();
    std::vector<std::pair<std::string, seconds>> starting;
    const auto room = [&] { return m_inFlight.size() + starting.size() < m_inFlightMost; };
    for (auto it = m_forced.begin(); it != m_forced.end() && room();) {
        if (m_inFlight.contains(*it)) {
            ++it;
            continue;
        }
        starting.emplace_back(*it, seconds(0));
        it = m_forced.erase(it);
    }
    const std::size_t forced = starting.size();
    for (const auto& [name, state] : m_names) {
        if (!room()) break;
        if (state.nextCheck > now || m_inFlight.contains(name) || m_forced.contains(name)) continue;
        if (std::any_of(starting.begin(), starting.end(),
                        [&name = name](const auto& s) { return s.first == name; }))
            continue;
        // A kept answer from within half the interval is as good as asking again.
        starting.emplace_back(name, checkInterval(m_schedule.intervals(), state, now) / 2);
    }
    for (const auto& [name, maxAge] : starting)
        m_inFlight.insert(name);
    lock.unlock();
    for (std::size_t i = 0; i < starting.size(); ++i) {
        const bool isForced = i < forced;
        const std::string name = starting[i].first;
        m_checker(name, starting[i].second, [this, name, isForced](WatchAnswer result) {
            {
                const std::lock_guard guard(m_mutex);
                m_finished.push_back({name, isForced, std::move(result)});
            }
            m_wake.notify_all();
        });
    }
    lock.lock();
}

milliseconds Watchlist::untilNext() const {
    if (m_inFlight.size() >= m_inFlightMost) return kLongestSleep;
    if (std::any_of(m_forced.begin(), m_forced.end(),
                    [&](const std::string& name) { return !m_inFlight.contains(name); }))
        return milliseconds(0);
    const QDateTime now = m_schedule.now();
    qint64 soonest = kLongestSleep.count();
    for (const auto& [name, state] : m_names) {
        if (m_inFlight.contains(name)) continue;
        soonest = std::min(soonest, std::max<qint64>(0, now.msecsTo(m_schedule.nextWake(state))));
        if (soonest == 0) break;
    }
    for (const auto& request : m_requests)
        soonest = std::min<qint64>(
            soonest,
            std::max<qint64>(
                0, std::chrono::duration_cast<milliseconds>(request->deadline - SteadyClock::now()).count()));
    return milliseconds(soonest);
}

// Each request all of whose names are answered, or whose time is up (all: the watchlist stops).
void Watchlist::answerRequests(bool all) {
    std::vector<std::shared_ptr<Request>> ready;
    {
        const std::lock_guard lock(m_mutex);
        const auto now = SteadyClock::now();
        const auto isReady = [&](const std::shared_ptr<Request>& r) {
            return all || r->waiting.empty() || now >= r->deadline;
        };
        std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(ready), isReady);
        std::erase_if(m_requests, isReady);
        for (const auto& request : ready)
            for (const std::string& name : request->waiting) {
                const auto found = m_names.find(name);
                const WatchStatus status =
                    found != m_names.end() ? found->second.status : WatchStatus::Unknown;
                request->reports.push_back({name, false, status, status, "not answered in time"});
            }
    }
    for (const auto& request : ready) {
        std::sort(request->reports.begin(), request->reports.end(),
                  [](const CheckReport& a, const CheckReport& b) { return a.name < b.name; });
        request->done(std::move(request->reports));
    }
}

} // namespace yuming::service
