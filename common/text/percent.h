#pragma once

#include <QString>
#include <QStringView>

namespace yuming {

// Makes a user-typed value safe inside an HTTP request target. ASCII bytes that cannot stand
// there (controls, blank, '"', '#', '%', '<', '>', '\', '^', '`', '{', '|', '}', DEL) and the
// query delimiters '&', '=', '+' become %XX. Characters above ASCII stay as they are: they go
// out as raw GBK bytes, which is what the service expects. A character that has no GBK form is
// sent as %3F ('?'), so the request never carries a byte the service would misread.
QString escapeTargetValue(QStringView value);

} // namespace yuming
