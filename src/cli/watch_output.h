#pragma once

#include "search/row_format.h"
#include "watch/watch_answers.h"

#include <QByteArray>

namespace yuming::cli {

// The watch commands' output lines. Times in UTC as the service gives them; an unknown value
// is an empty field (JSON: null).
namespace watch_output {

// The CSV's byte-order mark and header row; nothing for the other formats.
QByteArray listHead(row_format::Format format);
QByteArray listRow(row_format::Format format, const watch::WatchedName& name);
// name, changed|unchanged|error, from, to.
QByteArray checkLine(const watch::CheckedName& checked);
// time, from, to.
QByteArray historyLine(const watch::StatusChange& change);

} // namespace watch_output
} // namespace yuming::cli
