#include "ui/win32_message_box.h"

#include "serial/win32_text.h"
#include "ui/window_design.h"

namespace ostrim {

void ShowMessageBox(HWND owner, const std::string &text)
{
    // MB_OK without an MB_ICON flag: one button, no icon. The owner is disabled while it shows.
    MessageBoxW(owner, Widen(text).c_str(), Widen(FrmMainCaption).c_str(), MB_OK);
}

} // namespace ostrim
