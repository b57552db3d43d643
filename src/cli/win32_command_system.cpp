#include "cli/win32_command_system.h"

#include "serial/failure_advice.h"
#include "serial/win32/win32_ports.h"
#include "serial/win32/win32_text.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

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

void UseStartersConsole()
{
    const bool outGiven = Given(STD_OUTPUT_HANDLE);
    const bool errGiven = Given(STD_ERROR_HANDLE);
    if ((outGiven && errGiven) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!outGiven)
        std::freopen("CONOUT$", "w", stdout);
    if (!errGiven)
        std::freopen("CONOUT$", "w", stderr);
}

int Run(const std::vector<std::string> &arguments)
{
    return RunCommand(ParseCommandLine(arguments), Win32CommandSystem(), std::cout, std::cerr);
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
    UseStartersConsole();
    return Run(arguments);
}

} // namespace ostrim
