#include "ui/app_icon.h"

#include <QImageReader>
#include <QPixmap>

// The resource lives in a static library, where nothing else would pull it into the program.
static void InitIconResource()
{
    Q_INIT_RESOURCE(ostrim);
}

namespace ostrim {
namespace {

// Left to guess the format, the reader loads every image plugin on the system (SVG, JPEG, GIF,
// ICO and the libraries behind them) to ask each whether it knows the file, which costs the
// program several hundred KiB at start. Told the format, it goes straight to Qt's own XPM reader.
QPixmap ReadXpm(const QString &path)
{
    QImageReader reader(path, "xpm");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

} // namespace

QIcon AppIcon()
{
    InitIconResource();
    QIcon icon;
    icon.addPixmap(ReadXpm(QStringLiteral(":/icons/ostrim-32.xpm")));
    icon.addPixmap(ReadXpm(QStringLiteral(":/icons/ostrim-16.xpm")));
    return icon;
}

} // namespace ostrim
