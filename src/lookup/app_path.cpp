#include "lookup/app_path.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace yuming {

QString withTrailingSeparator(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString GetAppPath() { return withTrailingSeparator(QCoreApplication::applicationDirPath()); }

bool runsFromBuildTree() {
    const QString root = QFileInfo(QStringLiteral(YUMING_BUILD_ROOT)).canonicalFilePath();
    const QString folder = QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath();
    return !root.isEmpty() && (folder == root || folder.startsWith(root + u'/'));
}

} // namespace yuming
