// The Windows window seen from outside, as a user meets it: started as its own process, found and
// read through the window system, driven by real keystrokes. Runs under Wine on a display of its
// own (run_window_tests.sh); OSTRIM_PROGRAM, OSTRIM_FAKE_LINE_WINDOW and OSTRIM_SCRATCH name the
// program, the window with a recording fake line, and a folder for the fake line's log.

#include "fake_line.h"
#include "ui/win32/win32_frm_main.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <doctest.h>
#include <windows.h>

namespace {

using namespace std::chrono_literals;

// Places are read in the window's own pixels, whatever the DPI.
const bool DpiAware = SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);

struct Rect
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    bool operator==(const Rect &) const = default;
};

std::string Shown(const Rect &rect)
{
    std::ostringstream text;
    text << rect.left << "," << rect.top << " " << rect.width << "x" << rect.height;
    return text.str();
}

std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end()); // the window's texts here are all ASCII
}

// A Unix path from the environment, as Wine shows it to a Windows program.
std::wstring WindowsPath(const char *variable)
{
    const char *value = std::getenv(variable);
    REQUIRE_MESSAGE(value, variable, " is not set");
    std::wstring path = L"Z:";
    for (const char *c = value; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

// Waits for what a keystroke or a start must bring about. The limit only ends a wait for what
// never comes; nothing is judged by how long it took.
template<typename Condition>
bool WaitFor(Condition condition)
{
    const auto giveUp = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] {};
    GetClassNameW(window, name, 64);
    return name;
}

// WM_GETTEXT reaches into the other process; GetWindowText would not read an entry's text there.
std::wstring TextOf(HWND window)
{
    wchar_t text[256] {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(
        window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &copied);
    return text;
}

// A message to another process's window, and its answer.
LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer);
    return static_cast<LRESULT>(answer);
}

std::vector<HWND> ChildrenOf(HWND window)
{
    std::vector<HWND> children;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM found) {
            reinterpret_cast<std::vector<HWND> *>(found)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

// The top-level windows of a process with the given class, visible ones only.
std::vector<HWND> WindowsOf(DWORD process, const std::wstring &windowClass)
{
    struct Search
    {
        DWORD process;
        std::wstring windowClass;
        std::vector<HWND> found;
    } search {process, windowClass, {}};
    EnumWindows(
        [](HWND window, LPARAM data) {
            auto &search = *reinterpret_cast<Search *>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == search.process && IsWindowVisible(window)
                && ClassOf(window) == search.windowClass)
                search.found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A place relative to the window's client area.
Rect PlaceIn(HWND control, HWND window)
{
    RECT rect {};
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT *>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

HWND FocusOf(HWND window)
{
    GUITHREADINFO info {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

void SetDpi(DWORD dpi)
{
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                KEY_SET_VALUE, nullptr, &key, nullptr)
        == ERROR_SUCCESS);
    RegSetValueExW(
        key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dpi), sizeof dpi);
    RegCloseKey(key);
}

// One run of a window program, closed again at the end of the test.
class Window
{
public:
    explicit Window(const std::wstring &program, const std::wstring &argument = L"")
    {
        std::wstring commandLine
            = L"\"" + program + L"\"" + (argument.empty() ? L"" : L" \"" + argument + L"\"");
        STARTUPINFOW startup {};
        startup.cb = sizeof(startup);
        REQUIRE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
            nullptr, nullptr, &startup, &m_process));
        REQUIRE(WaitFor([this] {
            const std::vector<HWND> found = WindowsOf(m_process.dwProcessId, L"OstrimFrmMain");
            m_window = found.empty() ? nullptr : found.front();
            return m_window != nullptr;
        }));
        SetForegroundWindow(m_window);
        REQUIRE(WaitFor([this] { return GetForegroundWindow() == m_window && FocusOf(m_window); }));
        m_controls = ChildrenOf(m_window);
    }

    ~Window()
    {
        PostMessageW(m_window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(m_process.hProcess, 20000) != WAIT_OBJECT_0)
            TerminateProcess(m_process.hProcess, 1);
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }

    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;

    HWND Handle() const { return m_window; }
    DWORD Process() const { return m_process.dwProcessId; }
    // In the order the window made them, which is the keyboard's.
    const std::vector<HWND> &Controls() const { return m_controls; }
    // The control's place in that order; -1 for none of them.
    int Focused() const
    {
        const auto found = std::ranges::find(m_controls, FocusOf(m_window));
        return found == m_controls.end() ? -1 : static_cast<int>(found - m_controls.begin());
    }

private:
    PROCESS_INFORMATION m_process {};
    HWND m_window = nullptr;
    std::vector<HWND> m_controls;
};

// Keystrokes as the keyboard sends them: the keys go down in order and come up in reverse.
void Press(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> inputs;
    for (const WORD key : keys) {
        INPUT input {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        inputs.push_back(input);
    }
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
        INPUT input {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = *key;
        input.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void Type(const std::wstring &text)
{
    for (const wchar_t c : text)
        Press({static_cast<WORD>(VkKeyScanW(c) & 0xFF)});
}

// Tab until the control at the given place in the keyboard order has the focus.
void TabTo(const Window &window, int position)
{
    for (int step = 0; step < 9 && window.Focused() != position; ++step) {
        const int before = window.Focused();
        Press({VK_TAB});
        REQUIRE(WaitFor([&] { return window.Focused() != before; }));
    }
    REQUIRE(window.Focused() == position);
}

constexpr int Command1 = 0, TxtAddress = 1, ChkOutput0 = 2, ChkOutput2 = 4, ChkOutput3 = 5,
              TxtPort = 7;

struct ExpectedControl
{
    const wchar_t *windowClass;
    const wchar_t *caption;
    Rect at96;
    Rect at144;
};

// Labels size themselves to their caption in the desktop's font: only their corner is fixed.
constexpr std::array<ExpectedControl, 9> Controls {{
    {L"Button", L"&Set Outputs", {8, 144, 75, 25}, {12, 216, 113, 38}},
    {L"Edit", L"", {48, 120, 35, 19}, {72, 180, 53, 29}},
    {L"Button", L"Output 1", {8, 8, 75, 17}, {12, 12, 113, 26}},
    {L"Button", L"Output 2", {8, 32, 75, 17}, {12, 48, 113, 26}},
    {L"Button", L"Output 3", {8, 56, 75, 17}, {12, 84, 113, 26}},
    {L"Button", L"Output 4", {8, 80, 75, 17}, {12, 120, 113, 26}},
    {L"Static", L"Address", {48, 104, 0, 0}, {72, 156, 0, 0}},
    {L"Edit", L"", {8, 120, 35, 19}, {12, 180, 53, 29}},
    {L"Static", L"Port", {8, 104, 0, 0}, {12, 156, 0, 0}},
}};

} // namespace

TEST_CASE("the window's nine controls at 96 and 144 dots per inch")
{
    struct Row
    {
        DWORD dpi;
        int clientHeight;
        int designWidth;
    };
    for (const Row row : {Row {96, 174, 91}, Row {144, 261, 137}}) {
        CAPTURE(row.dpi);
        SetDpi(row.dpi);
        const Window window(WindowsPath("OSTRIM_PROGRAM"));
        SetDpi(96);

        REQUIRE(window.Controls().size() == Controls.size());
        for (std::size_t position = 0; position < Controls.size(); ++position) {
            const ExpectedControl &expected = Controls[position];
            const HWND control = window.Controls()[position];
            CAPTURE(Narrow(expected.caption));
            CHECK(Narrow(ClassOf(control)) == Narrow(expected.windowClass));
            CHECK(Narrow(TextOf(control)) == Narrow(expected.caption));
            const Rect design = row.dpi == 96 ? expected.at96 : expected.at144;
            const Rect place = PlaceIn(control, window.Handle());
            if (design.width == 0) {
                CHECK(Shown({place.left, place.top}) == Shown({design.left, design.top}));
                CHECK(place.width > 0);
                CHECK(place.height > 0);
            } else {
                CHECK(Shown(place) == Shown(design));
            }
        }

        // As narrow as the design, or as the system lets a window with a caption be: Wine's
        // least is 110 pixels at 96 dots per inch, which no call tells another process at 144.
        RECT client {};
        GetClientRect(window.Handle(), &client);
        CHECK(client.bottom == row.clientHeight);
        CHECK(client.right >= row.designWidth);
        CHECK(client.right <= row.designWidth * 2);

        // A fixed frame with only the close box.
        const LONG style = GetWindowLongW(window.Handle(), GWL_STYLE);
        CHECK((style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) == 0);
        CHECK((style & WS_SYSMENU) != 0);
        CHECK(Narrow(TextOf(window.Handle())) == "Ostrim");
    }
}

TEST_CASE("keys move the focus in the design's order and press the button")
{
    const std::wstring log = WindowsPath("OSTRIM_SCRATCH") + L"\\line.log";
    DeleteFileW(log.c_str());
    const Window window(WindowsPath("OSTRIM_FAKE_LINE_WINDOW"), log);
    REQUIRE(window.Focused() == Command1);

    struct Step
    {
        const char *name;
        std::initializer_list<WORD> keys;
        int focus;
    };
    const Step steps[] = {
        {"Tab", {VK_TAB}, TxtAddress},
        {"Tab", {VK_TAB}, ChkOutput0},
        {"Tab", {VK_TAB}, ChkOutput0 + 1},
        {"Tab", {VK_TAB}, ChkOutput2},
        {"Tab", {VK_TAB}, ChkOutput3},
        {"Tab skips the label", {VK_TAB}, TxtPort},
        {"Tab goes round", {VK_TAB}, Command1},
        {"Shift+Tab goes back round", {VK_SHIFT, VK_TAB}, TxtPort},
        {"Shift+Tab skips the label", {VK_SHIFT, VK_TAB}, ChkOutput3},
    };
    for (const Step &step : steps) {
        CAPTURE(step.name);
        const int before = window.Focused();
        Press(step.keys);
        REQUIRE(WaitFor([&] { return window.Focused() != before; }));
        CHECK(window.Focused() == step.focus);
    }

    // Port 1, address 7, Output 1 and Output 3 ticked: the frame is 07 A0.
    TabTo(window, TxtPort);
    Type(L"1");
    TabTo(window, TxtAddress);
    Type(L"7");
    for (const int box : {ChkOutput0, ChkOutput2}) {
        TabTo(window, box);
        Press({VK_SPACE});
        REQUIRE(WaitFor([&] {
            return Ask(window.Controls()[static_cast<std::size_t>(box)], BM_GETCHECK)
                == BST_CHECKED;
        }));
    }

    const std::string frame = "port 1\nsettings 2400,N,8,1\nopen\nwrite 07 A0\nclose\n";
    struct ButtonPress
    {
        const char *name;
        int from;
        std::initializer_list<WORD> keys;
    };
    // Enter in an entry presses nothing: the press after it must be the only one recorded.
    const ButtonPress presses[] = {
        {"Alt+S from an entry", TxtAddress, {VK_MENU, 'S'}},
        {"Alt+S from a check box", ChkOutput3, {VK_MENU, 'S'}},
        {"Space on the button", Command1, {VK_SPACE}},
        {"Enter in an entry, then Enter on the button", TxtPort, {VK_RETURN}},
        {"Enter on the button", Command1, {VK_RETURN}},
    };
    std::string expected;
    for (const auto &press : presses) {
        CAPTURE(press.name);
        TabTo(window, press.from);
        Press(press.keys);
        if (press.from == TxtPort) {
            TabTo(window, Command1);
            Press({VK_RETURN});
        }
        expected += frame;
        std::string recorded;
        REQUIRE(WaitFor([&] {
            std::ifstream file(log.c_str());
            std::ostringstream text;
            text << file.rdbuf();
            recorded = text.str();
            return recorded.size() >= expected.size();
        }));
        CHECK(recorded == expected);
    }
    // The action leaves the entries and the boxes as the user left them.
    CHECK(Narrow(TextOf(window.Controls()[TxtPort])) == "1");
    CHECK(Narrow(TextOf(window.Controls()[TxtAddress])) == "7");
}

// The one message box the window's process shows, once it is up.
HWND MessageBoxOf(const Window &window)
{
    HWND box = nullptr;
    REQUIRE(WaitFor([&] {
        const std::vector<HWND> boxes = WindowsOf(window.Process(), L"#32770");
        box = boxes.size() == 1 ? boxes.front() : nullptr;
        return box != nullptr;
    }));
    return box;
}

struct BoxContents
{
    std::vector<std::string> buttons;
    std::vector<std::string> texts;
    int icons = 0;
};

BoxContents ContentsOf(HWND box)
{
    BoxContents contents;
    for (const HWND child : ChildrenOf(box)) {
        if (!IsWindowVisible(child))
            continue;
        const std::string windowClass = Narrow(ClassOf(child));
        if (windowClass == "Button")
            contents.buttons.push_back(Narrow(TextOf(child)));
        else if (windowClass == "Static"
            && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            contents.icons += Ask(child, STM_GETICON) != 0 ? 1 : 0;
        else if (windowClass == "Static" && !TextOf(child).empty())
            contents.texts.push_back(Narrow(TextOf(child)));
    }
    return contents;
}

// Closes the box with Enter, as a user would, and waits for the window to take input again.
void Dismiss(HWND box, const Window &window)
{
    Press({VK_RETURN});
    REQUIRE(WaitFor([&] { return !IsWindow(box) && IsWindowEnabled(window.Handle()); }));
}

TEST_CASE("an invalid address is answered in a message box captioned Ostrim")
{
    const Window window(WindowsPath("OSTRIM_PROGRAM"));
    TabTo(window, TxtPort);
    Type(L"3");
    TabTo(window, Command1);
    Press({VK_SPACE});

    const HWND box = MessageBoxOf(window);
    CHECK(Narrow(TextOf(box)) == "Ostrim");
    // Modal to the window: owned by it, which takes no input meanwhile.
    CHECK(GetWindow(box, GW_OWNER) == window.Handle());
    CHECK_FALSE(IsWindowEnabled(window.Handle()));
    const BoxContents contents = ContentsOf(box);
    CHECK(contents.buttons == std::vector<std::string> {"OK"});
    CHECK(contents.texts == std::vector<std::string> {"Invalid board address"});
    CHECK(contents.icons == 0);

    Dismiss(box, window);
    CHECK(WaitFor([&] { return window.Focused() == Command1; }));
    CHECK(Narrow(TextOf(window.Controls()[TxtPort])) == "3");
    CHECK(Narrow(TextOf(window.Controls()[TxtAddress])).empty());
}

// Not run with the others: wine_window_on_port.py runs it on Ostrim.exe from the zip, with its
// own Win32 line, COM3 mapped to a pseudo-terminal and every byte that reaches the terminal
// copied to wire.log in OSTRIM_SCRATCH.
TEST_CASE(
    "a press on a mapped port sends the frame through the program's own line" * doctest::skip())
{
    const std::wstring wireLog = WindowsPath("OSTRIM_SCRATCH") + L"\\wire.log";
    const auto wire = [&] {
        std::ifstream file(wireLog.c_str());
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    };
    struct Row
    {
        const char *name;
        const wchar_t *port;
        const char *wire; // everything on the terminal so far
        const char *message;
    };
    const Row rows[] = {
        {"COM3, address 7, Outputs 1 and 3", L"3", "07 a0 ", nullptr},
        {"a port that does not exist names the one that does", L"5", "07 a0 ",
            "Port 5 does not exist. This system has 1 serial port: COM3"},
    };
    for (const Row &row : rows) {
        CAPTURE(row.name);
        const Window window(WindowsPath("OSTRIM_PROGRAM"));
        TabTo(window, TxtPort);
        Type(row.port);
        TabTo(window, TxtAddress);
        Type(L"7");
        for (const int box : {ChkOutput0, ChkOutput2}) {
            TabTo(window, box);
            Press({VK_SPACE});
        }
        TabTo(window, Command1);
        Press({VK_SPACE});

        if (row.message) {
            const HWND box = MessageBoxOf(window);
            const std::vector<std::string> texts = ContentsOf(box).texts;
            CHECK(texts.size() == 1);
            CHECK((texts.empty() ? "" : texts.front()) == std::string(row.message));
            Dismiss(box, window);
        } else {
            // The whole frame on the terminal, or a message box saying why not.
            const auto boxes = [&] { return WindowsOf(window.Process(), L"#32770"); };
            WaitFor([&] { return wire().size() >= std::strlen(row.wire) || !boxes().empty(); });
            Ask(window.Handle(), WM_NULL); // answered once the press is over
            for (const HWND box : boxes()) {
                const std::vector<std::string> texts = ContentsOf(box).texts;
                CHECK_MESSAGE(false, "a message box: ", texts.empty() ? "" : texts.front());
                Dismiss(box, window);
            }
        }
        CHECK(wire() == std::string(row.wire));
    }
}

TEST_CASE("the program file carries the icon, the version block and the manifest")
{
    const std::wstring program = WindowsPath("OSTRIM_PROGRAM");
    DWORD ignored = 0;
    std::vector<BYTE> version(GetFileVersionInfoSizeW(program.c_str(), &ignored));
    REQUIRE(!version.empty());
    REQUIRE(GetFileVersionInfoW(
        program.c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT size = 0;
    REQUIRE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void **>(&fixed), &size));
    CHECK(fixed->dwFileVersionMS == 0x00010000);
    CHECK(fixed->dwFileVersionLS == 0);
    CHECK(fixed->dwProductVersionMS == 0x00010000);
    CHECK(fixed->dwProductVersionLS == 0);
    struct Value
    {
        const wchar_t *name;
        const char *text;
    };
    for (const Value value : {Value {L"FileVersion", "1.00"}, Value {L"ProductVersion", "1.00"},
             Value {L"ProductName", "Ostrim"}, Value {L"CompanyName", "Ostrim"},
             Value {L"InternalName", "Ostrim"}, Value {L"OriginalFilename", "Ostrim.exe"},
             Value {L"FileDescription", "Switch the outputs of a board on a serial port"},
             Value {L"LegalCopyright", "Copyright 2026 The Ostrim authors"}}) {
        CAPTURE(Narrow(value.name));
        wchar_t *text = nullptr;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + value.name;
        REQUIRE(
            VerQueryValueW(version.data(), path.c_str(), reinterpret_cast<void **>(&text), &size));
        CHECK(Narrow(text) == value.text);
    }

    HMODULE file = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    REQUIRE(file);
    // The icon group: 32 by 32 and 16 by 16, drawn pixel by pixel, and the scalable icon rendered
    // at 48 and 256 pixels (a width of 0), the latter a PNG image as Windows wants it; all of
    // them 32 bits per pixel, in the group and in each image's own header.
#pragma pack(push, 2)
    struct IconEntry
    {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    const HRSRC group
        = FindResourceW(file, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    REQUIRE(group);
    const auto *header = static_cast<const WORD *>(LockResource(LoadResource(file, group)));
    REQUIRE(header[2] == 4);
    std::vector<std::string> images;
    const auto *entries = reinterpret_cast<const IconEntry *>(header + 3);
    for (int index = 0; index < header[2]; ++index)
        images.push_back(std::to_string(entries[index].width) + "x"
            + std::to_string(entries[index].height) + "x"
            + std::to_string(entries[index].bitCount));
    CHECK(images == std::vector<std::string> {"32x32x32", "16x16x32", "48x48x32", "0x0x32"});
    for (int index = 0; index < 2; ++index) {
        const HRSRC drawn
            = FindResourceW(file, MAKEINTRESOURCEW(entries[index].id), MAKEINTRESOURCEW(3));
        REQUIRE(drawn); // RT_ICON
        const auto *bitmap
            = static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(file, drawn)));
        CHECK(bitmap->biBitCount == 32);
    }
    const HRSRC large = FindResourceW(file, MAKEINTRESOURCEW(entries[3].id), MAKEINTRESOURCEW(3));
    REQUIRE(large); // RT_ICON
    const std::string_view png(static_cast<const char *>(LockResource(LoadResource(file, large))),
        SizeofResource(file, large));
    CHECK(png.starts_with("\x89PNG\r\n\x1a\n"));

    const HRSRC manifest
        = FindResourceW(file, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)); // RT_MANIFEST
    REQUIRE(manifest);
    const std::string text(static_cast<const char *>(LockResource(LoadResource(file, manifest))),
        SizeofResource(file, manifest));
    CHECK(text.find("PerMonitorV2") != std::string::npos);
    CHECK(text.find("Microsoft.Windows.Common-Controls") != std::string::npos);
    FreeLibrary(file);
}

// Handles of fonts and icons do not cross processes under Wine: these are asked of a window made
// here.
TEST_CASE("the controls draw in the desktop's message font and the window shows the icon")
{
    const ostrim::win32::FrmMain window(std::make_unique<ostrim::test::FakeLine>());
    NONCLIENTMETRICSW metrics {};
    metrics.cbSize = sizeof(metrics);
    REQUIRE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    for (HWND control = GetWindow(window.Handle(), GW_CHILD); control;
         control = GetWindow(control, GW_HWNDNEXT)) {
        CAPTURE(Narrow(TextOf(control)));
        const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        REQUIRE(font);
        LOGFONTW used {};
        GetObjectW(font, sizeof(used), &used);
        CHECK(Narrow(used.lfFaceName) == Narrow(metrics.lfMessageFont.lfFaceName));
        CHECK(used.lfHeight == metrics.lfMessageFont.lfHeight);
    }
    CHECK(SendMessageW(window.Handle(), WM_GETICON, ICON_BIG, 0) != 0);
    CHECK(SendMessageW(window.Handle(), WM_GETICON, ICON_SMALL, 0) != 0);
}

// Not a test: the pictures of the window and a message box for the documentation, cut from the
// display's frame buffer by scripts/make-screenshots.sh. Run with --no-skip -tc=screenshots.
TEST_CASE("screenshots" * doctest::skip())
{
    const std::wstring frameBuffer = WindowsPath("OSTRIM_FRAMEBUFFER_DIR") + L"\\Xvfb_screen0";
    const std::wstring scratch = WindowsPath("OSTRIM_FRAMEBUFFER_DIR");
    const auto take = [&](const wchar_t *name, HWND shown) {
        RedrawWindow(shown, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        std::this_thread::sleep_for(1s); // for X to draw what Wine asked of it
        REQUIRE(CopyFileW(frameBuffer.c_str(), (scratch + L"\\" + name + L".xwd").c_str(), FALSE));
        RECT rect {};
        GetWindowRect(shown, &rect);
        printf("%ls %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right - rect.left,
            rect.bottom - rect.top);
    };
    const Window window(WindowsPath("OSTRIM_PROGRAM"));
    SetWindowPos(window.Handle(), nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    take(L"window", window.Handle());

    TabTo(window, TxtPort);
    Type(L"3");
    TabTo(window, Command1);
    Press({VK_SPACE});
    const HWND box = MessageBoxOf(window);
    SetWindowPos(box, nullptr, 200, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    take(L"message", box);
    Press({VK_RETURN});
}
