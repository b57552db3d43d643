#include "serial/win32/win32_line_backend.h"
#include "ui/win32/win32_frm_main.h"

#include <memory>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand)
{
    ostrim::win32::FrmMain window(std::make_unique<ostrim::SerialPortLine>(ostrim::Win32Line()));
    window.Show(showCommand);
    return ostrim::win32::RunMessageLoop(window);
}
