#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace yuming::ical {

// One event of a calendar: at `start` (UTC) for `minutes`, with a display alarm
// `alarmMinutesBefore` minutes before it.
struct Event {
    QString uid;
    QDateTime start;
    int minutes = 30;
    QString summary;
    QString description;
    QString alarmText;
    int alarmMinutesBefore = 60;
};

// An iCalendar file (RFC 5545) holding `events`, stamped `stamp`: CRLF line ends, lines folded
// at 75 octets between whole UTF-8 characters, text values escaped.
QByteArray calendar(const QList<Event>& events, const QDateTime& stamp);

// A TEXT value escaped: backslash, semicolon, comma and line breaks.
QByteArray escapeText(QStringView text);
// One content line (without its line end) folded into physical lines, each ending in CRLF.
QByteArray fold(const QByteArray& line);

} // namespace yuming::ical
