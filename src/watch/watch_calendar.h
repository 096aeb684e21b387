#pragma once

#include "watch/ical.h"
#include "watch/watch_answers.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

namespace yuming::watch {

// One event for each watched name with a deletion estimate, at the estimate, under a UID that
// stays the name's own so a calendar that imports the file again updates the event.
QList<ical::Event> deletionEvents(const QList<WatchedName>& names);

// The calendar of those events, stamped `now`.
QByteArray deletionCalendar(const QList<WatchedName>& names, const QDateTime& now);

} // namespace yuming::watch
