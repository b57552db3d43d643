#include "serial/posix/posix_line_backend.h"

#include "runtime/action_error.h"
#include "serial/line_backend.h"
#include "serial/port_details.h"
#include "serial/posix/console.h"
#include "serial/posix/tty_driver.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

constexpr std::array<std::pair<int, speed_t>, 18> speeds {
    {{50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
        {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
        {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}}};

std::optional<speed_t> SpeedOf(int baudRate)
{
    const auto found = std::ranges::find(speeds, baudRate, &std::pair<int, speed_t>::first);
    return found != speeds.end() ? std::optional(found->second) : std::nullopt;
}

// By data bits from 5, and in Parity's order.
constexpr std::array<tcflag_t, 4> wordSizes {CS5, CS6, CS7, CS8};
constexpr std::array<tcflag_t, 5> parityFlags {
    0, PARENB, PARENB | PARODD, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};

// The flags that decide what goes on the wire, for comparing what was asked with what holds.
constexpr tcflag_t framingFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t softwareFlowFlags = IXON | IXOFF | IXANY;

// Raw bytes at the given framing, with the modem lines and receiver as the kernel keeps them. The
// flags are those cfmakeraw clears and sets, which works on <termios.h>'s struct, not the kernel's.
// The speed was checked to be one SpeedOf knows before the port was opened.
TerminalSettings RawSettings(TerminalSettings settings, const LineSettings &line)
{
    settings.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    settings.c_iflag &= ~softwareFlowFlags;
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // Where a UART has 1.5 stop bits at all, it gives them for a two-stop-bit 5-bit word.
    const bool twoStopBits = line.stopBits != StopBits::One;
    settings.c_cflag &= ~(framingFlags | CBAUD | CIBAUD);
    settings.c_cflag |= wordSizes.at(static_cast<std::size_t>(line.dataBits - 5))
        | parityFlags.at(static_cast<std::size_t>(line.parity)) | (twoStopBits ? CSTOPB : 0)
        | CLOCAL | CREAD | SpeedOf(line.baudRate).value();
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    settings.c_ispeed = static_cast<std::uint32_t>(line.baudRate);
    settings.c_ospeed = static_cast<std::uint32_t>(line.baudRate);
    return settings;
}

// The speeds as the kernel reads them: the input speed is the output speed unless CIBAUD names one.
constexpr int inputSpeedShift = 16;
static_assert(CIBAUD == CBAUD << inputSpeedShift);

tcflag_t OutputSpeed(const TerminalSettings &settings)
{
    return settings.c_cflag & CBAUD;
}

tcflag_t InputSpeed(const TerminalSettings &settings)
{
    const tcflag_t input = (settings.c_cflag & CIBAUD) >> inputSpeedShift;
    return input != 0 ? input : OutputSpeed(settings);
}

bool Holds(const TerminalSettings &asked, const TerminalSettings &held)
{
    return OutputSpeed(asked) == OutputSpeed(held) && InputSpeed(asked) == InputSpeed(held)
        && (asked.c_cflag & framingFlags) == (held.c_cflag & framingFlags)
        && (asked.c_iflag & softwareFlowFlags) == (held.c_iflag & softwareFlowFlags)
        && (asked.c_oflag & OPOST) == (held.c_oflag & OPOST);
}

std::string UserName(uid_t user)
{
    const passwd *entry = ::getpwuid(user);
    return entry ? entry->pw_name : std::to_string(user);
}

std::string GroupName(gid_t group)
{
    const struct group *entry = ::getgrgid(group);
    return entry ? entry->gr_name : std::to_string(group);
}

bool ReadAndWrite(mode_t mode, mode_t read, mode_t write)
{
    return (mode & read) != 0 && (mode & write) != 0;
}

// The groups meant for serial ports: the only ones a user is told to join, since membership of
// any other (tty, disk, root...) gives far more than one port.
constexpr std::array<std::string_view, 2> serialPortGroups {"dialout", "uucp"};

// Who may use a device that this user may not, from its owner, group and mode: "Only root may use
// it" or "Only root and the group plugdev may use it".
std::string WhoMayUse(uid_t owner, gid_t group, mode_t mode)
{
    std::vector<std::string> who {"root"};
    if (owner != 0 && ReadAndWrite(mode, S_IRUSR, S_IWUSR))
        who.push_back("the user " + UserName(owner));
    if (ReadAndWrite(mode, S_IRGRP, S_IWGRP))
        who.push_back("the group " + GroupName(group));
    std::string text = "Only " + who.front();
    for (std::size_t i = 1; i < who.size(); ++i)
        text += (i + 1 == who.size() ? " and " : ", ") + who[i];
    return text + " may use it";
}

bool IsDisconnection(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

[[noreturn]] void Fail(const std::string &what, int number,
    FailureReason reason = FailureReason::Other, const std::string &group = {})
{
    throw LineFailure {what, number, reason, group};
}

[[noreturn]] void FailWith(const std::string &what, int error)
{
    Fail(what + ": " + std::strerror(error), error);
}

constexpr const char *disconnectedAfterHandover
    = "was disconnected after the frame was handed over; it may not have been sent completely";

std::string Refused(const LineSettings &settings)
{
    return "cannot be set to " + DescribeLineSettings(settings);
}

class PosixLineBackend final : public LineBackend
{
public:
    PosixLineBackend(PortList ports, LineEnvironment environment)
        : m_ports(std::move(ports))
        , m_environment(std::move(environment))
    {
        m_environment.sharing.lockDirectories
            = DistinctDirectories(m_environment.sharing.lockDirectories);
    }

    std::string Device(std::int16_t number, const std::optional<std::string> &named) override
    {
        if (named)
            return *named;
        const std::vector<std::string> ports = m_ports();
        if (static_cast<std::size_t>(number) > ports.size()) {
            throw LineFailure {"does not exist. "
                    + PortCountText(ListedPorts(m_consoles.Current()), noSerialPortText),
                ENODEV, FailureReason::Missing, {}, LineFailure::Named::Number};
        }
        return ports[static_cast<std::size_t>(number - 1)];
    }

    LineBudget Budget() const override { return LocalLineBudget; }

    // Never waits: the device is opened without waiting for its modem lines.
    void Open(const std::string &device, const LineSettings &settings, const Deadline &) override
    {
        m_device = device;
        CheckBeforeOpening(settings);
        m_handle = OpenDevice();
        CheckNotClaimedByAnother();
        Claim();
    }

    // What to give back is read only once the port is ours: a holder that let go a moment before
    // may have put its own settings back in the meantime.
    void Configure(const LineSettings &settings, const Deadline &) override
    {
        TerminalSettings saved;
        if (m_environment.driver.readSettings(m_handle, saved) != 0)
            FailWith("cannot be read", errno);
        m_saved = saved;
        const TerminalSettings asked = RawSettings(saved, settings);
        if (m_environment.driver.applySettings(m_handle, asked) != 0)
            FailWith(Refused(settings), errno);
        // TCSETS2 succeeds when the driver took any part of the settings; only reading them back
        // tells whether the board will be spoken to as asked.
        TerminalSettings held;
        if (m_environment.driver.readSettings(m_handle, held) != 0 || !Holds(asked, held))
            Fail(Refused(settings), EINVAL);
    }

    WriteOutcome Write(std::span<const std::uint8_t> bytes, const Deadline &deadline) override
    {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t written = ::write(m_handle, bytes.data() + sent, bytes.size() - sent);
            if (written > 0) {
                sent += static_cast<std::size_t>(written);
                continue;
            }
            const int error = written < 0 ? errno : EAGAIN;
            if (error == EINTR)
                continue;
            if (error == EAGAIN) {
                const auto left = deadline.Left();
                if (left <= 0ms)
                    return {sent, true};
                pollfd writable {m_handle, POLLOUT, 0};
                ::poll(&writable, 1, static_cast<int>(left.count()));
                continue;
            }
            if (IsDisconnection(error)) {
                Fail(sent == 0 ? "was disconnected before the frame was sent"
                               : "was disconnected while the frame was written; it may not have "
                                 "been sent completely",
                    error);
            }
            FailWith("could not be written", error);
        }
        return {sent, false};
    }

    std::optional<std::size_t> Queued() override
    {
        const int pending = m_environment.driver.pendingOutput(m_handle);
        if (pending < 0)
            Fail(disconnectedAfterHandover, errno);
        return static_cast<std::size_t>(pending);
    }

    // The queue is empty; this waits only for the last character to leave the transmitter.
    void Drain(std::size_t, const Deadline &) override
    {
        if (m_environment.driver.drain(m_handle) != 0)
            Fail(disconnectedAfterHandover, errno);
    }

    void Discard() override { m_environment.driver.discardOutput(m_handle); }

    // Gives the port back as it was found: its own settings, no exclusive claim, no lock.
    void GiveBackAndClose() override
    {
        if (m_saved)
            m_environment.driver.applySettings(m_handle, *m_saved);
        m_saved.reset();
        ::ioctl(m_handle, TIOCNXCL);
        ::close(m_handle); // also drops the flock
        m_handle = -1;
    }

private:
    // The node is judged by what it is just before the open. Only root could put the console in its
    // place within the microseconds to the open, and root can write to the console anyway.
    void CheckBeforeOpening(const LineSettings &settings)
    {
        struct stat status = {};
        const bool found = ::lstat(m_device.c_str(), &status) == 0;
        const bool isLink = found && S_ISLNK(status.st_mode);
        if (!found || (isLink && ::stat(m_device.c_str(), &status) != 0))
            Fail("does not exist or was disconnected", ENOENT, FailureReason::Missing);
        if (!S_ISCHR(status.st_mode) || !m_ttyDrivers.IsSerialPort(status.st_rdev))
            Fail("is not a serial device", ENOTTY);
        const std::vector<dev_t> &consoles = m_consoles.Current();
        if (std::ranges::find(consoles, status.st_rdev) != consoles.end()) {
            Fail("is this system's console", EPERM,
                NoUsablePort(ListedPorts(consoles)) ? FailureReason::OnlyConsoles
                                                    : FailureReason::Console);
        }
        if (const std::optional<int> holder
            = LockFileOwner(m_device, m_environment.sharing, isLink))
            FailInUse(holder);

        if (!SpeedOf(settings.baudRate))
            Fail(Refused(settings) + ": this system has no such speed", EINVAL);
        if (settings.stopBits == StopBits::OneAndHalf && settings.dataBits != 5)
            Fail(Refused(settings) + ": 1.5 stop bits exist only with 5 data bits", EINVAL);
    }

    std::vector<PortDetails> ListedPorts(const std::vector<dev_t> &consoles) const
    {
        return MatchPortDetails(m_ports ? m_ports() : std::vector<std::string> {}, {},
            [&](const std::string &device) { return IsConsole(device, consoles); });
    }

    int OpenDevice()
    {
        const int handle = ::open(m_device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (handle >= 0)
            return handle;
        const int error = errno;
        switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            Fail("does not exist or was disconnected", error, FailureReason::Missing);
        case EACCES:
        case EPERM:
            FailPermissionDenied(error);
        case EBUSY: // another program claimed the terminal with TIOCEXCL
            FailInUse(OpenerOf(m_device, m_environment.sharing));
        default:
            FailWith("cannot be opened", error);
        }
    }

    // The kernel lets root open a terminal that another program claimed with TIOCEXCL, but the
    // claim still says the port is taken. Asking is harmless to the holder, and tells a terminal
    // from any other device. A port found taken is closed untouched: its holder's output, settings
    // and claim stay exactly as they were.
    void CheckNotClaimedByAnother()
    {
        int claimed = 0;
        if (::ioctl(m_handle, TIOCGEXCL, &claimed) != 0)
            CloseUnclaimedAndFail("is not a serial device", ENOTTY);
        if (claimed != 0) {
            const std::optional<int> holder = OpenerOf(m_device, m_environment.sharing);
            CloseUnclaimed();
            FailInUse(holder);
        }
    }

    // The flock settles it between programs that open at the same moment, root ones included; only
    // its winner goes on to claim the terminal with TIOCEXCL, which keeps out later opens by
    // ordinary users. A loser leaves the terminal as it found it: it must not flush or unclaim the
    // winner's.
    void Claim()
    {
        if (::flock(m_handle, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error != EWOULDBLOCK)
                CloseUnclaimedAndFail(
                    std::string("cannot be claimed: ") + std::strerror(error), error);
            // The taker of a flock may have ended and left it to a child; the opener then tells
            // who.
            struct stat status = {};
            std::optional<int> holder;
            if (::fstat(m_handle, &status) == 0)
                holder = FlockOwner(status.st_dev, status.st_ino, m_environment.sharing);
            if (!holder)
                holder = OpenerOf(m_device, m_environment.sharing);
            CloseUnclaimed();
            FailInUse(holder);
        }
        // A claim that failed half-way leaves nothing of ours behind.
        if (::ioctl(m_handle, TIOCEXCL) != 0) {
            const int error = errno;
            Discard();
            GiveBackAndClose();
            FailWith("cannot be claimed", error);
        }
    }

    void CloseUnclaimed()
    {
        ::close(m_handle);
        m_handle = -1;
    }

    [[noreturn]] void CloseUnclaimedAndFail(const std::string &what, int number)
    {
        CloseUnclaimed();
        Fail(what, number);
    }

    [[noreturn]] void FailInUse(std::optional<int> holder) const
    {
        Fail("is " + InUseBy(holder, m_environment.sharing), EBUSY, FailureReason::InUse);
    }

    // Joining a group is advised only where it is one meant for serial ports and may use the
    // device.
    [[noreturn]] void FailPermissionDenied(int number) const
    {
        struct stat status = {};
        if (::stat(m_device.c_str(), &status) != 0)
            Fail("cannot be used: permission denied", number, FailureReason::PermissionDenied);
        const std::string group = GroupName(status.st_gid);
        const bool serialGroup = ReadAndWrite(status.st_mode, S_IRGRP, S_IWGRP)
            && std::ranges::find(serialPortGroups, group) != serialPortGroups.end();
        Fail("cannot be used: permission denied. "
                + WhoMayUse(status.st_uid, status.st_gid, status.st_mode),
            number, FailureReason::PermissionDenied, serialGroup ? group : std::string());
    }

    PortList m_ports;
    LineEnvironment m_environment;
    ConsoleWatch m_consoles {m_environment.sysClassTty};
    TtyDrivers m_ttyDrivers;
    std::string m_device;
    int m_handle = -1;
    std::optional<TerminalSettings> m_saved; // the port's own, given back when it is released
};

} // namespace

int SystemPendingOutput(int handle)
{
    int pending = 0;
    return ::ioctl(handle, TIOCOUTQ, &pending) == 0 ? pending : -1;
}

int SystemDrain(int handle)
{
    return ::tcdrain(handle);
}

int SystemDiscardOutput(int handle)
{
    return ::tcflush(handle, TCOFLUSH);
}

SerialPortLine PosixLine(
    PortList ports, LineEnvironment environment, std::optional<OneDevice> device)
{
    const LineClock clock = environment.clock;
    return SerialPortLine(std::make_unique<PosixLineBackend>(
                              device ? PortList {} : std::move(ports), std::move(environment)),
        std::move(device), clock);
}

} // namespace ostrim
