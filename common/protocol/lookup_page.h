#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace yuming {

// The text after the first `marker` up to the next occurrence of the same marker (or the end),
// cut again before the first "</span>". nullopt when the marker is missing or nothing follows it.
std::optional<QStringView> cutAfter(QStringView recvText, QStringView marker);

// A lookup page: not registered, or the expiry and deletion texts.
struct LookupPage {
    enum class Outcome { NotRegistered, Dates, Failed };
    Outcome outcome = Outcome::Failed;
    QString expiry, deletion;
};
LookupPage parseLookupPage(QStringView recvText);

} // namespace yuming
