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

namespace yuming {

std::optional<QStringView> cutPieceAt(QStringView text, qsizetype start, QStringView first, QStringView second) {
    if (first.isEmpty() || second.isEmpty()) {
        const auto whole = piece(text.sliced(start), first, 0);
        return whole ? piece(*whole, second, 0) : std::nullopt;
    }
    const qsizetype s = findText(text, second, start);
    // Only a `first` that starts before `second` has ended can cut the piece short.
    const qsizetype window = s < 0 ? text.size() : qMin(text.size(), s + second.size() - 1 + first.size());
    const qsizetype f = findText(text.first(window), first, start);
    if (f == start || start == text.size()) return std::nullopt; // an empty piece
    const qsizetype end = f < 0 ? text.size() : f;
    if (s >= 0 && s + second.size() <= end) return text.sliced(start, s - start);
    return text.sliced(start, end - start);
}

std::optional<QStringView> pieceThenCut(QStringView text, QStringView first, qsizetype k, QStringView second) {
    if (text.isEmpty() || k < 0) return std::nullopt;
    if (first.isEmpty()) return k == 0 ? piece(text, second, 0) : std::nullopt;
    qsizetype start = 0;
    for (qsizetype i = 0; i < k; ++i) {
        const qsizetype at = findText(text, first, start);
        if (at < 0) return std::nullopt;
        start = at + first.size();
    }
    return cutPieceAt(text, start, first, second);
}

} // namespace yuming
