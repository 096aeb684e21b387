#include "lookup/lookup_log.h"

#include "text/gbk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace yuming {

QString lookupLogPath(const QString& programFolder) {
    const QString name = kLookupLogName.toString();
    const QFileInfo beside(programFolder + name);
    if (beside.exists() ? beside.isWritable() : QFileInfo(programFolder).isWritable())
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
