#pragma once

#include <QString>
#include <QStringView>

namespace yuming {

// The file every fetched lookup page is appended to, beside the program.
inline constexpr QStringView kLookupLogName = u"xxx.txt";

// The lookup log "xxx.txt" beside the program (`programFolder` ends in a separator). Installed in
// a folder the user cannot write to, every lookup would fail on its log; the log then goes to the
// user's data folder instead.
QString lookupLogPath(const QString& programFolder);

// Appends `page` in GBK and a line break (CR LF, like the page's own lines) to `path`, creating
// the file when absent. Returns false when it could not be written; the file then holds exactly
// what it held before, never a torn page.
bool appendLookupLog(const QString& path, QStringView page);

} // namespace yuming
