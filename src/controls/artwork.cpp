#include "controls/artwork.h"

#include "controls/property_bag.h"

#include <QPixmap>

namespace Artwork {

QCursor HandCursor() {
    InitControlResources();
    const QPixmap hand(QString::fromLatin1(Hand));
    if (hand.isNull()) return QCursor(Qt::PointingHandCursor);
    return QCursor(hand, HandHotSpot.x(), HandHotSpot.y());
}

QIcon ProgramIcon() {
    InitControlResources();
    QIcon icon;
    for (const char* path : {Icon16, Icon32, Icon48})
        icon.addFile(QString::fromLatin1(path));
    return icon;
}

} // namespace Artwork
