#pragma once

#include "temporary_folder.h"

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

// Runs the step in a child process, for what must not touch this one (giving up root, a mount
// namespace of its own), and gives back the text the step gave.
inline std::string InChild(const std::function<std::string()> &step)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return "cannot make a pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        const std::string text = step();
        [[maybe_unused]] const auto written = ::write(pipeEnds[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    return text;
}

// How a program ended, with what it wrote; exitCode is -1 when it did not end by itself.
struct ProgramRun
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the program as a shell would, on no input and in this process's environment, and waits
// for it to end.
inline ProgramRun RunProgram(const std::string &program, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), program);
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Files rather than pipes: nothing to read while it runs, however much it writes.
    const TemporaryFolder folder;
    const std::filesystem::path out = folder.path() / "out";
    const std::filesystem::path err = folder.path() / "err";
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
    ::posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
    pid_t child = -1;
    const int failed
        = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return {-1, {}, "cannot start " + program};
    int status = 0;
    const bool ended = ::waitpid(child, &status, 0) == child && WIFEXITED(status);
    const auto text = [](const std::filesystem::path &path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    return {ended ? WEXITSTATUS(status) : -1, text(out), text(err)};
}
