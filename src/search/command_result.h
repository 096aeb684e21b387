#pragma once

#include <QString>
#include <QStringView>

namespace yuming {

// Title of every refusal box.
inline constexpr QStringView kRefusalTitle = u"提示";

// What a command handler did with a click or an Enter key.
struct CommandResult {
    enum class Kind {
        Started, // a request is on its way; buttonsLocked(false) follows when it ends
        Refused, // a guard said no: show `message` in an information box titled kRefusalTitle
        Busy,    // another request is in flight: nothing happened
    };
    Kind kind = Kind::Started;
    QString message;

    static CommandResult started() { return {Kind::Started, {}}; }
    static CommandResult refused(QStringView text) { return {Kind::Refused, text.toString()}; }
    static CommandResult busy() { return {Kind::Busy, {}}; }
    bool operator==(const CommandResult&) const = default;
};

} // namespace yuming
