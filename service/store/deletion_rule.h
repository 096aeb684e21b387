#pragma once

#include "protocol/moment.h"
#include "protocol/search_query.h"

#include <QDate>
#include <QTime>
#include <string>

namespace yuming::service {

// When a registry lets an expired name go. Generic names (com, net, org) pass the auto-renew
// grace, 30 days of redemption and 5 days of pending delete; registrars end the grace early
// enough that the name drops on the 75th day after expiry, in the registry's 02:30 batch.
// cn names drop on the 16th day after expiry, at 04:30. These are the latest days the window's
// own note names, so an estimate never promises a name earlier than it can come free.
inline constexpr int kGenericDeletionDay = 75;
inline constexpr int kCnDeletionDay = 16;
inline const QTime kGenericDeletionTime{2, 30};
inline const QTime kCnDeletionTime{4, 30};

inline int deletionDay(Suffix suffix) {
    return suffix == Cn ? kCnDeletionDay : kGenericDeletionDay;
}
inline QTime deletionTime(Suffix suffix) {
    return suffix == Cn ? kCnDeletionTime : kGenericDeletionTime;
}

inline Moment deletionEstimate(const Moment& expiry, Suffix suffix) {
    return {expiry.date.addDays(deletionDay(suffix)), deletionTime(suffix)};
}

} // namespace yuming::service
