#include "in_child.h"
#include "ostrim_version.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <doctest.h>

namespace {

// Whether the text is the pattern, in which "..." stands for any text.
bool Matches(std::string_view text, std::string_view pattern)
{
    const std::size_t gap = pattern.find("...");
    if (gap == std::string_view::npos)
        return text == pattern;
    if (!text.starts_with(pattern.substr(0, gap)))
        return false;
    for (std::size_t skip = gap; skip <= text.size(); ++skip) {
        if (Matches(text.substr(skip), pattern.substr(gap + 3)))
            return true;
    }
    return false;
}

} // namespace

// The built program as a user's shell starts it: no display, no platform chosen.
TEST_CASE("The command line needs no display")
{
    struct Row
    {
        std::string_view name;
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;
        std::string err;
    };
    const Row rows[] {
        {"--version", {"--version"}, 0, std::string("Ostrim ") + ostrim::VersionText + "\n", ""},
        {"--help", {"--help"}, 0,
            "...Usage: ...--list-ports...--port...--address...--on...Exit codes...", ""},
        {"usage error: --on 5", {"--port", "0", "--address", "7", "--on", "5"}, 2, "",
            "ostrim: --on ...\nTry 'ostrim --help' for more information.\n"},
        // The toolkit's own words about plugins and reinstalling, and its abort, say nothing
        // useful.
        {"no arguments and no display: one line, exit 1", {}, 1, "",
            "ostrim: there is no display to open the window on; ostrim --help shows the command "
            "line\n"},
        {"a message: no such device", {"--device", "/dev/serial/by-id/usb-gone", "--address", "7"},
            1, "", "ostrim: /dev/serial/by-id/usb-gone does not exist or was disconnected.\n"},
        // Refused before they are opened: opening /dev/ptmx alone makes a new terminal pair.
        {"no serial port: /dev/ptmx", {"--device", "/dev/ptmx", "--address", "7"}, 1, "",
            "ostrim: /dev/ptmx is not a serial device.\n"},
        {"no serial port: /dev/tty", {"--device", "/dev/tty", "--address", "7"}, 1, "",
            "ostrim: /dev/tty is not a serial device.\n"},
    };
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        ::unsetenv(name);
    for (const Row &row : rows) {
        INFO(row.name);
        const ProgramRun run = RunProgram(OSTRIM_PROGRAM, row.arguments);
        INFO("standard error: ", run.err);
        CHECK(run.exitCode == row.exitCode);
        CHECK_MESSAGE(Matches(run.out, row.out), run.out);
        CHECK(Matches(run.err, row.err));
    }
}
