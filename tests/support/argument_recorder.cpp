// Stands in for Ostrim.exe where a test asks how ostrim.com starts it: writes the arguments it was
// given, as Ostrim.exe splits its command line, one a line in UTF-16, to arguments.txt beside
// itself, and exits. A program path that was not quoted shows here as more than one argument.

#include <cstdio>
#include <string>

// shellapi.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::wstring path(MAX_PATH, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    path.resize(path.find_last_of(L'\\') + 1);
    path += L"arguments.txt";

    int count = 0;
    LPWSTR *arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::wstring text;
    for (int index = 0; arguments && index < count; ++index)
        text += std::wstring(arguments[index]) + L"\n";
    ::LocalFree(arguments);

    // Written whole under another name first, so that the test never reads half of it.
    const std::wstring written = path + L".new";
    FILE *file = _wfopen(written.c_str(), L"wb");
    if (!file)
        return 1;
    const bool whole = std::fwrite(text.data(), sizeof(wchar_t), text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !whole)
        return 1;
    return ::MoveFileExW(written.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
