#pragma once

#include "registry/rdap_record.h"
#include "protocol/search_query.h"

#include <QDateTime>
#include <QTimeZone>

#include <optional>
#include <string>

namespace yuming::service {

// What a deletion estimate rests on: a status that dates the deletion itself, or the offline
// rule run from the expiry.
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

// How the lookup page names the basis (UTF-8).
std::string basisText(DeletionBasis basis);
// How long ago the registry was asked, for the lookup page (UTF-8): minutes under an hour,
// hours under two days, days after that.
std::string ageText(qint64 seconds);

} // namespace yuming::service
