#include "store/shown_dates.h"

#include "store/meta.h"

namespace yuming::service {

namespace {

QDate markedDay(const std::optional<std::string>& text) {
    return text ? QDate::fromString(QString::fromStdString(*text), Qt::ISODate) : QDate();
}

} // namespace

ReadResult<int> shownShift(sqlite3* db, std::optional<QDate> shownOn) {
    const auto dated = metaValue(db, "dated");
    if (!dated.ok()) return {0, dated.error, dated.code};
    if (shownOn) {
        const QDate from = markedDay(dated.value);
        return {from.isValid() ? static_cast<int>(from.daysTo(*shownOn)) : 0, {}};
    }
    const auto shown = metaValue(db, "shown");
    if (!shown.ok()) return {0, shown.error, shown.code};
    const QDate from = markedDay(dated.value);
    const QDate to = markedDay(shown.value);
    if (!from.isValid() || !to.isValid()) return {0, {}};
    return {static_cast<int>(from.daysTo(to)), {}};
}

std::string movedByDays(std::string_view text, int days) {
    if (days == 0 || text.size() < 10) return std::string(text);
    const QDate day = QDate::fromString(QLatin1StringView(text.data(), 10), u"yyyy-MM-dd").addDays(days);
    if (!day.isValid() || day.year() < 1 || day.year() > 9999) return std::string(text);
    return dayText(day) + std::string(text.substr(10));
}

std::string_view DayMover::operator()(std::string_view text) {
    if (m_days == 0 || text.size() < 10) return text;
    std::string day(text.substr(0, 10));
    auto it = m_moved.find(day);
    if (it == m_moved.end()) {
        std::string moved = movedByDays(day, m_days);
        it = m_moved.emplace(std::move(day), std::move(moved)).first;
    }
    m_out.assign(it->second);
    m_out.append(text.substr(10));
    return m_out;
}

} // namespace yuming::service
