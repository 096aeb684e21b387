#pragma once

#include "registry/lookup_outcome.h"
#include "watch/watchlist.h"

#include <QTimeZone>

#include <string>

namespace yuming::service {

class OnlineLookups;
class Store;

// What a registry's answer says of a watched name. An answer the registry did not give this time
// (a kept one, or none) is a failed check.
WatchAnswer checkOf(const LookupOutcome& outcome);

// Where a name stands by the service's own data: on the drop list with its deletion time, or
// not (then, or once that time has passed, not registered). `zone` is the one the database's
// times are written in.
WatchAnswer localCheck(Store& store, const std::string& name, const QTimeZone& zone, const QDateTime& now);

// Checks through the registries for the suffixes they serve (`online` may be null: lookups are off),
// from the database for the rest. With `localWhenUnanswered`, a name the registry gave no answer
// for at all (none now, none kept) is taken from the database when it holds the name, as lookups
// are; otherwise such a check fails. Used on the watchlist's thread only.
WatchChecker makeChecker(std::string dbPath, OnlineLookups* online, QTimeZone zone, bool localWhenUnanswered);

} // namespace yuming::service
