#pragma once

#include <QIcon>
#include <QImage>

namespace ostrim {

// The program's icon, 32 by 32 and 16 by 16, for its windows.
QIcon AppIcon();

// One of the icon's two images, 16 or 32 pixels square; a null image for any other size.
QImage AppIconImage(int size);

} // namespace ostrim
