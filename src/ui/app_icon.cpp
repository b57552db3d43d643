#include "ui/app_icon.h"

// The resource lives in a static library, where nothing else would pull it into the program.
static void InitIconResource()
{
    Q_INIT_RESOURCE(ostrim);
}

namespace ostrim {

QIcon AppIcon()
{
    InitIconResource();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/ostrim-32.xpm"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/ostrim-16.xpm"), QSize(16, 16));
    return icon;
}

} // namespace ostrim
