#include "cli/win32_command_system.h"

#include "serial/failure_advice.h"
#include "serial/win32/win32_ports.h"
#include "serial/win32/win32_text.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

namespace ostrim {
namespace {

// The folder this program file is in, wherever the user started it from.
std::filesystem::path OwnFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length
            = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return std::filesystem::path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
}

// Ostrim.exe is a window program and starts with no console. Started from a console or a batch
// file, it writes to that console, as ostrim.com would; a stream its starter redirected is
// already its own and stays so.
bool Given(DWORD stream)
{
    const HANDLE handle = ::GetStdHandle(stream);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// The starter's console, once attached to, as a C stream of its own: a window program's C runtime
// has no standard streams to reopen onto it (freopen of stdout fails there), so the console is
// opened by its name. Null where the starter has no console. A program that already has one (Wine
// gives a window program its starter's) is refused the attach as ERROR_ACCESS_DENIED.
std::FILE *StartersConsole()
{
    if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::GetLastError() != ERROR_ACCESS_DENIED)
        return nullptr;
    const HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(console), _O_TEXT);
    if (descriptor < 0) {
        ::CloseHandle(console);
        return nullptr;
    }
    return _fdopen(descriptor, "w");
}

int Run(const std::vector<std::string> &arguments, std::ostream &out = std::cout,
    std::ostream &err = std::cerr)
{
    return RunCommand(ParseCommandLine(arguments), Win32CommandSystem(), out, err);
}

// Starts the window's program and does not wait for it; 1 with a message on err if it cannot.
int StartWindow(const std::filesystem::path &program, std::ostream &err)
{
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
            nullptr, &startup, &started)) {
        const DWORD error = ::GetLastError();
        err << "ostrim: " << Narrow(program.wstring())
            << (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                       ? " is missing: the window's program belongs beside ostrim.com."
                       : " cannot be started (Windows error " + std::to_string(error) + ").")
            << std::endl;
        return ExitCode::Message;
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return ExitCode::Sent;
}

} // namespace

std::vector<std::string> CommandArguments()
{
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
    std::vector<std::string> arguments;
    for (int index = 0; wide && index < count; ++index)
        arguments.push_back(Narrow(wide.get()[index]));
    return arguments;
}

CommandSystem Win32CommandSystem(Win32LineEnvironment environment)
{
    return {
        NetworkOrPortLine([environment](std::optional<OneDevice> device) {
            return Win32Line(environment, std::move(device));
        }),
        [ports = environment.ports] { return Win32PortListText(ports(), shellWords.deviceServer); },
    };
}

int RunConsoleProgram()
{
    const std::vector<std::string> arguments = CommandArguments();
    if (WantsWindow(static_cast<int>(arguments.size())))
        return StartWindow(OwnFolder() / L"Ostrim.exe", std::cerr);
    return Run(arguments);
}

int RunCommandOfWindowProgram(const std::vector<std::string> &arguments)
{
    const bool outGiven = Given(STD_OUTPUT_HANDLE);
    const bool errGiven = Given(STD_ERROR_HANDLE);
    std::FILE *const console = outGiven && errGiven ? nullptr : StartersConsole();
    if (!console)
        return Run(arguments);
    __gnu_cxx::stdio_filebuf<char> buffer(console, std::ios::out);
    std::ostream toConsole(&buffer);
    const int exitCode
        = Run(arguments, outGiven ? std::cout : toConsole, errGiven ? std::cerr : toConsole);
    toConsole.flush();
    std::fclose(console);
    return exitCode;
}

} // namespace ostrim
