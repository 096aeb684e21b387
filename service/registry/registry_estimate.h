#pragma once

#include "protocol/search_query.h"
#include "registry/rdap_record.h"

#include <QDateTime>
#include <QTimeZone>

#include <optional>
#include <string>

namespace yuming::service {

// What a deletion estimate rests on: a status that dates the deletion itself, or the offline
// rule run from the expiry.
// The grace periods of the generic registries, in days, as their statuses report them: the
// estimates and the watchlist's reading of the service's own list go by the same ones.
inline constexpr qint64 kAutoRenewGraceDays = 45;
inline constexpr qint64 kRedemptionDays = 30;
inline constexpr qint64 kPendingDeleteDays = 5;

enum class DeletionBasis { PendingDelete, Redemption, AutoRenewGrace, Expired, Active };

struct RegistryEstimate {
    DeletionBasis basis;
    // The registry's expiration event, in the zone asked for; invalid when the answer had none.
    QDateTime expiry;
    QDateTime deletion;
};

// When the registry will let the name go, from what its RDAP server said at `now` (seconds
// since the epoch). Nothing when the answer has neither an expiration nor a status that dates
// itself. An invalid `zone` is taken as UTC.
std::optional<RegistryEstimate> estimateDeletion(const RdapRecord& record, Suffix suffix, qint64 now,
                                                 const QTimeZone& zone);

} // namespace yuming::service
