#include "cli/command_line.h"
#include "cli/posix_command_system.h"
#include "ostrim_version.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/frm_main.h"
#include "ui/qt/no_display_guard.h"

#include <optional>

#include <QApplication>

int main(int argc, char *argv[])
{
    // Decided before any application object exists: the command line must run without a display.
    if (!ostrim::WantsWindow(argc))
        return ostrim::RunCommandLine(argc, argv);

    std::optional<ostrim::NoDisplayGuard> noDisplay(std::in_place);
    QApplication app(argc, argv);
    noDisplay.reset();
    QApplication::setApplicationName(QStringLiteral("Ostrim"));
    QApplication::setApplicationVersion(QString::fromLatin1(ostrim::VersionText));
    QApplication::setDesktopFileName(QStringLiteral("ostrim"));
    QApplication::setWindowIcon(ostrim::AppIcon());

    ostrim::FrmMain window;
    window.show();
    return QApplication::exec();
}
