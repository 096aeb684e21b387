#pragma once

#include "protocol/search_page.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace yuming {

// Result rows written out for other programs: CSV as spreadsheets read it (UTF-8 with a
// byte-order mark, CR LF, quoted where a value needs it), tab-separated lines, or JSON lines.
// Values are written exactly as they were cut from the page.
namespace row_format {

enum class Format { Tsv, Csv, Json };

// What a file or stream starts with: the byte-order mark and header row for CSV, nothing else.
QByteArray head(Format format);
QByteArray row(Format format, const ResultRow& row);
QByteArray rows(Format format, const QList<ResultRow>& rows);

// One CSV value, quoted when it holds a comma, a quote or a line break.
QString csvField(QStringView value);
// A JSON string literal.
QString jsonString(QStringView value);

} // namespace row_format
} // namespace yuming
