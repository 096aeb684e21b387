#pragma once

#include "watch/watch_event.h"

#include <QDateTime>

#include <chrono>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace yuming::service {

// How often a watched name is asked about, by where it stands (service.conf can change each).
struct WatchIntervals {
    // Pending delete, and the last day before the estimated drop.
    std::chrono::seconds pendingDelete{10 * 60};
    // Redemption and auto-renew grace.
    std::chrono::seconds grace{60 * 60};
    // Registered, its expiry within `expiringWithin`.
    std::chrono::seconds expiring{6 * 60 * 60};
    std::chrono::seconds expiringWithin{45 * 24 * 60 * 60};
    // Registered and settled, not registered, or not known yet.
    std::chrono::seconds settled{24 * 60 * 60};
    // A check is moved up to this share of its interval earlier, at random, so that names added
    // together are not all asked in the same second ever after.
    double jitter = 0.1;
    // After a failed check: the first retry, doubled each time up to `retryLongest` (and never later
    // than the usual interval).
    std::chrono::seconds retryFirst{60};
    std::chrono::seconds retryLongest{60 * 60};
    // Reminders this long before the estimated drop, each once.
    std::vector<std::chrono::seconds> reminders{std::chrono::hours(24), std::chrono::hours(1)};
};

// A watched name as the watchlist keeps it.
struct WatchState {
    std::string name; // ASCII form
    QDateTime addedAt;
    WatchStatus status = WatchStatus::Unknown;
    QDateTime expiry;
    QDateTime deletion;
    std::string basis; // empty: none
    QDateTime checkedAt;
    QDateTime nextCheck;
    int failures = 0;
    // The reminders sent for the estimate `deletion`, as their leads in seconds.
    std::vector<std::int64_t> reminded;
};

// What one check found. Not `ok`: the registry (or the database) gave no usable answer.
struct WatchAnswer {
    bool ok = false;
    WatchStatus status = WatchStatus::Unknown;
    QDateTime expiry;
    QDateTime deletion;
    std::string basis;
    std::string error;
};

std::string_view statusName(WatchStatus status);
std::optional<WatchStatus> statusNamed(std::string_view name);

// How long after a check at `now` the next one is due for a name as `state` has it, before jitter.
std::chrono::seconds checkInterval(const WatchIntervals& intervals, const WatchState& state,
                                   const QDateTime& now);

// The watchlist's rules, without threads or storage: when a name is asked next, what a check's
// answer changes and which events it makes, and which reminders are due. The clock is the caller's.
class WatchSchedule {
public:
    using Clock = std::function<QDateTime()>;
    explicit WatchSchedule(WatchIntervals intervals, Clock clock = {},
                           unsigned seed = std::random_device{}());

    QDateTime now() const;
    const WatchIntervals& intervals() const { return m_intervals; }

    // A name just added: due at once.
    WatchState added(std::string name) const;
    // Applies a check's answer to `state`; the events it makes (none for a failed check, which
    // leaves the last answer standing and is retried sooner). `changed` is set when the status moved.
    std::vector<WatchEvent> apply(WatchState& state, const WatchAnswer& result, bool* changed = nullptr);
    // The reminders due now, each marked sent in `state`.
    std::vector<WatchEvent> remindersDue(WatchState& state) const;
    // When the name needs attention next: its check or its next reminder.
    QDateTime nextWake(const WatchState& state) const;

private:
    QDateTime next(const WatchState& state, const QDateTime& now);

    WatchIntervals m_intervals;
    Clock m_clock;
    std::mt19937 m_random;
};

} // namespace yuming::service
