#include "watch/ical.h"

namespace yuming::ical {
namespace {

constexpr qsizetype kLineOctets = 75;

QByteArray utcTime(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
}

QByteArray minutes(int count) {
    if (count % 60 == 0) return "PT" + QByteArray::number(count / 60) + 'H';
    return "PT" + QByteArray::number(count) + 'M';
}

struct Lines {
    QByteArray out;
    void add(const QByteArray& name, const QByteArray& value) { out += fold(name + ':' + value); }
    void text(const QByteArray& name, QStringView value) { add(name, escapeText(value)); }
};

void event(Lines& lines, const Event& e, const QByteArray& stamp) {
    lines.add("BEGIN", "VEVENT");
    lines.text("UID", e.uid);
    lines.add("DTSTAMP", stamp);
    lines.add("DTSTART", utcTime(e.start));
    lines.add("DURATION", minutes(e.minutes));
    lines.text("SUMMARY", e.summary);
    lines.text("DESCRIPTION", e.description);
    lines.add("BEGIN", "VALARM");
    lines.add("ACTION", "DISPLAY");
    lines.add("TRIGGER", '-' + minutes(e.alarmMinutesBefore));
    lines.text("DESCRIPTION", e.alarmText);
    lines.add("END", "VALARM");
    lines.add("END", "VEVENT");
}

} // namespace

QByteArray escapeText(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\' || c == u';' || c == u',') {
            out += u'\\';
            out += c;
        } else if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') continue;
            out += QStringLiteral("\\n");
        } else if (c == u'\n') {
            out += QStringLiteral("\\n");
        } else if (c.unicode() >= 0x20 && c.unicode() != 0x7F) {
            out += c;
        } else if (c == u'\t') {
            out += c;
        }
        // Other control characters have no place in a TEXT value and are left out.
    }
    return out.toUtf8();
}

QByteArray fold(const QByteArray& line) {
    QByteArray out;
    qsizetype at = 0;
    // A continuation line starts with the space that marks it, which counts among its octets.
    qsizetype room = kLineOctets;
    while (line.size() - at > room) {
        qsizetype cut = at + room;
        // Back to the first byte of the character the cut would split.
        while (cut > at && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        out += line.mid(at, cut - at) + "\r\n ";
        at = cut;
        room = kLineOctets - 1;
    }
    return out + line.mid(at) + "\r\n";
}

QByteArray calendar(const QList<Event>& events, const QDateTime& stamp) {
    Lines lines;
    lines.add("BEGIN", "VCALENDAR");
    lines.add("VERSION", "2.0");
    lines.add("PRODID", "-//yuming//watchlist 1.0//ZH");
    lines.add("CALSCALE", "GREGORIAN");
    const QByteArray stamped = utcTime(stamp);
    for (const Event& e : events)
        event(lines, e, stamped);
    lines.add("END", "VCALENDAR");
    return lines.out;
}

} // namespace yuming::ical
