// The Windows window with the fake serial line noting every call, one line each, in the file
// named on the command line: what a press hands to the line, seen from outside the process.
//
//   win32_window_fake_line.exe LOG_FILE

#include "fake_line.h"
#include "ui/win32/win32_frm_main.h"

#include <fstream>
#include <memory>
#include <string>

#include <shellapi.h>

namespace {

std::wstring LogPath()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring path = count > 1 ? arguments[1] : L"";
    LocalFree(arguments);
    return path;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand)
{
    ostrim::win32::FrmMain window(
        std::make_unique<ostrim::test::FakeLine>([path = LogPath()](const std::string &call) {
            std::ofstream(path.c_str(), std::ios::app) << call << '\n';
        }));
    window.Show(showCommand);
    return ostrim::win32::RunMessageLoop(window);
}
