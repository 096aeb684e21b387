#pragma once

#include <QString>

namespace yuming {

// The folder of the running program with exactly one trailing "/" (a root folder stays "/").
QString GetAppPath();
// The same rule for any folder, so it can be checked without moving the program.
QString withTrailingSeparator(const QString& folder);
// True for a program run from inside the tree it was built in; an installed program never takes
// the build's files, whatever a build left behind.
bool runsFromBuildTree();

} // namespace yuming
