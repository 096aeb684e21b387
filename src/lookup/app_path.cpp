#include "lookup/app_path.h"

#include <QCoreApplication>

namespace yuming {

QString withTrailingSeparator(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString GetAppPath() { return withTrailingSeparator(QCoreApplication::applicationDirPath()); }

} // namespace yuming
