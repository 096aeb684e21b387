#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace yuming {

// Hands `address` to the desktop, which opens it in the user's browser. Whether that works is
// not reported: the desktop shows its own errors.
void OpenUrl(QWidget* owner, const QString& address);

// Replaces the hand-over to the desktop (tests count calls without starting a browser);
// returns the one it replaces. An empty function restores the desktop.
using UrlOpener = std::function<void(QWidget* owner, const QString& address)>;
UrlOpener setUrlOpener(UrlOpener opener);

} // namespace yuming
