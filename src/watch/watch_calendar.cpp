#include "watch/watch_calendar.h"

#include "watch/watch_texts.h"

#include <QUrl>

namespace yuming::watch {
namespace {

QString shown(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"))
                          : QStringLiteral("无");
}

} // namespace

QList<ical::Event> deletionEvents(const QList<WatchedName>& names) {
    QList<ical::Event> events;
    for (const WatchedName& n : names) {
        if (!n.deletion.isValid()) continue;
        // The name as its user writes it; the UID keeps the ASCII form, which never changes.
        const QString shownName = QUrl::fromAce(n.name.toLatin1());
        ical::Event e;
        e.uid = n.name + QStringLiteral("@yuming.watch");
        e.start = n.deletion;
        e.summary = QStringLiteral("域名删除：") + shownName;
        e.description = QStringLiteral("状态：") + statusText(n.status) + QStringLiteral("\n到期时间：") +
                        shown(n.expiry) + QStringLiteral("\n预计删除：") + shown(n.deletion) +
                        QStringLiteral("\n依据：") + basisText(n.basis);
        e.alarmText = shownName + QStringLiteral(" 预计一小时后删除");
        events.append(std::move(e));
    }
    return events;
}

QByteArray deletionCalendar(const QList<WatchedName>& names, const QDateTime& now) {
    return ical::calendar(deletionEvents(names), now);
}

} // namespace yuming::watch
