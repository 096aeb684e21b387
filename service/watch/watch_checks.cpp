#include "watch/watch_checks.h"

#include "registry/domain_name.h"
#include "registry/online_lookups.h"
#include "store/store.h"

#include "protocol/moment.h"
#include "text/gbk.h"

#include <QUrl>

#include <memory>

namespace yuming::service {

namespace {

std::string basisName(DeletionBasis basis) {
    switch (basis) {
    case DeletionBasis::PendingDelete:
        return "pending-delete";
    case DeletionBasis::Redemption:
        return "redemption";
    case DeletionBasis::AutoRenewGrace:
        return "auto-renew-grace";
    case DeletionBasis::Expired:
        return "expired";
    case DeletionBasis::Active:
        break;
    }
    return "active";
}

WatchStatus statusOf(DeletionBasis basis) {
    switch (basis) {
    case DeletionBasis::PendingDelete:
        return WatchStatus::PendingDelete;
    case DeletionBasis::Redemption:
        return WatchStatus::Redemption;
    // Past its expiry with no status that says more: the registry's grace, as the estimate takes it.
    case DeletionBasis::AutoRenewGrace:
    case DeletionBasis::Expired:
        return WatchStatus::AutoRenewGrace;
    case DeletionBasis::Active:
        break;
    }
    return WatchStatus::Active;
}

QDateTime timeOf(const std::string& text, const QTimeZone& zone) {
    const auto moment = yuming::Moment::parse(text);
    if (!moment) return {};
    return QDateTime(moment->date, moment->time, zone.isValid() ? zone : QTimeZone::utc()).toUTC();
}

} // namespace

WatchAnswer checkOf(const LookupOutcome& outcome) {
    WatchAnswer result;
    if (outcome.kept || outcome.kind == LookupOutcome::Kind::Unavailable) {
        result.error = outcome.reason.empty() ? "the registry gave no answer this time" : outcome.reason;
        return result;
    }
    result.ok = true;
    if (outcome.kind == LookupOutcome::Kind::NotRegistered) {
        result.status = WatchStatus::NotRegistered;
        return result;
    }
    result.status = statusOf(outcome.basis);
    result.expiry = outcome.expiry.toUTC();
    result.deletion = outcome.deletion.toUTC();
    result.basis = basisName(outcome.basis);
    return result;
}

WatchAnswer localCheck(Store& store, const std::string& name, const QTimeZone& zone, const QDateTime& now) {
    WatchAnswer result;
    const std::optional<DomainName> split = splitDomain(name);
    if (!split) {
        result.error = "not a name the service keeps";
        return result;
    }
    const std::string suffix(suffixName(split->suffix));
    auto held = store.registration(split->name, suffix);
    // The database may hold a name in other letters as the lists wrote it.
    if (held.ok() && !held.value && split->name.starts_with("xn--")) {
        const QByteArray gbk = toGbk(QUrl::fromAce(QByteArray::fromStdString(split->name)));
        if (!gbk.isEmpty()) held = store.registration(gbk.toStdString(), suffix);
    }
    if (!held.ok()) {
        result.error = "the database cannot be read: " + held.error;
        return result;
    }
    result.ok = true;
    result.basis = "local";
    const QDateTime deletion = held.value ? timeOf(held.value->deletion, zone) : QDateTime();
    if (!deletion.isValid() || deletion <= now) {
        result.status = WatchStatus::NotRegistered;
        result.basis.clear();
        return result;
    }
    result.deletion = deletion;
    result.expiry = timeOf(held.value->expiry, zone);
    const qint64 days = now.secsTo(deletion) / 86400;
    result.status = result.expiry.isValid() && now < result.expiry ? WatchStatus::Active
                    : days < kPendingDeleteDays                    ? WatchStatus::PendingDelete
                    : days < kPendingDeleteDays + kRedemptionDays  ? WatchStatus::Redemption
                                                                   : WatchStatus::AutoRenewGrace;
    return result;
}

namespace {

// The checker's connection, opened again when it could not be: the file may be there by then.
struct HeldStore {
    std::string path;
    std::unique_ptr<Store> store;
    Store& get() {
        if (!store || !store->isOpen()) store = std::make_unique<Store>(path);
        return *store;
    }
};

} // namespace

WatchChecker makeChecker(std::string dbPath, OnlineLookups* online, QTimeZone zone,
                         bool localWhenUnanswered) {
    auto held = std::make_shared<HeldStore>(HeldStore{std::move(dbPath), nullptr});
    return [held, online, zone, localWhenUnanswered](const std::string& name, std::chrono::seconds maxAge,
                                                     std::function<void(WatchAnswer)> done) {
        Store& store = held->get();
        const std::optional<DomainName> split = splitDomain(name);
        if (!online || !split || !online->covers(split->suffix))
            return done(localCheck(store, name, zone, QDateTime::currentDateTimeUtc()));
        online->refresh(
            store, *split, maxAge,
            [held, name, zone, localWhenUnanswered, done = std::move(done)](LookupOutcome outcome) {
                WatchAnswer answer = checkOf(outcome);
                if (answer.ok || outcome.kept || !localWhenUnanswered) return done(std::move(answer));
                // Called on the lookups' own thread: its own connection to the file.
                Store local(held->path);
                WatchAnswer fallback = localCheck(local, name, zone, QDateTime::currentDateTimeUtc());
                // Only a name the list holds: one it does not is unknown, never free.
                done(fallback.ok && fallback.basis == "local" ? std::move(fallback) : std::move(answer));
            });
    };
}

} // namespace yuming::service
