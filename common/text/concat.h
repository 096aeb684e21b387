#pragma once

#include <QString>
#include <QStringView>

namespace yuming {

// Joins texts (QString, QStringView, u"..." literals) into one QString with a single allocation.
template <typename... Parts>
QString concat(const Parts&... parts) {
    QString out;
    out.reserve((QStringView(parts).size() + ...));
    (out.append(QStringView(parts)), ...);
    return out;
}

} // namespace yuming
