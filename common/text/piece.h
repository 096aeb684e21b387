#pragma once

#include "text/find.h"

#include <QStringView>

#include <optional>

namespace yuming {

// Cuts `text` at every occurrence of `marker` (left to right, without overlap) and returns piece
// `k`: piece 0 is the text before the first occurrence, piece 1 the text between the first and
// the second, and the last piece runs to the end. A text without the marker is one piece; an
// empty text has no pieces at all. A piece that does not exist is nullopt.
std::optional<QStringView> piece(QStringView text, QStringView marker, qsizetype k);

// The search the cuts below run on: findText, or anything that gives the same answers (a
// TagIndex of the text).
struct PlainSearch {
    qsizetype operator()(QStringView text, QStringView needle, qsizetype from) const {
        return findText(text, needle, from);
    }
};

// The same as piece(piece(text, first, k), second, 0) below, given where piece k starts (just
// after an occurrence of `first` at `start`).
template <class Search = PlainSearch>
std::optional<QStringView> cutPieceAt(QStringView text, qsizetype start, QStringView first, QStringView second,
                                      const Search& find = {}) {
    if (first.isEmpty() || second.isEmpty()) {
        const auto whole = piece(text.sliced(start), first, 0);
        return whole ? piece(*whole, second, 0) : std::nullopt;
    }
    const qsizetype s = find(text, second, start);
    // Only a `first` that starts before `second` has ended can cut the piece short.
    const qsizetype window = s < 0 ? text.size() : qMin(text.size(), s + second.size() - 1 + first.size());
    const qsizetype f = find(text.first(window), first, start);
    if (f == start || start == text.size()) return std::nullopt; // an empty piece
    const qsizetype end = f < 0 ? text.size() : f;
    if (s >= 0 && s + second.size() <= end) return text.sliced(start, s - start);
    return text.sliced(start, end - start);
}

// piece(piece(text, first, k), second, 0), the way values are cut out of a page: the text after
// the k-th `first` up to the next `first`, then up to the first `second` in that. nullopt when a
// piece is missing (an empty piece k has no piece 0). Found without walking to the next `first`
// when `second` comes before it, so cutting near the top of a long page stays cheap.
template <class Search = PlainSearch>
std::optional<QStringView> pieceThenCut(QStringView text, QStringView first, qsizetype k, QStringView second,
                                        const Search& find = {}) {
    if (text.isEmpty() || k < 0) return std::nullopt;
    if (first.isEmpty()) return k == 0 ? piece(text, second, 0) : std::nullopt;
    qsizetype start = 0;
    for (qsizetype i = 0; i < k; ++i) {
        const qsizetype at = find(text, first, start);
        if (at < 0) return std::nullopt;
        start = at + first.size();
    }
    return cutPieceAt(text, start, first, second, find);
}

} // namespace yuming
