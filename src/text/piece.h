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
