#pragma once

#include <QStringView>

#include <optional>

namespace yuming {

// Cuts `text` at every occurrence of `marker` (left to right, without overlap) and returns piece
// `k`: piece 0 is the text before the first occurrence, piece 1 the text between the first and
// the second, and the last piece runs to the end. A text without the marker is one piece; an
// empty text has no pieces at all. A piece that does not exist is nullopt.
std::optional<QStringView> piece(QStringView text, QStringView marker, qsizetype k);

} // namespace yuming

namespace yuming {

// piece(piece(text, first, k), second, 0), the way values are cut out of a page: the text after
// the k-th `first` up to the next `first`, then up to the first `second` in that. nullopt when a
// piece is missing (an empty piece k has no piece 0). Found without walking to the next `first`
// when `second` comes before it, so cutting near the top of a long page stays cheap.
std::optional<QStringView> pieceThenCut(QStringView text, QStringView first, qsizetype k, QStringView second);

// The same, given where piece k starts (just after an occurrence of `first` at `start`).
std::optional<QStringView> cutPieceAt(QStringView text, qsizetype start, QStringView first, QStringView second);

} // namespace yuming
