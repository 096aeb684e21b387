#pragma once

#include <QDate>

namespace yuming::service {

// Where a name came from (the domains table's origin column). Generated names move with the
// calendar; imported names and those a registry told of keep their dates. Which of them are on
// the drop list is listedAnyDay's and listEnd's to say.
enum class Origin : int { Generated = 0, Imported = 1, Learned = 2, Deleting = 3 };
inline constexpr Origin kOrigins[] = {Origin::Generated, Origin::Imported, Origin::Learned, Origin::Deleting};

// Whether names of `origin` are on the drop list however far off their deletion is: imported
// names, and those a registry has in redemption or pending delete.
constexpr bool listedAnyDay(Origin origin) {
    return origin == Origin::Imported || origin == Origin::Deleting;
}

// The first day after the drop list: the names not listedAnyDay join it 30 days before they go.
inline QDate listEnd(QDate today) {
    return today.addDays(30);
}

} // namespace yuming::service
