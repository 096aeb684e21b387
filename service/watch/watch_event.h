#pragma once

#include <QDateTime>

#include <chrono>
#include <string>

namespace yuming::service {

// Where a watched name stands in its lifecycle, as its last check found it.
enum class WatchStatus {
    Unknown,        // not checked yet, or no check has answered
    Active,         // registered, before its expiry
    AutoRenewGrace, // expired, in the registry's auto-renew grace
    Redemption,     // in redemption
    PendingDelete,  // pending delete: the drop is days away
    NotRegistered,  // deleted, free to register
};

// What the watchlist tells its user about, each event once.
struct WatchEvent {
    enum class Kind {
        StatusChanged, // `from` -> `to`
        DeletionMoved, // the deletion estimate moved by more than an hour
        Reminder,      // `lead` before the estimated drop
    };
    Kind kind = Kind::StatusChanged;
    std::string name; // ASCII form (xn--... for names in other letters)
    WatchStatus from = WatchStatus::Unknown;
    WatchStatus to = WatchStatus::Unknown;
    QDateTime deletion;           // the estimate now; invalid when there is none
    QDateTime previousDeletion;   // DeletionMoved: the estimate before
    std::chrono::seconds lead{0}; // Reminder: how long before the drop
    QDateTime at;                 // when the check that found it ran
    QDateTime expiry;             // the expiry the check found; invalid when there is none
};

} // namespace yuming::service
