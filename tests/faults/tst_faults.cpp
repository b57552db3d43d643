// The set-outputs action against what goes wrong on a real line: a far end that hangs up, a
// device that goes away, another program on the port, a second copy of this program pressing at
// the same time, and output that never drains. Every case runs on real pseudo-terminals.
#include "action_fixtures.h"
#include "fake_line.h"
#include "hex_text.h"
#include "output/set_outputs.h"
#include "pseudo_terminal.h"
#include "serial/posix/posix_line_backend.h"
#include "temporary_folder.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <doctest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace ostrim;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Port 1, address 7, Outputs 1 and 3, the press every fault test makes: "sent", or the message
// the user is shown.
std::string PressOnPort1(SerialLine &line)
{
    const ActionOutcome outcome = SetOutputs(GivenEntries("1", "7", {1, 0, 1, 0}), line);
    return outcome.ending == Ending::Sent ? "sent" : outcome.message;
}

// The line's own clock, with every reading kept: whether it gave up only once its deadline had
// passed is then read off its own readings, however slow or busy the machine.
class ClockReadings
{
public:
    std::function<SerialPortLine::Clock::time_point()> function()
    {
        return [this] { return m_readings.emplace_back(SerialPortLine::Clock::now()); };
    }
    // From the first reading of a press (its open, just before the write) to its last.
    SerialPortLine::Clock::duration waited() const
    {
        return m_readings.empty() ? SerialPortLine::Clock::duration {}
                                  : m_readings.back() - m_readings.front();
    }

private:
    std::vector<SerialPortLine::Clock::time_point> m_readings;
};

// Root opens a terminal claimed with TIOCEXCL all the same, by its CAP_SYS_ADMIN. For as long
// as this lives the calling thread works without that capability, as an ordinary user's does.
class WithoutSysAdmin
{
public:
    WithoutSysAdmin()
    {
        if (::syscall(SYS_capget, &m_header, m_saved.data()) != 0)
            return;
        constexpr std::uint32_t sysAdmin = 1u << CAP_SYS_ADMIN;
        if ((m_saved[0].effective & sysAdmin) == 0) {
            m_works = true;
            return;
        }
        auto reduced = m_saved;
        reduced[0].effective &= ~sysAdmin;
        m_dropped = ::syscall(SYS_capset, &m_header, reduced.data()) == 0;
        m_works = m_dropped;
    }
    ~WithoutSysAdmin()
    {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved.data());
    }
    WithoutSysAdmin(const WithoutSysAdmin &) = delete;
    WithoutSysAdmin &operator=(const WithoutSysAdmin &) = delete;

    bool works() const { return m_works; }

private:
    __user_cap_header_struct m_header {_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, 2> m_saved {};
    bool m_dropped = false;
    bool m_works = false;
};

// Another program on the port, started from the helper built beside this test, with nothing of
// this process's open but the pipes to its standard input and output.
class PortUser
{
public:
    explicit PortUser(std::vector<std::string> arguments)
    {
        int input[2];
        int output[2];
        REQUIRE(::pipe2(input, O_CLOEXEC) == 0);
        REQUIRE(::pipe2(output, O_CLOEXEC) == 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        arguments.insert(arguments.begin(), OSTRIM_PORT_USER);
        std::vector<char *> argv;
        for (std::string &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        const int started
            = ::posix_spawn(&m_pid, OSTRIM_PORT_USER, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        m_input = input[1];
        m_output = output[0];
        REQUIRE(started == 0);
    }
    ~PortUser()
    {
        ::close(m_input);
        for (int wait = 0; wait < 500 && Running(); ++wait)
            std::this_thread::sleep_for(10ms);
        if (Running()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_output);
    }
    PortUser(const PortUser &) = delete;
    PortUser &operator=(const PortUser &) = delete;

    pid_t pid() const { return m_pid; }
    bool Running()
    {
        m_ended = m_ended || ::waitpid(m_pid, nullptr, WNOHANG) != 0;
        return !m_ended;
    }
    bool WaitUntilHolding() { return Read(5s) && m_printed == "ready\n"; }
    // Takes what it printed within the wait, so that it never waits for room in the pipe; false
    // when nothing came.
    bool Read(std::chrono::milliseconds wait)
    {
        pollfd readable {m_output, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(wait.count())) <= 0)
            return false;
        char buffer[4096];
        const ssize_t got = ::read(m_output, buffer, sizeof buffer);
        m_printed.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
        return got > 0;
    }
    // Everything it printed, once it has ended.
    std::string Output()
    {
        while (Read(1s)) { }
        return m_printed;
    }

private:
    pid_t m_pid = -1;
    bool m_ended = false;
    int m_input = -1;
    int m_output = -1;
    std::string m_printed;
};

// What a press is told of the port user that holds the port; without one, how it starts.
std::string InUseMessage(const std::string &device, std::optional<pid_t> holder = std::nullopt)
{
    const std::string start = "Port 1 (" + device + ") is in use by ";
    return holder ? start + "port_user (process " + std::to_string(*holder) + ")." : start;
}

// The forms a UUCP lock file takes, each naming the process that holds the port.
std::string LockFileText(const std::string &form, pid_t pid)
{
    if (form == "ascii") {
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
        return text;
    }
    if (form == "qt")
        return std::to_string(pid) + "\nport_user\nlocalhost\n";
    const auto binary = static_cast<int>(pid);
    return std::string(reinterpret_cast<const char *>(&binary), sizeof binary);
}

std::string FileText(const std::filesystem::path &path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// A pseudo-terminal keeps what was written to it whatever its port side flushes, but in packet
// mode it tells of a flush: the far end's next read is then a status byte, not the data.
Bytes NextPacket(const PseudoTerminal &board)
{
    pollfd readable {board.masterHandle(), POLLIN, 0};
    if (::poll(&readable, 1, 2000) <= 0)
        return {};
    Bytes packet(64);
    const ssize_t got = ::read(board.masterHandle(), packet.data(), packet.size());
    packet.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return packet;
}

int ExclusiveClaim(const PseudoTerminal &board)
{
    int claimed = -1;
    ::ioctl(board.slaveHandle(), TIOCGEXCL, &claimed);
    return claimed;
}

} // namespace

TEST_CASE("the far end hangs up")
{
    struct Row
    {
        std::string name;
        const char *after;
        std::string message;
    };
    const Row rows[] {
        {"between open and write: nothing was sent", "open",
            "was disconnected before the frame was sent."},
        {"after the bytes left: they may not all have arrived", "write",
            "was disconnected after the frame was handed over; it may not have been sent "
            "completely."},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        PseudoTerminal board;
        std::vector<std::string> ports {board.devicePath()}; // port 1, as the system lists it now
        SerialPortLine realLine = PosixLine([&ports] { return ports; });
        test::FakeLine line({}, &realLine);
        line.After(row.after, [&] { board.hangUp(); });
        CHECK(PressOnPort1(line) == "Port 1 (" + board.devicePath() + ") " + row.message);
        CHECK(!realLine.IsOpen());

        // The user plugs the board in again: a fresh terminal, the same line.
        PseudoTerminal fresh;
        ports = {fresh.devicePath()};
        CHECK(PressOnPort1(realLine) == "sent");
        CHECK(HexText(fresh.read(2)) == "07 A0");
        CHECK(!realLine.IsOpen());
    }
}

// The device node is reached through a link of the test's own, so that a terminal number freed
// here and taken at once by a test running alongside is never written to.
TEST_CASE("the device disappears between two presses")
{
    struct Row
    {
        std::string name;
        bool listRefreshed;
        const char *message;
    };
    const Row rows[] {
        {"port list refreshed: port 1 no longer listed", true,
            "Port 1 does not exist. This system has no serial port"},
        {"port list still names it: the node is gone", false, "does not exist or was disconnected"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        TemporaryFolder folder;
        const std::string link = folder.path() / "ttyOSTRIM0";
        auto board = std::make_unique<PseudoTerminal>();
        REQUIRE(::symlink(board->devicePath().c_str(), link.c_str()) == 0);
        std::vector<std::string> ports {link};
        SerialPortLine line = PosixLine([&ports] { return ports; });

        CHECK(PressOnPort1(line) == "sent");
        CHECK(HexText(board->read(2)) == "07 A0");

        board.reset();
        REQUIRE(::unlink(link.c_str()) == 0);
        if (row.listRefreshed)
            ports.clear();
        const std::string message = PressOnPort1(line);
        CHECK_MESSAGE(message.find(row.message) != std::string::npos, message);
        CHECK(!line.IsOpen());
    }
}

// Whoever presses, the holder keeps everything it had: its claim, its settings and the output it
// queued, which a flush would throw away before it reached the device.
TEST_CASE("another program holds the port")
{
    struct Row
    {
        std::string name;
        const char *mode;
        bool asRoot; // root opens a terminal claimed with TIOCEXCL all the same
    };
    const Row rows[] {
        {"through a flock", "hold-flock", false},
        // Two shared flocks do not exclude each other: only an exclusive one of ours meets it.
        {"through a shared flock", "hold-shared-flock", false},
        {"through an exclusive open (TIOCEXCL)", "hold-exclusive", false},
        {"through an exclusive open, pressed by root", "hold-exclusive", true},
        {"through both, as another copy holds it, pressed by root", "hold-both", true},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        if (row.asRoot && ::geteuid() != 0) {
            MESSAGE("skipped '", row.name, "': needs root");
            continue;
        }
        PseudoTerminal board;
        REQUIRE(board.setSettings(CookedAt9600(board.settings())));
        PortUser holder({row.mode, board.devicePath()});
        REQUIRE(holder.WaitUntilHolding());
        const termios before = board.settings();
        const int claimedBefore = ExclusiveClaim(board);
        int packetMode = 1;
        REQUIRE(::ioctl(board.masterHandle(), TIOCPKT, &packetMode) == 0);

        std::optional<WithoutSysAdmin> ordinaryUser;
        if (!row.asRoot && !std::string_view(row.mode).ends_with("flock")) {
            ordinaryUser.emplace();
            if (!ordinaryUser->works()) {
                MESSAGE("skipped '", row.name,
                    "': this process has CAP_SYS_ADMIN and may not give "
                    "it up, so TIOCEXCL does not stop it");
                continue;
            }
        }
        SerialPortLine line = PosixLine(PortsAre({board.devicePath()}));
        const std::string message = PressOnPort1(line);
        ordinaryUser.reset();

        CHECK(message == InUseMessage(board.devicePath(), holder.pid()));
        CHECK(!line.IsOpen());
        CHECK(HexText(NextPacket(board)) == HexText(Bytes {TIOCPKT_DATA, 'H', 'E', 'L', 'D'}));
        CHECK(SameSettings(board.settings(), before));
        CHECK(ExclusiveClaim(board) == claimedBefore);
        CHECK(holder.Running());
    }
}

// Terminal programs announce that they hold a port with a lock file, and do not all claim the
// port itself; the lock file must be honoured, and left exactly as it was.
TEST_CASE("a lock file of another program")
{
    struct Row
    {
        std::string name;
        const char *form;
        bool holderRunning;
        bool throughLink; // the port's path is a link; the lock names the node
    };
    const Row rows[] {
        {"ASCII pid with leading blanks, live: in use", "ascii", true, false},
        {"Qt's pid, name and host lines, live: in use", "qt", true, false},
        {"binary pid, live: in use", "binary", true, false},
        {"ASCII pid of a process that has ended: sent", "ascii", false, false},
        {"binary pid of a process that has ended: sent", "binary", false, false},
        {"port is a link, the node's lock is live: in use", "ascii", true, true},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        PseudoTerminal board;
        auto holder = std::make_unique<PortUser>(std::vector<std::string> {"wait"});
        REQUIRE(holder->WaitUntilHolding());
        const pid_t pid = holder->pid();
        if (!row.holderRunning)
            holder.reset();

        TemporaryFolder lockFolder;
        std::string lockName = "LCK.." + board.devicePath().substr(std::string("/dev/").size());
        std::replace(lockName.begin(), lockName.end(), '/', '_');
        const std::filesystem::path lockFile = lockFolder.path() / lockName;
        std::ofstream(lockFile, std::ios::binary) << LockFileText(row.form, pid);
        const auto modified = std::filesystem::last_write_time(lockFile);

        TemporaryFolder links;
        const std::string port
            = row.throughLink ? (links.path() / "serial-link").string() : board.devicePath();
        if (row.throughLink)
            REQUIRE(::symlink(board.devicePath().c_str(), port.c_str()) == 0);
        LineEnvironment environment;
        environment.sharing.lockDirectories = {lockFolder.path()};
        SerialPortLine line = PosixLine(PortsAre({port}), environment);
        const std::string message = PressOnPort1(line);

        if (row.holderRunning) {
            CHECK(message == InUseMessage(port, pid));
            CHECK(HexText(board.readAll(100ms)).empty());
        } else {
            CHECK(message == "sent");
            CHECK(HexText(board.read(2)) == "07 A0");
        }
        CHECK(FileText(lockFile) == LockFileText(row.form, pid));
        CHECK(std::filesystem::last_write_time(lockFile) == modified);
        CHECK(std::distance(std::filesystem::directory_iterator(lockFolder.path()), {}) == 1);
    }
}

// Each copy sends its own address, so a frame of one copy broken up by the other would show as
// a pair that is not (address, 0xF0).
TEST_CASE("two programs press at once")
{
    constexpr int pressesEach = 300;
    PseudoTerminal board;
    const std::string presses = std::to_string(pressesEach);
    PortUser first({"press", board.devicePath(), "10", presses});
    PortUser second({"press", board.devicePath(), "11", presses});

    Bytes received;
    const auto giveUp = std::chrono::steady_clock::now() + 60s;
    while ((first.Running() || second.Running()) && std::chrono::steady_clock::now() < giveUp) {
        const Bytes bytes = board.readAll(10ms);
        received.insert(received.end(), bytes.begin(), bytes.end());
        first.Read(0ms);
        second.Read(0ms);
    }
    REQUIRE_MESSAGE(!(first.Running() || second.Running()), "the presses took over a minute");
    const Bytes rest = board.readAll(100ms);
    received.insert(received.end(), rest.begin(), rest.end());

    REQUIRE(received.size() % 2 == 0);
    std::array<int, 2> framesFrom {};
    for (std::size_t i = 0; i < received.size(); i += 2) {
        INFO("bytes ", i, " and ", i + 1, " are ", +received[i], " ", +received[i + 1]);
        REQUIRE(((received[i] == 10 || received[i] == 11) && received[i + 1] == 0xF0));
        ++framesFrom[received[i] - 10];
    }

    int inUseSeen = 0;
    PortUser *const users[] = {&first, &second};
    for (int copy = 0; copy < 2; ++copy) {
        std::istringstream output(users[copy]->Output());
        int pressed = 0;
        int sent = 0;
        int inUse = 0;
        for (std::string result; std::getline(output, result); ++pressed) {
            sent += result == "sent";
            inUse += result.starts_with(InUseMessage(board.devicePath()));
        }
        CHECK(pressed == pressesEach);
        CHECK(sent == framesFrom[copy]);
        CHECK(inUse + sent == pressesEach);
        inUseSeen += inUse;
    }
    MESSAGE("frames received ", framesFrom[0], " + ", framesFrom[1],
        ", presses that found the port in use: ", inUseSeen);
}

// A terminal whose output is stopped (as by XOFF) takes no byte at all: after the time limit the
// frame is given up, so it cannot reach the board later, long after the user saw the failure.
TEST_CASE("output stopped by flow control is discarded")
{
    PseudoTerminal board;
    const int otherEnd = ::open(board.devicePath().c_str(), O_RDWR | O_NOCTTY);
    REQUIRE(otherEnd >= 0);
    REQUIRE(::tcflow(otherEnd, TCOOFF) == 0);
    ClockReadings clock;
    LineEnvironment environment;
    environment.clock.now = clock.function();
    SerialPortLine line = PosixLine(PortsAre({board.devicePath()}), environment);

    const std::string message = PressOnPort1(line);

    CHECK(::tcflow(otherEnd, TCOON) == 0);
    ::close(otherEnd);
    CHECK_MESSAGE(message.find("within 1 second") != std::string::npos, message);
    CHECK(clock.waited() >= 1s);
    CHECK(!line.IsOpen());
    CHECK(HexText(board.readAll(200ms)).empty());
}
