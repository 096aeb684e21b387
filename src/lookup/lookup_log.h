#pragma once

#include <QString>
#include <QStringView>

namespace yuming {

// The file every fetched lookup page is appended to, beside the program.
inline constexpr QStringView kLookupLogName = u"xxx.txt";

// Appends `page` in GBK and a line break (CR LF, like the page's own lines) to `path`, creating
// the file when absent. Returns false when it could not be written; the file then holds exactly
// what it held before, never a torn page.
bool appendLookupLog(const QString& path, QStringView page);

} // namespace yuming
