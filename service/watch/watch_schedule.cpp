#include "watch/watch_schedule.h"

#include <algorithm>
#include <cstdlib>

namespace yuming::service {

namespace {

using std::chrono::seconds;

constexpr std::string_view kStatusNames[] = {"unknown",    "active",         "auto-renew-grace",
                                             "redemption", "pending-delete", "not-registered"};
// A deletion estimate that moves by less than this is the same estimate, told more precisely.
constexpr qint64 kMovedBy = 60 * 60;
constexpr qint64 kDay = 24 * 60 * 60;

bool registered(WatchStatus status) {
    return status != WatchStatus::Unknown && status != WatchStatus::NotRegistered;
}

bool has(const std::vector<std::int64_t>& sent, std::int64_t lead) {
    return std::find(sent.begin(), sent.end(), lead) != sent.end();
}

} // namespace

std::string_view statusName(WatchStatus status) {
    return kStatusNames[static_cast<int>(status)];
}

std::optional<WatchStatus> statusNamed(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kStatusNames); ++i)
        if (kStatusNames[i] == name) return static_cast<WatchStatus>(i);
    return std::nullopt;
}

seconds checkInterval(const WatchIntervals& intervals, const WatchState& state, const QDateTime& now) {
    if (!registered(state.status)) return intervals.settled;
    if (state.status == WatchStatus::PendingDelete) return intervals.pendingDelete;
    if (state.deletion.isValid() && now.secsTo(state.deletion) <= kDay) return intervals.pendingDelete;
    if (state.status != WatchStatus::Active) return intervals.grace;
    if (state.expiry.isValid() && now.secsTo(state.expiry) <= intervals.expiringWithin.count())
        return intervals.expiring;
    return intervals.settled;
}

WatchSchedule::WatchSchedule(WatchIntervals intervals, Clock clock, unsigned seed)
    : m_intervals(std::move(intervals)), m_clock(std::move(clock)), m_random(seed) {
    std::sort(m_intervals.reminders.begin(), m_intervals.reminders.end(), std::greater<>());
}

QDateTime WatchSchedule::now() const {
    return m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
}

WatchState WatchSchedule::added(std::string name) const {
    WatchState state;
    state.name = std::move(name);
    state.addedAt = now();
    state.nextCheck = state.addedAt;
    return state;
}

// The interval, moved earlier by the jitter, and never past the moment the name's pace changes:
// its expiry, the start of its 45 days before expiry, or of the last day before its drop.
QDateTime WatchSchedule::next(const WatchState& state, const QDateTime& now) {
    const double share = std::uniform_real_distribution<double>(0.0, m_intervals.jitter)(m_random);
    const auto interval = checkInterval(m_intervals, state, now).count();
    QDateTime due = now.addSecs(std::max<qint64>(1, static_cast<qint64>(interval * (1.0 - share))));
    if (!registered(state.status)) return due;
    const auto before = [&](const QDateTime& boundary) {
        if (boundary.isValid() && boundary > now && boundary < due) due = boundary;
    };
    if (state.deletion.isValid()) before(state.deletion.addSecs(-kDay));
    if (state.expiry.isValid() && state.status == WatchStatus::Active) {
        before(state.expiry.addSecs(-m_intervals.expiringWithin.count()));
        before(state.expiry);
    }
    return due;
}

std::vector<WatchEvent> WatchSchedule::apply(WatchState& state, const WatchAnswer& result, bool* changed) {
    const QDateTime at = now();
    if (changed) *changed = false;
    if (!result.ok) {
        ++state.failures;
        const int doublings = std::min(state.failures - 1, 20);
        const qint64 retry =
            std::min({m_intervals.retryFirst.count() << doublings, m_intervals.retryLongest.count(),
                      checkInterval(m_intervals, state, at).count()});
        state.nextCheck = at.addSecs(std::max<qint64>(1, retry));
        return {};
    }
    std::vector<WatchEvent> events;
    const WatchStatus before = state.status;
    const QDateTime previous = state.deletion;
    state.status = result.status;
    state.expiry = result.expiry;
    state.deletion = result.deletion;
    state.basis = result.basis;
    state.checkedAt = at;
    state.failures = 0;
    const bool moved = previous.isValid() && state.deletion.isValid() &&
                       std::llabs(previous.secsTo(state.deletion)) > kMovedBy;
    if (moved || !state.deletion.isValid()) state.reminded.clear();
    WatchEvent event;
    event.name = state.name;
    event.from = before;
    event.to = state.status;
    event.deletion = state.deletion;
    event.expiry = state.expiry;
    event.at = at;
    if (before != state.status) {
        if (changed) *changed = true;
        // The first answer about a name is where it stands, not a change.
        if (before != WatchStatus::Unknown) events.push_back(event);
    } else if (moved && registered(state.status)) {
        event.kind = WatchEvent::Kind::DeletionMoved;
        event.previousDeletion = previous;
        events.push_back(event);
    }
    state.nextCheck = next(state, at);
    return events;
}

std::vector<WatchEvent> WatchSchedule::remindersDue(WatchState& state) const {
    if (!registered(state.status) || !state.deletion.isValid()) return {};
    const QDateTime at = now();
    if (at >= state.deletion) return {};
    std::optional<std::int64_t> closest;
    for (const seconds lead : m_intervals.reminders) {
        if (has(state.reminded, lead.count()) || at.secsTo(state.deletion) > lead.count()) continue;
        // Several due at once (a name added an hour before its drop): only the closest is told.
        state.reminded.push_back(lead.count());
        closest = lead.count();
    }
    if (!closest) return {};
    WatchEvent event;
    event.kind = WatchEvent::Kind::Reminder;
    event.name = state.name;
    event.from = event.to = state.status;
    event.deletion = state.deletion;
    event.expiry = state.expiry;
    event.lead = seconds(*closest);
    event.at = at;
    return {event};
}

QDateTime WatchSchedule::nextWake(const WatchState& state) const {
    QDateTime wake = state.nextCheck;
    if (!registered(state.status) || !state.deletion.isValid() || now() >= state.deletion) return wake;
    for (const seconds lead : m_intervals.reminders) {
        const QDateTime when = state.deletion.addSecs(-lead.count());
        if (!has(state.reminded, lead.count()) && when < wake) wake = when;
    }
    return wake;
}

} // namespace yuming::service
