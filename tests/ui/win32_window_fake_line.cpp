// The Windows window with a fake serial line that records every call, one line each, in the file
// named on the command line: what a press hands to the line, seen from outside the process.
//
//   win32_window_fake_line.exe LOG_FILE

#include "hex_text.h"
#include "ui/win32/win32_frm_main.h"

#include <fstream>
#include <memory>
#include <string>

#include <shellapi.h>

namespace {

class RecordingFakeLine final : public ostrim::SerialLine
{
public:
    explicit RecordingFakeLine(std::wstring path)
        : m_log(path.c_str(), std::ios::app)
    { }

    void SetPortNumber(std::int16_t number) override
    {
        Record("SetPortNumber " + std::to_string(number));
    }
    void SetSettings(const std::string &settings) override { Record("SetSettings " + settings); }
    void Open() override
    {
        m_open = true;
        Record("Open");
    }
    void Write(std::span<const std::uint8_t> bytes) override { Record("Write " + HexText(bytes)); }
    void Close() override
    {
        m_open = false;
        Record("Close");
    }
    bool IsOpen() const override { return m_open; }
    std::string Device() const override { return "COM1"; }

private:
    void Record(const std::string &call) { m_log << call << std::endl; }

    std::ofstream m_log;
    bool m_open = false;
};

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
    ostrim::win32::FrmMain window(std::make_unique<RecordingFakeLine>(LogPath()));
    window.Show(showCommand);
    return ostrim::win32::RunMessageLoop(window);
}
