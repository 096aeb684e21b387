#pragma once

#include <QString>

namespace yuming {

// The folder of the running program with exactly one trailing "/" (a root folder stays "/").
QString GetAppPath();
// The same rule for any folder, so it can be checked without moving the program.
QString withTrailingSeparator(const QString& folder);

} // namespace yuming
