// A second reference for start-up: a window that shows one caption. Most of what ostrim adds to
// the empty window is the font machinery that any text on screen loads, which this one pays too.
#include <QApplication>
#include <QLabel>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QLabel window(QStringLiteral("Address"));
    window.setWindowTitle(QStringLiteral("Label"));
    window.show();
    return application.exec();
}
