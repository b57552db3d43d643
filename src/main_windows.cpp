#include "ui/win32_frm_main.h"

#include <memory>

#ifdef OSTRIM_HAS_WIN32_SERIAL_LINE
#include "serial/win32_serial_line.h"
#else
#include "runtime/action_error.h"
#endif

namespace {

#ifndef OSTRIM_HAS_WIN32_SERIAL_LINE
// Until this build has a serial line for Windows, a press that passes the checks is refused with
// a message rather than reported as sent.
class LineNotBuilt final : public ostrim::SerialLine
{
public:
    void SetPortNumber(std::int16_t) override { }
    void SetSettings(const std::string &) override { }
    void Open() override { throw ostrim::ActionError(ostrim::FailureKind::SerialLine, Message); }
    void Write(std::span<const std::uint8_t>) override { Open(); }
    void Close() override { }
    bool IsOpen() const override { return false; }

private:
    static constexpr char Message[] = "This build of Ostrim cannot open serial ports.";
};
#endif

std::unique_ptr<ostrim::SerialLine> ProgramLine()
{
#ifdef OSTRIM_HAS_WIN32_SERIAL_LINE
    return std::make_unique<ostrim::Win32SerialLine>();
#else
    return std::make_unique<LineNotBuilt>();
#endif
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand)
{
    ostrim::FrmMain window(ProgramLine());
    window.Show(showCommand);
    return ostrim::RunMessageLoop(window);
}
