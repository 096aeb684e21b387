#include "lookup/lookup_log.h"

#include "text/gbk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace yuming {
namespace {

// An installed program's folder is the system's, even where root may write into it: a log
// there would belong to no package and outlive the program.
bool systemFolder(const QString& folder) {
    static const QStringList system = {QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin"),
                                       QStringLiteral("/bin"), QStringLiteral("/usr/sbin"),
                                       QStringLiteral("/sbin"), QStringLiteral("/usr/games")};
    return system.contains(QFileInfo(folder).canonicalFilePath());
}

} // namespace

QString lookupLogPath(const QString& programFolder) {
    const QString name = kLookupLogName.toString();
    const QFileInfo beside(programFolder + name);
    const bool usable = beside.exists() ? beside.isWritable() : QFileInfo(programFolder).isWritable();
    if (usable && !systemFolder(programFolder))
        return beside.filePath();
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return data + QLatin1Char('/') + name;
}

bool appendLookupLog(const QString& path, QStringView page) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
    const qint64 before = file.size();
    const QByteArray bytes = toGbk(page) + "\r\n";
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    if (!written) {
        // A full disk may have taken part of the page: cut it off again so the log ends with
        // the last whole page, as it did before.
        file.resize(before);
    }
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

} // namespace yuming
