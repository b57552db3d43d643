#include "action_fixtures.h"
#include "console_declared.h"
#include "in_child.h"
#include "output/set_outputs.h"
#include "pseudo_terminal.h"
#include "runtime/action_error.h"
#include "serial/posix/posix_line_backend.h"
#include "temporary_folder.h"

#include <array>
#include <cstring>
#include <fstream>
#include <map>

#include <doctest.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ostrim;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

const OutputStates outputs1And3 {1, 0, 1, 0};
const Bytes frame7A0 {0x07, 0xA0};

// The flushes the far end was told of since packet mode was turned on. A pseudo-terminal keeps
// the bytes its port side handed over whatever that side flushes, but in packet mode it tells the
// far end which queue was flushed: on a real port, flushing the output is what stops a frame that
// was given up from going out once the port can send again.
int FlushesTold(const PseudoTerminal &board)
{
    pollfd readable {board.masterHandle(), POLLIN, 0};
    std::uint8_t packet[64];
    if (::poll(&readable, 1, 2000) <= 0 || ::read(board.masterHandle(), packet, sizeof packet) <= 0)
        return 0;
    return packet[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE);
}

std::string OpenFailure(SerialPortLine &line)
{
    try {
        line.Open();
    } catch (const ActionError &error) {
        if (line.IsOpen())
            return "failed, yet the port is open";
        return error.message();
    }
    line.Close();
    return "opened";
}

} // namespace

// What a pseudo-terminal can hold: any speed and stop bits, but only 8 data bits and no parity.
TEST_CASE("The settings are applied raw, whatever another program left on")
{
    struct Row
    {
        std::string settings;
        speed_t speed;
        bool twoStopBits;
        bool flowControlLeftOn; // by another program, before the press
    };
    const Row rows[] {
        {"2400,N,8,1", B2400, false, false},
        {"9600,N,8,2", B9600, true, false},
        {"19200,N,8,1", B19200, false, false},
        // A board that does not drive CTS would never get the frame.
        {"2400,N,8,1", B2400, false, true},
    };
    for (const Row &row : rows) {
        INFO(row.settings << (row.flowControlLeftOn ? " where RTS/CTS and XON/XOFF were left on"
                                                    : ""));
        PseudoTerminal board;
        SerialPortLine line = PosixLine(PortsAre({board.devicePath()}));
        termios before = CookedAt9600(board.settings());
        if (row.flowControlLeftOn) {
            before.c_cflag |= CRTSCTS;
            before.c_iflag |= IXON | IXOFF | IXANY;
        }
        REQUIRE(board.setSettings(before));
        REQUIRE((board.settings().c_cflag & CRTSCTS) == (before.c_cflag & CRTSCTS));
        line.SetSettings(row.settings);
        line.Open();
        const termios applied = board.settings();
        line.Close();

        CHECK(cfgetospeed(&applied) == row.speed);
        CHECK(cfgetispeed(&applied) == row.speed);
        CHECK((applied.c_cflag & CSIZE) == tcflag_t {CS8});
        CHECK((applied.c_cflag & PARENB) == 0);
        CHECK(((applied.c_cflag & CSTOPB) != 0) == row.twoStopBits);
        CHECK((applied.c_cflag & CRTSCTS) == 0);
        CHECK((applied.c_cflag & (CLOCAL | CREAD)) == tcflag_t {CLOCAL | CREAD});
        CHECK((applied.c_iflag & (IXON | IXOFF | IXANY)) == 0);
        CHECK((applied.c_oflag & OPOST) == 0); // bytes leave as they are, 0x0A included
        CHECK((applied.c_lflag & (ICANON | ECHO)) == 0);
    }
}

// What a pseudo-terminal cannot hold is checked where the line hands it to the driver.
TEST_CASE("Every framing is handed to the driver, and refused when it does not hold")
{
    struct Row
    {
        std::string settings;
        speed_t speed;
        tcflag_t framing;
        bool holds; // on a pseudo-terminal
    };
    const Row rows[] {
        {"2400,N,8,1", B2400, CS8, true},
        {"9600,E,7,2", B9600, CS7 | PARENB | CSTOPB, false},
        {"300,O,6,1", B300, CS6 | PARENB | PARODD, false},
        {"1200,M,8,1", B1200, CS8 | PARENB | CMSPAR | PARODD, false},
        {"4800,S,8,1", B4800, CS8 | PARENB | CMSPAR, false},
        {"110,N,5,1.5", B110, CS5 | CSTOPB, false},
    };
    for (const Row &row : rows) {
        INFO(row.settings);
        const auto baudRate = static_cast<std::uint32_t>(std::stoul(row.settings));
        PseudoTerminal board;
        std::vector<TerminalSettings> handed;
        LineEnvironment environment;
        environment.driver.applySettings = [&](int handle, const TerminalSettings &settings) {
            handed.push_back(settings);
            return ApplyTerminalSettings(handle, settings);
        };
        SerialPortLine line = PosixLine(PortsAre({board.devicePath()}), environment);
        line.SetSettings(row.settings);
        const std::string failure = OpenFailure(line);

        REQUIRE_FALSE(handed.empty());
        const TerminalSettings &asked = handed.front();
        CHECK((asked.c_cflag & CBAUD) == row.speed);
        CHECK((asked.c_cflag & CIBAUD) == 0); // the input at the output's speed
        CHECK(asked.c_ospeed == baudRate);
        CHECK(asked.c_ispeed == baudRate);
        CHECK(
            (asked.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS)) == row.framing);
        CHECK((asked.c_iflag & (IXON | IXOFF | IXANY)) == 0);
        // Refused by reading back: what the driver silently changed is not taken for what was
        // asked.
        CHECK((failure == "opened") == row.holds);
        if (!row.holds)
            CHECK(failure.find(") cannot be set to ") != std::string::npos);
    }
}

TEST_CASE("Settings refused leave the port as it was")
{
    struct Row
    {
        std::string_view name;
        std::string settings;
        std::string driver; // how the driver answers TCSETS2
        std::string message;
    };
    const Row rows[] {
        {"1.5 stop bits with 8 data bits", "2400,N,8,1.5", "applies",
            "cannot be set to 2400 baud, 8 data bits, no parity, 1.5 stop bits: 1.5 stop bits "
            "exist only with 5 data bits."},
        {"a speed this system does not have", "14400,N,8,1", "applies",
            "cannot be set to 14400 baud, 8 data bits, no parity, 1 stop bit: this system has no "
            "such speed."},
        {"the driver refuses", "2400,N,8,1", "refuses",
            "cannot be set to 2400 baud, 8 data bits, no parity, 1 stop bit: Invalid argument."},
        {"the driver says yes and changes nothing", "2400,N,8,1", "ignores",
            "cannot be set to 2400 baud, 8 data bits, no parity, 1 stop bit."},
        // A pseudo-terminal takes the speed and leaves out the parity and the word size.
        {"the driver takes only part of them", "2400,E,7,1", "applies",
            "cannot be set to 2400 baud, 7 data bits, even parity, 1 stop bit."},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        PseudoTerminal board;
        REQUIRE(board.setSettings(CookedAt9600(board.settings())));
        const termios before = board.settings();
        bool opened = false;
        LineEnvironment environment;
        environment.driver.applySettings = [&](int handle, const TerminalSettings &settings) {
            if (!opened) { // the first call configures; a later one gives the port back
                opened = true;
                if (row.driver == "refuses")
                    return errno = EINVAL, -1;
                if (row.driver == "ignores")
                    return 0;
            }
            return ApplyTerminalSettings(handle, settings);
        };
        SerialPortLine line = PosixLine(PortsAre({board.devicePath()}), environment);
        line.SetSettings(row.settings);

        CHECK(OpenFailure(line) == "Port 1 (" + board.devicePath() + ") " + row.message);
        CHECK(SameSettings(board.settings(), before));
        CHECK(board.readAll(50ms) == Bytes {});
    }
}

TEST_CASE("The port is claimed while held, and given back exactly as it was found")
{
    struct Row
    {
        std::string_view name;
        std::uint32_t otherSpeed; // 0: cooked at 9600, as after boot
        bool inputAt1200; // the input's own speed, in CIBAUD
    };
    const Row rows[] {
        {"cooked at 9600", 0, false},
        {"cooked, output at 9600, input at 1200", 0, true},
        // Left so by other programs; <termios.h> has no constant for either.
        {"250000 baud, as 3D printer hosts use", 250000, false},
        {"31250 baud, MIDI's speed", 31250, false},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        PseudoTerminal board;
        REQUIRE(board.setSettings(CookedAt9600(board.settings())));
        TerminalSettings before;
        REQUIRE(ReadTerminalSettings(board.slaveHandle(), before) == 0);
        if (row.otherSpeed != 0) {
            before.c_cflag = (before.c_cflag & ~(CBAUD | CIBAUD)) | CBAUDEX; // the kernel's BOTHER
            before.c_ispeed = row.otherSpeed;
            before.c_ospeed = row.otherSpeed;
        }
        if (row.inputAt1200)
            before.c_cflag = (before.c_cflag & ~CIBAUD) | (B1200 << 16);
        REQUIRE(ApplyTerminalSettings(board.slaveHandle(), before) == 0);
        REQUIRE(ReadTerminalSettings(board.slaveHandle(), before) == 0);
        if (row.otherSpeed != 0)
            REQUIRE(before.c_ospeed == row.otherSpeed);
        if (row.inputAt1200)
            REQUIRE(before.c_ispeed == 1200);
        SerialPortLine line = PosixLine(PortsAre({board.devicePath()}));
        line.SetSettings("2400,N,8,1");
        line.Open();
        TerminalSettings during;
        REQUIRE(ReadTerminalSettings(board.slaveHandle(), during) == 0);
        CHECK(during.c_ospeed == 2400);
        CHECK(during.c_ispeed == 2400);
        int exclusive = 0;
        REQUIRE(::ioctl(board.slaveHandle(), TIOCGEXCL, &exclusive) == 0);
        CHECK(exclusive == 1);
        line.Write(frame7A0);
        line.Close();

        TerminalSettings after;
        REQUIRE(ReadTerminalSettings(board.slaveHandle(), after) == 0);
        CHECK(after.c_ospeed == before.c_ospeed);
        CHECK(after.c_ispeed == before.c_ispeed);
        CHECK(after == before);
        REQUIRE(::ioctl(board.slaveHandle(), TIOCGEXCL, &exclusive) == 0);
        CHECK(exclusive == 0);
        CHECK(board.read(2) == frame7A0);
    }
}

TEST_CASE("A port that cannot be opened says why, and what there is")
{
    struct Row
    {
        std::string_view name;
        std::vector<std::string> devices;
        std::int16_t portNumber;
        std::string message;
    };
    const Row rows[] {
        {"beyond the list: what exists is shown", {"/dev/ttyS9", "/dev/ttyUSB0"}, 3,
            "Port 3 does not exist. This system has 2 serial ports: 1 = /dev/ttyS9, 2 = "
            "/dev/ttyUSB0"},
        {"one port: singular", {"/dev/ttyUSB0"}, 2,
            "Port 2 does not exist. This system has 1 serial port: 1 = /dev/ttyUSB0"},
        {"no port at all: says so and mentions permissions", {}, 1,
            "Port 1 does not exist. This system has no serial port that this user may see"},
        {"device gone since it was listed", {"/dev/ttyUSB-unplugged"}, 1,
            "Port 1 (/dev/ttyUSB-unplugged) does not exist or was disconnected."},
        {"a directory is not a serial device", {"/dev"}, 1,
            "Port 1 (/dev) is not a serial device."},
        {"a character device that is no terminal", {"/dev/null"}, 1,
            "Port 1 (/dev/null) is not a serial device."},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        SerialPortLine line = PosixLine(PortsAre(row.devices));
        line.SetPortNumber(row.portNumber);
        const std::string failure = OpenFailure(line);
        CHECK_MESSAGE(failure.starts_with(row.message), failure);
    }
}

// Port 1 is the console, a link to it, or a path with another terminal bound over it (and the
// other way round); a bind mount is made in a child of its own mount namespace.
TEST_CASE("The console is never opened, however it is reached")
{
    struct Row
    {
        std::string_view name;
        std::string port; // console, link, other
        std::string boundOver; // what is bound over the port's path, if anything
        bool refused;
    };
    const Row rows[] {
        {"the console: refused", "console", "", true},
        {"a link to the console: refused", "link", "", true},
        {"the console bound over another terminal's path: refused", "other", "console", true},
        {"another terminal bound over the console's path: sent to that terminal", "console",
            "other", false},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        PseudoTerminal console;
        PseudoTerminal other;
        const ConsoleDeclared sysfs(console.devicePath());
        const std::string link = sysfs.path() / "serial-link";
        REQUIRE(::symlink(console.devicePath().c_str(), link.c_str()) == 0);
        const std::map<std::string, std::string> paths {
            {"console", console.devicePath()}, {"link", link}, {"other", other.devicePath()}};
        REQUIRE(console.setSettings(CookedAt9600(console.settings())));
        const termios consoleBefore = console.settings();
        // Opening a real console's port would already raise its modem lines.
        const int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        REQUIRE(opens >= 0);
        REQUIRE(::inotify_add_watch(opens, console.devicePath().c_str(), IN_OPEN) >= 0);

        const std::string portPath = paths.at(row.port);
        const auto press = [&] {
            LineEnvironment environment;
            environment.sysClassTty = sysfs.path();
            SerialPortLine line = PosixLine(PortsAre({portPath}), environment);
            EntriesWindow entries("1", "7", outputs1And3);
            PressSetOutputs(entries, line);
            return entries.messages.empty() ? std::string() : entries.messages.front();
        };
        const std::string message = row.boundOver.empty() ? press() : InChild([&]() -> std::string {
            if (::unshare(CLONE_NEWNS) != 0
                || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount(
                       paths.at(row.boundOver).c_str(), portPath.c_str(), nullptr, MS_BIND, nullptr)
                    != 0)
                return "cannot bind: " + std::string(std::strerror(errno));
            return press();
        });
        if (message.starts_with("cannot bind")) {
            ::close(opens);
            MESSAGE("skipped: " << message);
            continue;
        }
        if (row.refused) {
            CHECK(message == "Port 1 (" + portPath + ") is this system's console.");
            CHECK(other.readAll(50ms) == Bytes {});
        } else {
            CHECK(message == "");
            CHECK(other.read(2) == frame7A0);
        }
        CHECK(console.readAll(50ms) == Bytes {});
        CHECK(SameSettings(console.settings(), consoleBefore));
        inotify_event event {};
        CHECK(::read(opens, &event, sizeof event) == -1);
        ::close(opens);
    }
}

// A pseudo-terminal passes bytes on at once, so what the driver says of its queue is faked.
TEST_CASE("The driver's queue decides how a frame handed over ends")
{
    struct Row
    {
        std::string_view name;
        int queued; // what TIOCOUTQ reports; -1 for EIO
        int drained; // what tcdrain returns; -1 for EIO
        std::string message; // after the port's name
    };
    const std::string disconnected = "was disconnected after the frame was handed over; it may "
                                     "not have been sent completely.";
    const Row rows[] {
        {"the queue cannot be read", -1, 0, disconnected},
        {"the transmitter fails to drain", 0, -1, disconnected},
        {"bytes that never leave the queue: given up at the deadline", 2, 0,
            "did not send the frame within 1 second, so it was discarded."},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        PseudoTerminal board;
        REQUIRE(board.setSettings(CookedAt9600(board.settings())));
        const termios before = board.settings();
        LineEnvironment environment;
        environment.driver.pendingOutput
            = [&](int) { return row.queued < 0 ? errno = EIO, -1 : row.queued; };
        environment.driver.drain = [&](int) { return row.drained < 0 ? errno = EIO, -1 : 0; };
        int packetMode = 1;
        REQUIRE(::ioctl(board.masterHandle(), TIOCPKT, &packetMode) == 0);
        SerialPortLine line = PosixLine(PortsAre({board.devicePath()}), environment);
        EntriesWindow entries("1", "7", outputs1And3);
        PressSetOutputs(entries, line);
        CHECK(entries.messages
            == std::vector<std::string> {"Port 1 (" + board.devicePath() + ") " + row.message});
        CHECK(SameSettings(board.settings(), before));
        CHECK(FlushesTold(board) == TIOCPKT_FLUSHWRITE); // what did not leave, and only that
    }
}

// Root may open any device, so the refusal is seen from a child that has given up root. Joining a
// group is advised only where one meant for serial ports may use the device.
TEST_CASE("A device this user may not use says who may, and which group to join")
{
    if (::geteuid() != 0) {
        MESSAGE("skipped: needs root to start a child as another user");
        return;
    }
    struct Row
    {
        std::string_view name;
        uid_t owner;
        std::string group;
        mode_t mode;
        std::string whoMay;
        std::string groupToJoin;
    };
    const Row rows[] {
        {"the serial ports' group may: join it", 0, "dialout", 0660,
            "Only root and the group dialout may use it.", "dialout"},
        {"the group root may: no group to join", 0, "root", 0660,
            "Only root and the group root may use it.", ""},
        {"a terminal's group tty may only write: root alone", 0, "tty", 0620,
            "Only root may use it.", ""},
        {"the serial ports' group may not: joining would not help", 0, "dialout", 0600,
            "Only root may use it.", ""},
        {"another user owns it", 1, "uucp", 0600, "Only root and the user USER may use it.", ""},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const struct group *entry = ::getgrnam(row.group.c_str());
        const passwd *user = ::getpwuid(row.owner);
        if (!entry || !user) {
            MESSAGE("skipped: this system has no such user or group");
            continue;
        }
        std::string whoMay = row.whoMay;
        if (const std::size_t at = whoMay.find("USER"); at != std::string::npos)
            whoMay.replace(at, 4, user->pw_name);
        PseudoTerminal board;
        REQUIRE(::chown(board.devicePath().c_str(), row.owner, entry->gr_gid) == 0);
        REQUIRE(::chmod(board.devicePath().c_str(), row.mode) == 0);

        const std::string result = InChild([&] {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                return std::string("still root");
            SerialPortLine line = PosixLine(PortsAre({board.devicePath()}));
            try {
                line.Open();
            } catch (const ActionError &error) {
                const bool denied = error.reason() == FailureReason::PermissionDenied;
                return error.message() + "|" + (denied ? error.group() : "another reason");
            }
            return std::string("opened");
        });

        CHECK(result
            == "Port 1 (" + board.devicePath() + ") cannot be used: permission denied. " + whoMay
                + "|" + row.groupToJoin);
    }
}

// A service, or anything started with setsid, has no controlling terminal; the first terminal such
// a session leader opens becomes its own, with hang-ups and signals from the port, unless the open
// says otherwise.
TEST_CASE("The port never becomes the controlling terminal")
{
    PseudoTerminal board;
    const std::string outcome = InChild([&] {
        if (::setsid() < 0)
            return std::string("cannot start a session");
        SerialPortLine line = PosixLine(PortsAre({board.devicePath()}));
        line.Open();
        line.Write(frame7A0);
        line.Close();
        const int controlling = ::open("/dev/tty", O_RDWR | O_NOCTTY);
        if (controlling < 0)
            return std::string("no controlling terminal");
        ::close(controlling);
        return std::string("the port became the controlling terminal");
    });
    CHECK(outcome == "no controlling terminal");
    CHECK(board.read(2) == frame7A0);
}

// A device given by a name that outlives re-enumeration is opened whatever the port number, and
// named alone: it has no number in the port list.
TEST_CASE("One device is opened whatever the port number, and named alone")
{
    PseudoTerminal board;
    TemporaryFolder links;
    const std::string link = links.path() / "usb-adapter-if00-port0"; // as /dev/serial/by-id has
    REQUIRE(::symlink(board.devicePath().c_str(), link.c_str()) == 0);
    const std::string gone = "/dev/serial/by-id/no-such-adapter";
    for (const auto &[path, outcome] : {std::pair {link, std::string("opened")},
             {gone, gone + " does not exist or was disconnected."}}) {
        SerialPortLine line = PosixLine({}, {}, OneDevice {path});
        line.SetPortNumber(5);
        CHECK(OpenFailure(line) == outcome);
    }
}

// Another program held the port with settings of its own and, just as the press began, put the
// port's own settings back and let go. Whatever the press found, the port must end with those.
TEST_CASE("A holder that lets go gets its own settings back")
{
    PseudoTerminal board;
    REQUIRE(board.setSettings(CookedAt9600(board.settings())));
    const termios own = board.settings();
    int holder = ::open(board.devicePath().c_str(), O_RDWR | O_NOCTTY);
    REQUIRE((holder >= 0 && ::flock(holder, LOCK_EX) == 0));
    termios holders = own;
    ::cfmakeraw(&holders);
    ::cfsetspeed(&holders, B115200);
    REQUIRE(::tcsetattr(holder, TCSANOW, &holders) == 0);
    const auto letGo = [&] {
        if (holder < 0)
            return;
        ::tcsetattr(holder, TCSANOW, &own);
        ::close(holder); // and with it the flock
        holder = -1;
    };

    LineEnvironment environment;
    environment.driver.readSettings = [&](int handle, TerminalSettings &settings) {
        const int result = ReadTerminalSettings(handle, settings);
        letGo();
        return result;
    };
    SerialPortLine line = PosixLine(PortsAre({board.devicePath()}), environment);
    EntriesWindow entries("1", "7", outputs1And3);
    PressSetOutputs(entries, line);
    letGo();

    CHECK_FALSE(line.IsOpen());
    CHECK(SameSettings(board.settings(), own));
}

TEST_CASE("A thousand actions leave no descriptor open")
{
    PseudoTerminal board;
    SerialPortLine line = PosixLine(PortsAre({board.devicePath()}));
    const EntriesWindow valid("1", "7", outputs1And3);
    const EntriesWindow missingPort("2", "7", outputs1And3);
    const EntriesWindow badAddress("1", "12x", outputs1And3);

    const int before = OpenFileDescriptorCount();
    for (int press = 0; press < 1000; ++press) {
        const bool fails = press % 10 == 3 || press % 10 == 7;
        EntriesWindow entries = press % 10 == 3 ? missingPort
            : press % 10 == 7                   ? badAddress
                                                : valid;
        PressSetOutputs(entries, line);
        REQUIRE(entries.messages.size() == (fails ? 1 : 0));
        if (!fails)
            REQUIRE(board.read(2) == frame7A0);
    }
    CHECK(OpenFileDescriptorCount() == before);
    CHECK_FALSE(line.IsOpen());
    CHECK(board.readAll(50ms) == Bytes {});
}
