#include "ostrim_version.h"
#include "ui/app_icon.h"
#include "ui/frm_main.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrim"));
    QApplication::setApplicationVersion(QString::fromLatin1(ostrim::VersionText));
    QApplication::setDesktopFileName(QStringLiteral("ostrim"));
    QApplication::setWindowIcon(ostrim::AppIcon());

    ostrim::FrmMain window;
    window.show();
    return QApplication::exec();
}
