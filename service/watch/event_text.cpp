#include "watch/event_text.h"

#include <QTimeZone>
#include <QUrl>

namespace yuming::service {

namespace {

using std::chrono::seconds;

// The name as its user writes it: 例子.com rather than its xn-- form.
std::string shownName(const std::string& name) {
    const QString shown = QUrl::fromAce(QByteArray::fromStdString(name));
    return shown.isEmpty() ? name : shown.toStdString();
}

std::string minuteText(const QDateTime& when, const QDateTime& now) {
    return when.toTimeZone(now.timeZone()).toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
}

std::string dayText(const QDateTime& when, const QDateTime& now) {
    return when.toTimeZone(now.timeZone()).toString(QStringLiteral("yyyy-MM-dd")).toStdString();
}

// "（还有 5 天 3 小时）", or that the estimate has come.
std::string countdown(const QDateTime& deletion, const QDateTime& now) {
    const seconds left{now.secsTo(deletion)};
    if (left < seconds(30)) return "（已到预计删除时间）";
    return "（还有 " + timeLeftText(left) + "）";
}

// "，预计 2026-12-15 03:00 删除（还有 5 天 3 小时）", nothing without an estimate.
std::string deletionClause(const WatchEvent& event, const QDateTime& now) {
    if (!event.deletion.isValid()) return {};
    return "，预计 " + minuteText(event.deletion, now) + " 删除" + countdown(event.deletion, now);
}

std::string activeText(const WatchEvent& event, const std::string& name, const QDateTime& now) {
    const std::string expiry = event.expiry.isValid() ? "（到期 " + dayText(event.expiry, now) + "）" : "";
    switch (event.from) {
    case WatchStatus::AutoRenewGrace:
    case WatchStatus::Redemption:
    case WatchStatus::PendingDelete:
        return name + " 已续费，恢复正常" + expiry;
    case WatchStatus::NotRegistered:
        return name + " 已被注册" + expiry;
    case WatchStatus::Unknown:
    case WatchStatus::Active:
        break;
    }
    return name + " 已注册，状态正常" + expiry;
}

std::string statusText(const WatchEvent& event, const std::string& name, const QDateTime& now) {
    switch (event.to) {
    case WatchStatus::Active:
        return activeText(event, name, now);
    case WatchStatus::AutoRenewGrace:
        return name + " 已过期，进入自动续费宽限期" + deletionClause(event, now);
    case WatchStatus::Redemption:
        return name + " 进入赎回期" + deletionClause(event, now);
    case WatchStatus::PendingDelete:
        return name + " 进入待删除期" + deletionClause(event, now);
    case WatchStatus::NotRegistered:
        return name + (event.from == WatchStatus::Unknown ? " 未注册" : " 已被删除") + "，现在可以注册";
    case WatchStatus::Unknown:
        break;
    }
    return name + " 的状态暂时无法查询";
}

std::string movedText(const WatchEvent& event, const std::string& name, const QDateTime& now) {
    if (!event.deletion.isValid())
        return name + " 不再有预计删除时间（原为 " + minuteText(event.previousDeletion, now) + "）";
    const std::string to = minuteText(event.deletion, now) + countdown(event.deletion, now);
    if (!event.previousDeletion.isValid()) return name + " 的预计删除时间为 " + to;
    return name + " 的预计删除时间从 " + minuteText(event.previousDeletion, now) + " 改为 " + to;
}

std::string reminderText(const WatchEvent& event, const std::string& name, const QDateTime& now) {
    if (!event.deletion.isValid()) return name + " 的删除提醒：暂无预计删除时间";
    const seconds left{now.secsTo(event.deletion)};
    const std::string when = "（" + minuteText(event.deletion, now) + "）";
    if (left < seconds(30)) return name + " 已到预计删除时间" + when;
    return name + " 预计 " + timeLeftText(left) + "后删除" + when;
}

} // namespace

std::string timeLeftText(std::chrono::seconds left) {
    const long long minutes = (left.count() + 30) / 60;
    const long long days = minutes / (24 * 60);
    const long long hours = minutes % (24 * 60) / 60;
    const long long rest = minutes % 60;
    const auto part = [](long long n, const char* unit) { return std::to_string(n) + ' ' + unit; };
    if (days > 0) return hours > 0 ? part(days, "天 ") + part(hours, "小时") : part(days, "天");
    if (hours > 0) return rest > 0 ? part(hours, "小时 ") + part(rest, "分钟") : part(hours, "小时");
    return part(std::max(rest, 1LL), "分钟");
}

std::string eventText(const WatchEvent& event, const QDateTime& now) {
    const std::string name = shownName(event.name);
    switch (event.kind) {
    case WatchEvent::Kind::StatusChanged:
        return statusText(event, name, now);
    case WatchEvent::Kind::DeletionMoved:
        return movedText(event, name, now);
    case WatchEvent::Kind::Reminder:
        return reminderText(event, name, now);
    }
    return name;
}

std::string eventSummary(const WatchEvent& event) {
    return "域名关注：" + shownName(event.name);
}

} // namespace yuming::service
