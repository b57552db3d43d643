#pragma once

#include <QString>

class QWidget;

namespace ostrim {

// The program's only report to the user: the text in a box modal to its owner, captioned with the
// program's name, with a single OK button and no icon. Returns once the user has dismissed it.
void ShowMessageBox(QWidget &owner, const QString &text);

} // namespace ostrim
