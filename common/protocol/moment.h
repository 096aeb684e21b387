#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cstddef>
#include <cstdint>
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

    // Millions of times kept compactly: the text's digits as the one number yyyyMMddHHmmss, which
    // sorts as the texts do. Any text of the shape packs, a real moment or not (a month 13), so
    // that unpacking gives back the very text; nullopt for any other text.
    static constexpr std::size_t kTextSize = 19;
    static std::optional<std::uint64_t> pack(std::string_view text);
    // The text of a packed value into `out`: kTextSize characters, not terminated.
    static void unpack(std::uint64_t packed, char* out);
    bool operator==(const Moment&) const = default;
};

} // namespace yuming
