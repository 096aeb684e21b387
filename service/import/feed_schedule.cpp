#include "import/feed_schedule.h"

#include <QDateTime>

#include <algorithm>

namespace yuming::service {

namespace {

constexpr std::int64_t kFirstBackOff = 30 * 60;
// A Retry-After further off than this is a server's mistake, not a plan.
constexpr std::int64_t kLongestRetryAfter = 7 * 86400;

} // namespace

FeedSchedule::FeedSchedule(Clock clock, QTimeZone zone, std::uint64_t seed)
    : m_clock(std::move(clock)), m_zone(std::move(zone)), m_random(seed) {}

std::chrono::seconds FeedSchedule::jitterBound(std::chrono::seconds every) {
    return std::min<std::chrono::seconds>(every / 20, std::chrono::minutes(15));
}

std::int64_t FeedSchedule::jittered(std::int64_t at, std::chrono::seconds every) {
    const std::int64_t bound = jitterBound(every).count();
    return at + std::uniform_int_distribution<std::int64_t>(0, bound)(m_random);
}

// The first of the feed's times of day (its `at`, then every `every` from it) not before `earliest`.
std::int64_t FeedSchedule::slotAfter(const FeedPlan& plan, std::int64_t earliest) const {
    const QDateTime day = QDateTime::fromSecsSinceEpoch(earliest, m_zone);
    const QDateTime anchorTime(day.date(), QTime(*plan.at / 60, *plan.at % 60), m_zone);
    const std::int64_t anchor = anchorTime.toSecsSinceEpoch();
    const std::int64_t every = plan.every.count();
    std::int64_t steps = (earliest - anchor) / every;
    if (anchor + steps * every < earliest) ++steps;
    return anchor + steps * every;
}

std::int64_t FeedSchedule::afterSuccess(const FeedPlan& plan, std::int64_t started) {
    const std::int64_t every = plan.every.count();
    if (!plan.at) return jittered(started + every, plan.every);
    // A fetch begun late within its slot's jitter still counts as that slot's.
    const std::int64_t slot = slotAfter(plan, started + every - jitterBound(plan.every).count());
    return std::max(jittered(slot, plan.every), started + every);
}

std::int64_t FeedSchedule::afterFailure(const FeedPlan& plan, std::int64_t started, int failures,
                                        std::optional<std::chrono::seconds> retryAfter) {
    const std::int64_t longest = std::max<std::int64_t>(plan.every.count(), kFirstBackOff);
    std::int64_t wait = kFirstBackOff;
    for (int i = 1; i < failures && wait < longest; ++i)
        wait *= 2;
    wait = std::min(wait, longest);
    if (retryAfter) wait = std::max<std::int64_t>(wait, std::min(retryAfter->count(), kLongestRetryAfter));
    return jittered(started + wait, std::chrono::seconds(wait));
}

std::optional<std::size_t> FeedSchedule::pick(const std::vector<Feed>& feeds, std::int64_t& wake) const {
    const std::int64_t now = m_clock();
    std::optional<std::size_t> chosen;
    wake = 0;
    for (std::size_t i = 0; i < feeds.size(); ++i) {
        const std::int64_t due = feeds[i].next.value_or(0);
        if (due > now) {
            wake = wake == 0 ? due : std::min(wake, due);
            continue;
        }
        if (m_busy.contains(hostOf(feeds[i].plan.url))) continue;
        if (!chosen || due < feeds[*chosen].next.value_or(0)) chosen = i;
    }
    return chosen;
}

void FeedSchedule::begin(const std::string& url) {
    m_busy.insert(hostOf(url));
}

void FeedSchedule::end(const std::string& url) {
    const auto found = m_busy.find(hostOf(url));
    if (found != m_busy.end()) m_busy.erase(found);
}

std::string FeedSchedule::hostOf(const std::string& url) {
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) return {};
    const std::string name = url.substr(0, scheme);
    const auto from = scheme + 3;
    std::string authority = url.substr(from, url.find_first_of("/?#", from) - from);
    if (const auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    std::transform(authority.begin(), authority.end(), authority.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // An IPv6 address's colons are inside its brackets; a port's comes after them.
    const auto bracket = authority.rfind(']');
    if (authority.find(':', bracket == std::string::npos ? 0 : bracket) != std::string::npos)
        return authority;
    return authority + (name == "https" ? ":443" : ":80");
}

} // namespace yuming::service
