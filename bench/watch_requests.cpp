// The registry requests a day the watchlist's schedule makes for a mix of watched names: each kind
// of name walked through one day at the schedule's own pace (default intervals and jitter), its
// status standing all day. Prints one line per kind and the total for the mix.
//
// usage: watch_requests [NAMES]   (default 10000)
#include "watch/watch_schedule.h"

#include <QTimeZone>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace yuming::service;

namespace {

struct Kind {
    const char* what;
    double share;
    WatchStatus status;
    qint64 expiresIn; // seconds from the start of the day; 0: none
    qint64 dropsIn;
};

constexpr qint64 kDay = 86400;

// Checks a day for a name of `kind` at the schedule's pace, over a week (each check after the first).
double checksPerDay(const Kind& kind, unsigned seed) {
    qint64 secs = 1'800'000'000;
    WatchSchedule schedule(
        WatchIntervals{}, [&secs] { return QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()); }, seed);
    WatchAnswer answer;
    answer.ok = true;
    answer.status = kind.status;
    if (kind.expiresIn)
        answer.expiry = QDateTime::fromSecsSinceEpoch(secs + kind.expiresIn, QTimeZone::utc());
    if (kind.dropsIn) answer.deletion = QDateTime::fromSecsSinceEpoch(secs + kind.dropsIn, QTimeZone::utc());
    WatchState state = schedule.added("mix.com");
    constexpr int kDays = 7;
    const qint64 end = secs + kDays * kDay;
    schedule.apply(state, answer);
    secs = state.nextCheck.toSecsSinceEpoch();
    int checks = 0;
    while (secs < end) {
        schedule.apply(state, answer);
        ++checks;
        secs = state.nextCheck.toSecsSinceEpoch();
    }
    return double(checks) / kDays;
}

} // namespace

int main(int argc, char* argv[]) {
    const int names = argc > 1 ? std::atoi(argv[1]) : 10000;
    // A domainer's list: mostly names registered and settled, some expiring, a few in their last weeks.
    const Kind mix[] = {
        {"active, expiry > 45 days", 0.70, WatchStatus::Active, 200 * kDay, 275 * kDay},
        {"active, expiry within 45 days", 0.15, WatchStatus::Active, 20 * kDay, 95 * kDay},
        {"auto-renew grace", 0.04, WatchStatus::AutoRenewGrace, -10 * kDay, 65 * kDay},
        {"redemption", 0.04, WatchStatus::Redemption, -40 * kDay, 25 * kDay},
        {"pending delete", 0.02, WatchStatus::PendingDelete, -70 * kDay, 3 * kDay},
        {"not registered", 0.05, WatchStatus::NotRegistered, 0, 0},
    };
    double total = 0;
    std::printf("%-32s %7s %7s %14s\n", "kind", "share", "names", "requests/day");
    for (const Kind& kind : mix) {
        // The mean over a few starting points of the jitter.
        double perName = 0;
        constexpr int kRuns = 20;
        for (int run = 0; run < kRuns; ++run)
            perName += checksPerDay(kind, static_cast<unsigned>(run + 1));
        perName /= kRuns;
        const double count = kind.share * names;
        total += perName * count;
        std::printf("%-32s %6.0f%% %7.0f %14.0f  (%.1f per name)\n", kind.what, kind.share * 100, count,
                    perName * count, perName);
    }
    std::printf("%-32s %7s %7d %14.0f  (%.2f requests/s on average)\n", "all", "", names, total,
                total / kDay);
    return 0;
}
