#pragma once

#include "watch/watch_event.h"

#include <QDateTime>

#include <chrono>
#include <string>

namespace yuming::service {

// What the user is told of `event`, in Chinese (UTF-8): the name, the change and the time left
// until the estimated drop as seen at `now`. Times are shown to the minute in `now`'s zone, the
// one the lookup page shows them in.
std::string eventText(const WatchEvent& event, const QDateTime& now);
// The notification's heading for the name: "域名关注：abc.com".
std::string eventSummary(const WatchEvent& event);
// The time left written for a person: days and hours from a day up, hours and minutes under a
// day, minutes under an hour ("5 天 3 小时", "2 小时 5 分钟", "40 分钟"), to the nearest minute.
std::string timeLeftText(std::chrono::seconds left);

} // namespace yuming::service
