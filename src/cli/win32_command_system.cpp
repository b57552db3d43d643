#include "cli/win32_command_system.h"

#include "serial/failure_advice.h"
#include "serial/network/network_line.h"
#include "serial/win32_ports.h"

#include <iostream>
#include <vector>

namespace ostrim {
namespace {

// What the user can do, said for a shell: there is no button to press again.
constexpr FaceWords shellWords {
    "Close it and try again.", "Choose another port: ostrim --list-ports lists them."};

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

} // namespace

CommandSystem Win32CommandSystem(Win32LineEnvironment environment)
{
    return {
        [environment](const std::string &device) -> std::unique_ptr<SerialLine> {
            if (device.empty())
                return std::make_unique<Win32SerialLine>(environment);
            if (std::unique_ptr<SerialLine> network = NetworkLineFor(device))
                return network;
            return std::make_unique<Win32SerialLine>(OneDevice {device}, environment);
        },
        [ports = environment.ports] { return Win32PortListText(ports()); },
        [](const std::string &message, const std::optional<ActionError> &failure) {
            return WithAdvice(message, failure, shellWords);
        },
    };
}

int StartWindow(const std::filesystem::path &program, std::ostream &err)
{
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
            nullptr, &startup, &started)) {
        const DWORD error = ::GetLastError();
        err << "ostrim: " << program.string()
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

int RunConsoleProgram(int argc, char *argv[])
{
    if (WantsWindow(argc))
        return StartWindow(OwnFolder() / L"Ostrim.exe", std::cerr);
    return RunCommand(ParseCommandLine(std::vector<std::string>(argv, argv + argc)),
        Win32CommandSystem(), std::cout, std::cerr);
}

} // namespace ostrim
