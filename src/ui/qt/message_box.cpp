#include "ui/qt/message_box.h"

#include <QMessageBox>

namespace ostrim {

void ShowMessageBox(QWidget &owner, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ostrim"), text, QMessageBox::Ok, &owner);
    box.setObjectName(QStringLiteral("MessageBox"));
    // Messages quote what the user typed; that must show as typed, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

} // namespace ostrim
