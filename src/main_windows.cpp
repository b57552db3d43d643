#include "serial/win32_serial_line.h"
#include "ui/win32_frm_main.h"

#include <memory>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand)
{
    ostrim::FrmMain window(std::make_unique<ostrim::Win32SerialLine>());
    window.Show(showCommand);
    return ostrim::RunMessageLoop(window);
}
