#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

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
