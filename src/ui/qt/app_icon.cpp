#include "ui/qt/app_icon.h"

#include <QPixmap>

namespace ostrim {
namespace {

// The images are compiled in as XPM arrays, which QImage reads itself: loading them by file name
// would go through QImageReader, which loads every image-format plugin at start-up to find the
// one that reads XPM.
#include "ostrim-16.xpm"
#include "ostrim-32.xpm"

} // namespace

QImage AppIconImage(int size)
{
    switch (size) {
    case 16:
        return QImage(ostrim_16);
    case 32:
        return QImage(ostrim_32);
    default:
        return {};
    }
}

QIcon AppIcon()
{
    QIcon icon;
    for (const int size : {32, 16})
        icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
    return icon;
}

} // namespace ostrim
