#pragma once

#include <QIcon>

namespace ostrim {

// The program's icon, 32 by 32 and 16 by 16, for its windows.
QIcon AppIcon();

} // namespace ostrim
