#pragma once

#include <QStringView>

namespace yuming {

// Position of the first `needle` in `haystack` at or after `from`, or -1. Exact, case-sensitive.
// Pages are searched marker by marker many thousand times, so this tests eight positions at a
// time for the needle's first and last character before comparing the rest.
qsizetype findText(QStringView haystack, QStringView needle, qsizetype from = 0);

} // namespace yuming
