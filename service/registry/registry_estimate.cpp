#include "registry/registry_estimate.h"

#include "store/deletion_rule.h"

namespace yuming::service {

namespace {

constexpr qint64 kDay = 86400;

// A wall-clock time in `zone`. A time the clocks skip when they go forward happens at the instant
// it would have had without the change, so it shows that much later on the new clock.
QDateTime wallClock(const Moment& moment, const QTimeZone& zone) {
    const QDateTime exact(moment.date, moment.time, zone);
    if (exact.isValid()) return exact;
    const qint64 asUtc = QDateTime(moment.date, moment.time, QTimeZone::utc()).toSecsSinceEpoch();
    const int offsetBefore =
        zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(asUtc - kDay, QTimeZone::utc()));
    return QDateTime::fromSecsSinceEpoch(asUtc - offsetBefore, zone);
}

// The offline rule, run from a day as the registry's clock in `zone` shows it.
QDateTime offlineRule(QDate from, Suffix suffix, const QTimeZone& zone) {
    return wallClock(deletionEstimate({from, QTime(0, 0)}, suffix), zone);
}

} // namespace

std::optional<RegistryEstimate> estimateDeletion(const RdapRecord& record, Suffix suffix, qint64 now,
                                                 const QTimeZone& requestedZone) {
    const QTimeZone zone = requestedZone.isValid() ? requestedZone : QTimeZone::utc();
    const auto at = [&zone](qint64 seconds) { return QDateTime::fromSecsSinceEpoch(seconds, zone); };
    const QDateTime expiry = record.expiration ? at(*record.expiration) : QDateTime();

    // Registries list "pending delete" beside "redemption period" while a name is in redemption,
    // so redemption is looked at first. Deletion is counted in whole days of the UTC clock.
    if (record.has("redemption period")) {
        const std::optional<qint64> start = record.lastChanged ? record.lastChanged : record.expiration;
        if (!start) return std::nullopt;
        return RegistryEstimate{DeletionBasis::Redemption, expiry,
                                at(*start + (kRedemptionDays + kPendingDeleteDays) * kDay)};
    }
    if (record.has("pending delete")) {
        std::optional<qint64> began = record.lastChanged;
        if (!began && record.expiration)
            began = *record.expiration + (kAutoRenewGraceDays + kRedemptionDays) * kDay;
        if (!began) return std::nullopt;
        return RegistryEstimate{DeletionBasis::PendingDelete, expiry, at(*began + kPendingDeleteDays * kDay)};
    }
    if (!record.expiration) return std::nullopt;
    const bool expired = *record.expiration <= now;
    if (record.has("auto renew period")) {
        // The registry renews at expiry, so an expiration still ahead is the year after the one
        // whose grace is running.
        const QDate graceFrom = expired ? expiry.date() : expiry.date().addYears(-1);
        return RegistryEstimate{DeletionBasis::AutoRenewGrace, expiry, offlineRule(graceFrom, suffix, zone)};
    }
    return RegistryEstimate{expired ? DeletionBasis::Expired : DeletionBasis::Active, expiry,
                            offlineRule(expiry.date(), suffix, zone)};
}

} // namespace yuming::service
