#pragma once

#include <QString>
#include <QStringView>

namespace yuming::watch {

// What the service's status and basis words say in the tool's language. A word this tool does
// not know is shown as it came.
QString statusText(QStringView status);
QString basisText(QStringView basis);

} // namespace yuming::watch
