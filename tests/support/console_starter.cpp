// Starts a program as cmd.exe on Windows starts a window program typed at its prompt: in cmd's
// console, but with no standard handles of its own, so that whatever it prints reaches the console
// only if it attaches to it. Wine's cmd hands its console handles on instead, which would hide a
// program that never attaches. Waits for the program and exits with its exit code.
//
//   ostrim_console_starter PROGRAM [ARGUMENT...]    (as one command line, passed on as given)

#include <algorithm>
#include <string>

#include <windows.h>

int main()
{
    // The command line after this program's own name, exactly as typed.
    std::wstring line = ::GetCommandLineW();
    const bool quoted = !line.empty() && line[0] == L'"';
    std::size_t end = quoted ? line.find(L'"', 1) : line.find(L' ');
    end = end == std::wstring::npos ? line.size() : end + 1;
    line = line.substr(std::min(line.find_first_not_of(L' ', end), line.size()));

    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES; // and all three left empty
    PROCESS_INFORMATION started {};
    if (!::CreateProcessW(
            nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return 125;
    ::WaitForSingleObject(started.hProcess, INFINITE);
    DWORD code = 125;
    ::GetExitCodeProcess(started.hProcess, &code);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return static_cast<int>(code);
}
