#include "cli/win32_command_system.h"
#include "serial/win32_serial_line.h"
#include "ui/win32_frm_main.h"

#include <memory>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand)
{
    const std::vector<std::string> arguments = ostrim::CommandArguments();
    if (!ostrim::WantsWindow(static_cast<int>(arguments.size())))
        return ostrim::RunCommandOfWindowProgram(arguments);

    ostrim::FrmMain window(std::make_unique<ostrim::Win32SerialLine>());
    window.Show(showCommand);
    return ostrim::RunMessageLoop(window);
}
