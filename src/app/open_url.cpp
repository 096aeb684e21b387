#include "app/open_url.h"

#include <QDesktopServices>
#include <QUrl>

#include <utility>

namespace yuming {
namespace {

UrlOpener& opener() {
    static UrlOpener current;
    return current;
}

} // namespace

void OpenUrl(QWidget* owner, const QString& address) {
    if (opener()) {
        opener()(owner, address);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromUserInput(address));
}

UrlOpener setUrlOpener(UrlOpener replacement) {
    return std::exchange(opener(), std::move(replacement));
}

} // namespace yuming
