// Renders the real window and a real message box to PNG files, for the README.
//   ostrim_screenshots OUTPUT_DIR

#include "ui/qt/app_icon.h"
#include "ui/qt/frm_main.h"

#include <cstdio>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace {

bool Save(QWidget &widget, const QString &path)
{
    if (widget.grab().save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString outputDir = QString::fromLocal8Bit(argv[1]);
    QApplication::setApplicationName(QStringLiteral("Ostrim"));
    QApplication::setWindowIcon(ostrim::AppIcon());

    // No ports at all: whatever is pressed here, nothing reaches a real port.
    ostrim::FrmMain window(ostrim::ShowMessageBox, [] { return std::vector<std::string> {}; });
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QTest::keyClicks(window.findChild<QLineEdit *>(QStringLiteral("TxtPort")), QStringLiteral("1"));
    QTest::keyClicks(
        window.findChild<QLineEdit *>(QStringLiteral("TxtAddress")), QStringLiteral("7"));
    for (QCheckBox *box : window.findChildren<QCheckBox *>(QStringLiteral("ChkOutput")))
        box->setChecked(box->property("index").toInt() % 2 == 0);
    bool saved = Save(window, outputDir + QStringLiteral("/window.png"));

    // A message as a user meets it: the address left out.
    window.findChild<QLineEdit *>(QStringLiteral("TxtAddress"))->clear();
    bool messageShown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            poll.stop();
            messageShown = true;
            if (QTest::qWaitForWindowExposed(box))
                saved = Save(*box, outputDir + QStringLiteral("/message.png")) && saved;
            box->accept();
        }
    });
    poll.start(10);
    QTimer::singleShot(5000, &window, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    window.findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    if (!messageShown)
        std::fprintf(stderr, "no message box came up\n");
    return saved && messageShown ? 0 : 1;
}
