#include "text/piece.h"

#include "text/find.h"

namespace yuming {

std::optional<QStringView> piece(QStringView text, QStringView marker, qsizetype k) {
    if (text.isEmpty() || k < 0) return std::nullopt;
    if (marker.isEmpty()) return k == 0 ? std::optional(text) : std::nullopt;
    qsizetype from = 0;
    for (qsizetype i = 0; i < k; ++i) {
        const qsizetype at = findText(text, marker, from);
        if (at < 0) return std::nullopt;
        from = at + marker.size();
    }
    const qsizetype to = findText(text, marker, from);
    return text.mid(from, to < 0 ? text.size() - from : to - from);
}

} // namespace yuming
