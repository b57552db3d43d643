#include "ui/win32_frm_main.h"

#include "serial/failure_advice.h"
#include "serial/win32_text.h"
#include "ui/win32_message_box.h"

#include <stdexcept>

#include <commctrl.h>

namespace ostrim {
namespace {

constexpr wchar_t WindowClass[] = L"OstrimFrmMain";
constexpr DWORD WindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU; // fixed, only the close box
constexpr DWORD WindowExStyle = 0;
constexpr int FirstControlId = 100;
constexpr WORD ProgramIcon = 1; // the resource script's icon

int ControlId(std::size_t position)
{
    return FirstControlId + static_cast<int>(position);
}

struct ControlClass
{
    const wchar_t *name;
    DWORD style;
    DWORD exStyle;
};

ControlClass ClassFor(ControlKind kind)
{
    switch (kind) {
    case ControlKind::PushButton:
        return {WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP, 0};
    case ControlKind::TextBox:
        return {WC_EDITW, ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case ControlKind::CheckBox:
        return {WC_BUTTONW, BS_AUTOCHECKBOX | WS_TABSTOP, 0};
    case ControlKind::Label:
        break;
    }
    // The labels have no access keys: an "&" in their text would be shown as it is.
    return {WC_STATICW, SS_LEFT | SS_NOPREFIX, 0};
}

RECT ToRect(const PixelRect &pixels)
{
    return {pixels.left, pixels.top, pixels.left + pixels.width, pixels.top + pixels.height};
}

// The desktop's message font at the window's DPI, the font dialogs use; the controls would
// otherwise draw in the old bitmap system font.
HFONT MessageFont(UINT dpi)
{
    NONCLIENTMETRICSW metrics {};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi))
        return CreateFontIndirectW(&metrics.lfMessageFont);
    // Systems without the call for a given DPI give the font at the system's.
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        return nullptr;
    metrics.lfMessageFont.lfHeight = MulDiv(
        metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(GetDpiForSystem()));
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

SIZE TextExtent(HWND control, HFONT font, const std::wstring &text)
{
    SIZE size {};
    HDC dc = GetDC(control);
    const HGDIOBJ previous = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return size;
}

HICON LoadProgramIcon(HINSTANCE instance, int metricX, int metricY, UINT dpi)
{
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(ProgramIcon), IMAGE_ICON,
        GetSystemMetricsForDpi(metricX, dpi), GetSystemMetricsForDpi(metricY, dpi),
        LR_DEFAULTCOLOR | LR_SHARED));
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure)
{
    WNDCLASSEXW windowClass {};
    if (GetClassInfoExW(instance, WindowClass, &windowClass))
        return;
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadProgramIcon(instance, SM_CXICON, SM_CYICON, GetDpiForSystem());
    windowClass.hIconSm = LoadProgramIcon(instance, SM_CXSMICON, SM_CYSMICON, GetDpiForSystem());
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = WindowClass;
    if (!RegisterClassExW(&windowClass))
        throw std::runtime_error("cannot register the window class");
}

} // namespace

FrmMain::FrmMain(std::unique_ptr<SerialLine> line, HINSTANCE instance)
    : m_msComm1(std::move(line))
{
    const INITCOMMONCONTROLSEX controls {sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterWindowClass(instance, &FrmMain::WindowProc);
    // Placed where the system places new windows; sized once its DPI is known.
    m_window = CreateWindowExW(WindowExStyle, WindowClass, Widen(FrmMainCaption).c_str(),
        WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
        instance, this);
    if (!m_window)
        throw std::runtime_error("cannot create the window");
    CreateControls(instance);
    m_focusWhenInactive = Control(0); // the focus starts on the first in keyboard order
    UseDpi(GetDpiForWindow(m_window));
    FitWindowToClient(nullptr);
}

FrmMain::~FrmMain()
{
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

void FrmMain::CreateControls(HINSTANCE instance)
{
    // Created in keyboard order: Tab follows the order the controls were made in.
    for (std::size_t position = 0; position < FrmMainControls.size(); ++position) {
        const ControlDesign &design = FrmMainControls[position];
        const ControlClass kind = ClassFor(design.kind);
        m_controls[position] = CreateWindowExW(kind.exStyle, kind.name,
            Widen(design.caption).c_str(), kind.style | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(position))), instance, nullptr);
        if (!m_controls[position])
            throw std::runtime_error("cannot create the window's controls");
        if (design.kind == ControlKind::TextBox) // any text may be entered; the action judges it
            SendMessageW(m_controls[position], EM_SETLIMITTEXT, 0, 0);
    }
}

void FrmMain::UseDpi(UINT dpi)
{
    m_dpi = dpi ? dpi : DesignDpi;
    m_font.reset(MessageFont(m_dpi));
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    SendMessageW(m_window, WM_SETICON, ICON_BIG,
        reinterpret_cast<LPARAM>(LoadProgramIcon(instance, SM_CXICON, SM_CYICON, m_dpi)));
    SendMessageW(m_window, WM_SETICON, ICON_SMALL,
        reinterpret_cast<LPARAM>(LoadProgramIcon(instance, SM_CXSMICON, SM_CYSMICON, m_dpi)));
    for (HWND control : m_controls)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
    ArrangeControls();
}

void FrmMain::ArrangeControls()
{
    const double scale = ScaleForDpi(static_cast<int>(m_dpi));
    for (std::size_t position = 0; position < FrmMainControls.size(); ++position) {
        const ControlDesign &design = FrmMainControls[position];
        PixelRect place = ScaledPixels(design.place, scale);
        if (design.kind == ControlKind::Label) {
            const SIZE text = TextExtent(Control(position), m_font.get(), Widen(design.caption));
            place.width = text.cx;
            place.height = text.cy;
        }
        SetWindowPos(Control(position), nullptr, place.left, place.top, place.width, place.height,
            SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(m_window, nullptr, TRUE);
}

// A window with a caption cannot be as narrow as the design's client area; the system widens it
// to its least width, and the controls stay where the design puts them.
void FrmMain::FitWindowToClient(const RECT *suggested)
{
    RECT frame = ToRect(ScaledPixels(FrmMainClient, ScaleForDpi(static_cast<int>(m_dpi))));
    AdjustWindowRectExForDpi(&frame, WindowStyle, FALSE, WindowExStyle, m_dpi);
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (suggested ? 0 : SWP_NOMOVE);
    SetWindowPos(m_window, nullptr, suggested ? suggested->left : 0, suggested ? suggested->top : 0,
        frame.right - frame.left, frame.bottom - frame.top, flags);
}

void FrmMain::Show(int showCommand)
{
    ShowWindow(m_window, showCommand);
    UpdateWindow(m_window);
    SetFocus(Control(0));
}

bool FrmMain::HandleDialogKey(MSG &message)
{
    // Enter presses the button while it has the focus, as Space does; elsewhere it does nothing.
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN
        && message.hwnd == Control(ControlAt("Command1"))) {
        RunSetOutputs();
        return true;
    }
    return IsDialogMessageW(m_window, &message);
}

LRESULT CALLBACK FrmMain::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto *creation = reinterpret_cast<const CREATESTRUCTW *>(lParam);
        SetWindowLongPtrW(
            window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
        reinterpret_cast<FrmMain *>(creation->lpCreateParams)->m_window = window;
    }
    auto *self = reinterpret_cast<FrmMain *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->Handle(message, wParam, lParam)
                : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT FrmMain::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == ControlId(ControlAt("Command1")) && HIWORD(wParam) == BN_CLICKED) {
            RunSetOutputs();
            return 0;
        }
        break;
    case WM_ACTIVATE:
        // As a dialog does: the focus leaves with the window and comes back with it, after a
        // message box too.
        if (LOWORD(wParam) == WA_INACTIVE) {
            m_focusWhenInactive = GetFocus();
        } else if (m_focusWhenInactive && IsChild(m_window, m_focusWhenInactive)) {
            SetFocus(m_focusWhenInactive);
            return 0;
        }
        break;
    case WM_DPICHANGED:
        UseDpi(HIWORD(wParam));
        FitWindowToClient(reinterpret_cast<const RECT *>(lParam));
        return 0;
    case WM_SETTINGCHANGE:
        if (wParam == SPI_SETNONCLIENTMETRICS) // the desktop's font changed
            UseDpi(m_dpi);
        break;
    case WM_CLOSE:
        DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        m_window = nullptr;
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

std::string FrmMain::TextOf(std::size_t position) const
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(Control(position))) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(Control(position), text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

std::string FrmMain::PortText() const
{
    return TextOf(ControlAt("TxtPort"));
}

std::string FrmMain::AddressText() const
{
    return TextOf(ControlAt("TxtAddress"));
}

std::int16_t FrmMain::OutputState(int index) const
{
    const HWND box = Control(ControlAt("ChkOutput", 0) + static_cast<std::size_t>(index));
    return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void FrmMain::ShowMessage(const std::string &text)
{
    ShowMessageBox(m_window, text);
}

// The one place the window runs the action.
void FrmMain::RunSetOutputs()
{
    const ActionOutcome outcome = SetOutputs(*this, *m_msComm1);
    if (outcome.ending != Ending::Sent)
        ShowMessage(WithAdvice(outcome.message, outcome.failure, windowWords));
}

int RunMessageLoop(FrmMain &window)
{
    MSG message {};
    BOOL got = FALSE;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        if (window.Handle() && window.HandleDialogKey(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return got < 0 ? 1 : static_cast<int>(message.wParam);
}

} // namespace ostrim
