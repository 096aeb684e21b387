#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <optional>
#include <string>
#include <string_view>

namespace yuming {

// A wall-clock time without a time zone, as the service stores times and as its pages show them:
// "yyyy-MM-dd HH:mm:ss", a form that sorts as text in time order.
struct Moment {
    QDate date;
    QTime time;

    // The wall-clock reading of `when` in its own zone.
    static Moment of(const QDateTime& when) { return {when.date(), when.time()}; }
    // Exactly the form text() writes; nullopt for anything else.
    static std::optional<Moment> parse(std::string_view text);

    // Written by hand: QDateTime would consult the time zone for every value.
    std::string text() const;

    bool isValid() const { return date.isValid() && time.isValid(); }
    bool operator==(const Moment&) const = default;
};

} // namespace yuming
