#pragma once

#include "output/set_outputs.h"
#include "serial/serial_line.h"
#include "ui/window_design.h"

#include <array>
#include <memory>
#include <string>

#include <windows.h>

namespace ostrim::win32 {

// The program's one window on Windows, built from the same design as the Linux one with the
// system's own controls. It bears the same name as the Linux window, in a namespace of its own. It
// owns the serial line it sends through for the whole run.
class FrmMain final : public ActionEntries
{
public:
    explicit FrmMain(
        std::unique_ptr<SerialLine> line, HINSTANCE instance = GetModuleHandleW(nullptr));
    ~FrmMain() override;
    FrmMain(const FrmMain &) = delete;
    FrmMain &operator=(const FrmMain &) = delete;

    HWND Handle() const { return m_window; }
    void Show(int showCommand);
    // The keyboard as in a dialog: Tab and Shift+Tab, the access key, Enter on the button. True
    // when the message was handled and must not be dispatched.
    bool HandleDialogKey(MSG &message);

    std::string PortText() const override;
    std::string AddressText() const override;
    std::int16_t OutputState(int index) const override;
    void ShowMessage(const std::string &text);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls(HINSTANCE instance);
    void UseDpi(UINT dpi);
    void ArrangeControls();
    void FitWindowToClient(const RECT *suggested);
    HWND Control(std::size_t position) const { return m_controls.at(position); }
    std::string TextOf(std::size_t position) const;
    void RunSetOutputs();

    struct FontDeleter
    {
        void operator()(HFONT font) const { DeleteObject(font); }
    };

    std::unique_ptr<SerialLine> m_msComm1;
    HWND m_window = nullptr;
    // In the design table's order, which is the keyboard's.
    std::array<HWND, FrmMainControls.size()> m_controls {};
    UINT m_dpi = DesignDpi;
    std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter> m_font;
    HWND m_focusWhenInactive = nullptr; // given back when the window is active again
};

// The window's message loop; returns the program's exit code once the window is closed.
int RunMessageLoop(FrmMain &window);

} // namespace ostrim::win32
