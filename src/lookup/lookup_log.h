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

// What became of one append.
struct LogAppend {
    QString error;    // why the page is not in the log ("PATH: reason"); empty when it is
    QString repaired; // what was cut off the log's end first, left by an append that never finished
    explicit operator bool() const { return error.isEmpty(); }
};

// Appends `page` in GBK and a line break (CR LF, like the page's own lines) to `path`, creating
// the file when absent. Only a regular file is a log: a FIFO, a device, a folder or a symbolic
// link is refused at once. The log holds every page whole or not at all: a failed write (a full
// disk) is cut off again, SIGINT, SIGTERM and SIGHUP take effect only once the page is in, and
// what a killed process or a power loss left of an unfinished page is cut off by the next
// append. Until it is safely in the log, the page is kept beside it in PATH.pending, so that
// only bytes proven to be that page's beginning are ever cut.
LogAppend appendLookupLog(const QString& path, QStringView page);

} // namespace yuming
