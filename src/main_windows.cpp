#include "cli/win32_command_system.h"
#include "serial/win32/win32_line_backend.h"
#include "ui/win32/win32_frm_main.h"

#include <memory>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand)
{
    const std::vector<std::string> arguments = ostrim::CommandArguments();
    if (!ostrim::WantsWindow(static_cast<int>(arguments.size())))
        return ostrim::RunCommandOfWindowProgram(arguments);

    ostrim::win32::FrmMain window(std::make_unique<ostrim::SerialPortLine>(ostrim::Win32Line()));
    window.Show(showCommand);
    return ostrim::win32::RunMessageLoop(window);
}
