#include "action_fixtures.h"
#include "console_declared.h"
#include "output/set_outputs.h"
#include "pseudo_terminal.h"
#include "runtime/action_error.h"
#include "serial/posix_serial_line.h"

#include <array>
#include <cstring>
#include <fstream>
#include <map>

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <grp.h>
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

// The steady clock as the line sees it, moved on by the test: a deadline can then be checked
// exactly, whatever else the machine is doing.
class TestClock
{
public:
    std::function<PosixSerialLine::Clock::time_point()> function()
    {
        return [this] { return m_now += step; };
    }
    PosixSerialLine::Clock::time_point now() const { return m_now; }
    void advance(std::chrono::milliseconds by) { m_now += by; }

    static constexpr std::chrono::milliseconds step {10};

private:
    PosixSerialLine::Clock::time_point m_now = PosixSerialLine::Clock::now();
};

std::string FailureOf(const std::function<void()> &step)
{
    try {
        step();
    } catch (const ActionError &error) {
        return error.message();
    }
    return "no failure";
}

// Runs the step in a child process, for what must not touch this one (giving up root, a mount
// namespace of its own), and gives back the text the step gave.
std::string InChild(const std::function<std::string()> &step)
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

std::string OpenFailure(PosixSerialLine &line)
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

class TestPosixSerialLine : public QObject
{
    Q_OBJECT

private slots:
    void sendsTheFrameAndCloses();
    void twoPressesSendTwoFrames();
    void appliesLineSettings_data();
    void appliesLineSettings();
    void settingsHandedToTheDriver_data();
    void settingsHandedToTheDriver();
    void refusedSettingsLeaveThePortAsItWas_data();
    void refusedSettingsLeaveThePortAsItWas();
    void portIsGivenBackAsItWasFound_data();
    void portIsGivenBackAsItWasFound();
    void settingsWaitForTheNextOpen();
    void refusesPortNumbersBelowOne_data();
    void refusesPortNumbersBelowOne();
    void openFailures_data();
    void openFailures();
    void consoleIsNeverOpened_data();
    void consoleIsNeverOpened();
    void drainWaitsForTheTransmitter();
    void failedDrainDiscardsTheFrame_data();
    void failedDrainDiscardsTheFrame();
    void oneDeadlineFromTheWrite_data();
    void oneDeadlineFromTheWrite();
    void permissionDenied_data();
    void permissionDenied();
    void neverBecomesTheControllingTerminal();
    void oneDeviceIsNamedAlone_data();
    void oneDeviceIsNamedAlone();
    void holderThatLetsGoGetsItsOwnSettingsBack();
    void thousandActionsLeaveNoDescriptorOpen();
};

void TestPosixSerialLine::sendsTheFrameAndCloses()
{
    PseudoTerminal board;
    PosixSerialLine line(PortsAre({board.devicePath()}));
    EntriesWindow entries("1", "7", outputs1And3);

    PressSetOutputs(entries, line);

    QCOMPARE(entries.messages, QStringList());
    QCOMPARE(board.read(2), frame7A0);
    QVERIFY(!line.IsOpen());
    QCOMPARE(board.readAll(50ms), Bytes {});
}

void TestPosixSerialLine::twoPressesSendTwoFrames()
{
    PseudoTerminal board;
    PosixSerialLine line(PortsAre({"/dev/no-such-port", board.devicePath()}));
    EntriesWindow first("2", "7", outputs1And3);
    EntriesWindow second("2", "255", {1, 1, 1, 1});

    PressSetOutputs(first, line);
    PressSetOutputs(second, line);

    QCOMPARE(board.read(4), (Bytes {0x07, 0xA0, 0xFF, 0xF0}));
    QVERIFY(first.messages.isEmpty() && second.messages.isEmpty());
}

// What a pseudo-terminal can hold: any speed and stop bits, but only 8 data bits and no parity.
void TestPosixSerialLine::appliesLineSettings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<speed_t>("speed");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<bool>("flowControlLeftOn"); // by another program, before the press

    QTest::newRow("2400,N,8,1") << "2400,N,8,1" << speed_t {B2400} << false << false;
    QTest::newRow("9600,N,8,2") << "9600,N,8,2" << speed_t {B9600} << true << false;
    QTest::newRow("19200,N,8,1") << "19200,N,8,1" << speed_t {B19200} << false << false;
    // A board that does not drive CTS would never get the frame.
    QTest::newRow("2400,N,8,1 where RTS/CTS and XON/XOFF were left on")
        << "2400,N,8,1" << speed_t {B2400} << false << true;
}

void TestPosixSerialLine::appliesLineSettings()
{
    QFETCH(QString, settings);
    QFETCH(speed_t, speed);
    QFETCH(bool, twoStopBits);
    QFETCH(bool, flowControlLeftOn);

    PseudoTerminal board;
    PosixSerialLine line(PortsAre({board.devicePath()}));
    termios before = CookedAt9600(board.settings());
    if (flowControlLeftOn) {
        before.c_cflag |= CRTSCTS;
        before.c_iflag |= IXON | IXOFF | IXANY;
    }
    QVERIFY(board.setSettings(before));
    QCOMPARE(board.settings().c_cflag & CRTSCTS, before.c_cflag & CRTSCTS);
    line.SetPortNumber(1);
    line.SetSettings(settings.toStdString());
    line.Open();
    const termios applied = board.settings();
    line.Close();

    QCOMPARE(cfgetospeed(&applied), speed);
    QCOMPARE(cfgetispeed(&applied), speed);
    QCOMPARE(applied.c_cflag & CSIZE, tcflag_t {CS8});
    QCOMPARE(applied.c_cflag & PARENB, tcflag_t {0});
    QCOMPARE((applied.c_cflag & CSTOPB) != 0, twoStopBits);
    QCOMPARE(applied.c_cflag & CRTSCTS, tcflag_t {0});
    QCOMPARE(applied.c_cflag & (CLOCAL | CREAD), tcflag_t {CLOCAL | CREAD});
    QCOMPARE(applied.c_iflag & (IXON | IXOFF | IXANY), tcflag_t {0});
    QCOMPARE(applied.c_oflag & OPOST, tcflag_t {0}); // bytes leave as they are, 0x0A included
    QCOMPARE(applied.c_lflag & (ICANON | ECHO), tcflag_t {0});
}

// What a pseudo-terminal cannot hold is checked where the line hands it to the driver.
void TestPosixSerialLine::settingsHandedToTheDriver_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<speed_t>("speed");
    QTest::addColumn<tcflag_t>("framing");
    QTest::addColumn<bool>("holds"); // on a pseudo-terminal

    QTest::newRow("2400,N,8,1") << "2400,N,8,1" << speed_t {B2400} << tcflag_t {CS8} << true;
    QTest::newRow("9600,E,7,2: even parity")
        << "9600,E,7,2" << speed_t {B9600} << tcflag_t {CS7 | PARENB | CSTOPB} << false;
    QTest::newRow("300,O,6,1: odd parity")
        << "300,O,6,1" << speed_t {B300} << tcflag_t {CS6 | PARENB | PARODD} << false;
    QTest::newRow("1200,M,8,1: mark parity")
        << "1200,M,8,1" << speed_t {B1200} << tcflag_t {CS8 | PARENB | CMSPAR | PARODD} << false;
    QTest::newRow("4800,S,8,1: space parity")
        << "4800,S,8,1" << speed_t {B4800} << tcflag_t {CS8 | PARENB | CMSPAR} << false;
    QTest::newRow("110,N,5,1.5: 1.5 stop bits with 5 data bits")
        << "110,N,5,1.5" << speed_t {B110} << tcflag_t {CS5 | CSTOPB} << false;
}

void TestPosixSerialLine::settingsHandedToTheDriver()
{
    QFETCH(QString, settings);
    QFETCH(speed_t, speed);
    QFETCH(tcflag_t, framing);
    QFETCH(bool, holds);
    const std::uint32_t baudRate = settings.section(',', 0, 0).toUInt();

    PseudoTerminal board;
    std::vector<TerminalSettings> handed;
    LineEnvironment environment;
    environment.driver.applySettings = [&](int handle, const TerminalSettings &settings) {
        handed.push_back(settings);
        return ApplyTerminalSettings(handle, settings);
    };
    PosixSerialLine line(PortsAre({board.devicePath()}), environment);
    line.SetSettings(settings.toStdString());
    const std::string failure = OpenFailure(line);

    QVERIFY(!handed.empty());
    const TerminalSettings &asked = handed.front();
    QCOMPARE(asked.c_cflag & CBAUD, speed);
    QCOMPARE(asked.c_cflag & CIBAUD, tcflag_t {0}); // the input at the output's speed
    QCOMPARE(asked.c_ospeed, baudRate);
    QCOMPARE(asked.c_ispeed, baudRate);
    QCOMPARE(asked.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), framing);
    QCOMPARE(asked.c_iflag & (IXON | IXOFF | IXANY), tcflag_t {0});
    // Refused by reading back: what the driver silently changed is not taken for what was asked.
    QCOMPARE(failure == "opened", holds);
    if (!holds)
        QVERIFY2(failure.find(") cannot be set to ") != std::string::npos, failure.c_str());
}

void TestPosixSerialLine::refusedSettingsLeaveThePortAsItWas_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("driver"); // how the driver answers TCSETS2
    QTest::addColumn<QString>("message");

    QTest::newRow("1.5 stop bits with 8 data bits")
        << "2400,N,8,1.5"
        << "applies"
        << "cannot be set to 2400 baud, 8 data bits, no parity, 1.5 stop bits: 1.5 stop bits "
           "exist only with 5 data bits.";
    QTest::newRow("a speed this system does not have")
        << "14400,N,8,1"
        << "applies"
        << "cannot be set to 14400 baud, 8 data bits, no parity, 1 stop bit: this system has no "
           "such speed.";
    QTest::newRow("the driver refuses")
        << "2400,N,8,1"
        << "refuses"
        << "cannot be set to 2400 baud, 8 data bits, no parity, 1 stop bit: Invalid argument.";
    QTest::newRow("the driver says yes and changes nothing")
        << "2400,N,8,1"
        << "ignores"
        << "cannot be set to 2400 baud, 8 data bits, no parity, 1 stop bit.";
}

void TestPosixSerialLine::refusedSettingsLeaveThePortAsItWas()
{
    QFETCH(QString, settings);
    QFETCH(QString, driver);
    QFETCH(QString, message);

    PseudoTerminal board;
    QVERIFY(board.setSettings(CookedAt9600(board.settings())));
    const termios before = board.settings();
    bool opened = false;
    LineEnvironment environment;
    environment.driver.applySettings = [&](int handle, const TerminalSettings &settings) {
        if (!opened) { // the first call configures; a later one gives the port back
            opened = true;
            if (driver == "refuses")
                return errno = EINVAL, -1;
            if (driver == "ignores")
                return 0;
        }
        return ApplyTerminalSettings(handle, settings);
    };
    PosixSerialLine line(PortsAre({board.devicePath()}), environment);
    line.SetSettings(settings.toStdString());

    const std::string failure = OpenFailure(line);
    QCOMPARE(QString::fromStdString(failure),
        QString::fromStdString("Port 1 (" + board.devicePath() + ") ") + message);
    QVERIFY(SameSettings(board.settings(), before));
    QCOMPARE(board.readAll(50ms), Bytes {});
}

void TestPosixSerialLine::portIsGivenBackAsItWasFound_data()
{
    QTest::addColumn<std::uint32_t>("otherSpeed"); // 0: cooked at 9600, as after boot
    QTest::addColumn<bool>("inputAt1200"); // the input's own speed, in CIBAUD

    QTest::newRow("cooked at 9600") << std::uint32_t {0} << false;
    QTest::newRow("cooked, output at 9600, input at 1200") << std::uint32_t {0} << true;
    // Left so by other programs; <termios.h> has no constant for either.
    QTest::newRow("250000 baud, as 3D printer hosts use") << std::uint32_t {250000} << false;
    QTest::newRow("31250 baud, MIDI's speed") << std::uint32_t {31250} << false;
}

void TestPosixSerialLine::portIsGivenBackAsItWasFound()
{
    QFETCH(std::uint32_t, otherSpeed);
    QFETCH(bool, inputAt1200);
    PseudoTerminal board;
    QVERIFY(board.setSettings(CookedAt9600(board.settings())));
    TerminalSettings before;
    QVERIFY(ReadTerminalSettings(board.slaveHandle(), before) == 0);
    if (otherSpeed != 0) {
        before.c_cflag = (before.c_cflag & ~(CBAUD | CIBAUD)) | CBAUDEX; // the kernel's BOTHER
        before.c_ispeed = otherSpeed;
        before.c_ospeed = otherSpeed;
    }
    if (inputAt1200)
        before.c_cflag = (before.c_cflag & ~CIBAUD) | (B1200 << 16);
    QVERIFY(ApplyTerminalSettings(board.slaveHandle(), before) == 0);
    QVERIFY(ReadTerminalSettings(board.slaveHandle(), before) == 0);
    if (otherSpeed != 0)
        QCOMPARE(before.c_ospeed, otherSpeed);
    if (inputAt1200)
        QCOMPARE(before.c_ispeed, std::uint32_t {1200});
    PosixSerialLine line(PortsAre({board.devicePath()}));
    line.SetSettings("2400,N,8,1");
    line.Open();
    TerminalSettings during;
    QVERIFY(ReadTerminalSettings(board.slaveHandle(), during) == 0);
    QCOMPARE(during.c_ospeed, std::uint32_t {2400});
    QCOMPARE(during.c_ispeed, std::uint32_t {2400});
    int exclusive = 0;
    QVERIFY(::ioctl(board.slaveHandle(), TIOCGEXCL, &exclusive) == 0);
    QCOMPARE(exclusive, 1);
    line.Write(frame7A0);
    line.Close();

    TerminalSettings after;
    QVERIFY(ReadTerminalSettings(board.slaveHandle(), after) == 0);
    QCOMPARE(after.c_ospeed, before.c_ospeed);
    QCOMPARE(after.c_ispeed, before.c_ispeed);
    QVERIFY(after == before);
    QVERIFY(::ioctl(board.slaveHandle(), TIOCGEXCL, &exclusive) == 0);
    QCOMPARE(exclusive, 0);
    QCOMPARE(board.read(2), frame7A0);
}

void TestPosixSerialLine::settingsWaitForTheNextOpen()
{
    PseudoTerminal board;
    PosixSerialLine line(PortsAre({board.devicePath()}));
    const termios before = board.settings();
    line.SetPortNumber(1);
    line.SetSettings("300,N,8,1");
    const termios after = board.settings();
    QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
    QCOMPARE(after.c_cflag, before.c_cflag);
    QVERIFY(!line.IsOpen());
}

void TestPosixSerialLine::refusesPortNumbersBelowOne_data()
{
    QTest::addColumn<int>("number");
    QTest::newRow("0") << 0;
    QTest::newRow("-1") << -1;
    QTest::newRow("-32768") << -32768;
}

void TestPosixSerialLine::refusesPortNumbersBelowOne()
{
    QFETCH(int, number);
    PosixSerialLine line(PortsAre({}));
    QVERIFY_THROWS_EXCEPTION(ActionError, line.SetPortNumber(static_cast<std::int16_t>(number)));
    QVERIFY(!line.IsOpen());
}

void TestPosixSerialLine::openFailures_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<int>("portNumber");
    QTest::addColumn<QString>("message");

    QTest::newRow("beyond the list: what exists is shown")
        << QStringList {"/dev/ttyS9", "/dev/ttyUSB0"} << 3
        << "Port 3 does not exist. This system has 2 serial ports: 1 = /dev/ttyS9, 2 = "
           "/dev/ttyUSB0";
    QTest::newRow("one port: singular") << QStringList {"/dev/ttyUSB0"} << 2
                                        << "Port 2 does not exist. This system has 1 serial "
                                           "port: 1 = /dev/ttyUSB0";
    QTest::newRow("no port at all: says so and mentions permissions")
        << QStringList {} << 1
        << "Port 1 does not exist. This system has no serial port that this user may see";
    QTest::newRow("device gone since it was listed")
        << QStringList {"/dev/ttyUSB-unplugged"} << 1
        << "Port 1 (/dev/ttyUSB-unplugged) does not exist or was disconnected.";
    QTest::newRow("a directory is not a serial device")
        << QStringList {"/dev"} << 1 << "Port 1 (/dev) is not a serial device.";
    QTest::newRow("a character device that is no terminal")
        << QStringList {"/dev/null"} << 1 << "Port 1 (/dev/null) is not a serial device.";
}

void TestPosixSerialLine::openFailures()
{
    QFETCH(QStringList, devices);
    QFETCH(int, portNumber);
    QFETCH(QString, message);

    std::vector<std::string> paths;
    for (const QString &device : devices)
        paths.push_back(device.toStdString());
    PosixSerialLine line(PortsAre(paths));
    line.SetPortNumber(static_cast<std::int16_t>(portNumber));
    const QString failure = QString::fromStdString(OpenFailure(line));
    QVERIFY2(failure.startsWith(message), qPrintable(failure));
}

// Port 1 is the console, a link to it, or a path with another terminal bound over it (and the
// other way round); a bind mount is made in a child of its own mount namespace.
void TestPosixSerialLine::consoleIsNeverOpened_data()
{
    QTest::addColumn<QString>("port"); // console, link, other
    QTest::addColumn<QString>("boundOver"); // what is bound over the port's path, if anything
    QTest::addColumn<bool>("refused");

    QTest::newRow("the console: refused") << "console"
                                          << "" << true;
    QTest::newRow("a link to the console: refused") << "link"
                                                    << "" << true;
    QTest::newRow("the console bound over another terminal's path: refused") << "other"
                                                                             << "console" << true;
    QTest::newRow("another terminal bound over the console's path: sent to that terminal")
        << "console"
        << "other" << false;
}

void TestPosixSerialLine::consoleIsNeverOpened()
{
    QFETCH(QString, port);
    QFETCH(QString, boundOver);
    QFETCH(bool, refused);

    PseudoTerminal console;
    PseudoTerminal other;
    const ConsoleDeclared sysfs(console.devicePath());
    const std::string link = sysfs.path() / "serial-link";
    QVERIFY(::symlink(console.devicePath().c_str(), link.c_str()) == 0);
    const std::map<QString, std::string> paths {
        {"console", console.devicePath()}, {"link", link}, {"other", other.devicePath()}};
    QVERIFY(console.setSettings(CookedAt9600(console.settings())));
    const termios consoleBefore = console.settings();
    // Opening a real console's port would already raise its modem lines.
    const int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(opens >= 0);
    QVERIFY(::inotify_add_watch(opens, console.devicePath().c_str(), IN_OPEN) >= 0);

    const std::string portPath = paths.at(port);
    const auto press = [&] {
        LineEnvironment environment;
        environment.sysClassTty = sysfs.path();
        PosixSerialLine line(PortsAre({portPath}), environment);
        EntriesWindow entries("1", "7", outputs1And3);
        PressSetOutputs(entries, line);
        return entries.messages.join('\n').toStdString();
    };
    const std::string message = boundOver.isEmpty() ? press() : InChild([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0
            || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount(paths.at(boundOver).c_str(), portPath.c_str(), nullptr, MS_BIND, nullptr)
                != 0)
            return "cannot bind: " + std::string(std::strerror(errno));
        return press();
    });
    if (message.starts_with("cannot bind"))
        QSKIP(message.c_str());

    if (refused) {
        QCOMPARE(QString::fromStdString(message),
            QString::fromStdString("Port 1 (" + portPath + ") is this system's console."));
        QCOMPARE(other.readAll(50ms), Bytes {});
    } else {
        QCOMPARE(QString::fromStdString(message), QString());
        QCOMPARE(other.read(2), frame7A0);
    }
    QCOMPARE(console.readAll(50ms), Bytes {});
    QVERIFY(SameSettings(console.settings(), consoleBefore));
    inotify_event event {};
    QCOMPARE(::read(opens, &event, sizeof event), ssize_t {-1});
    ::close(opens);
}

// A pseudo-terminal has no output queue, so the driver's side of the drain is recorded here.
void TestPosixSerialLine::drainWaitsForTheTransmitter()
{
    PseudoTerminal board;
    std::vector<std::string> calls;
    int queued = 2;
    LineEnvironment environment;
    environment.driver.applySettings = [&](int handle, const TerminalSettings &settings) {
        calls.push_back("settings");
        return ApplyTerminalSettings(handle, settings);
    };
    environment.driver.pendingOutput = [&](int) {
        calls.push_back("queued " + std::to_string(queued));
        return queued > 0 ? queued-- : 0;
    };
    environment.driver.drain = [&](int handle) {
        calls.push_back("drain");
        return ::tcdrain(handle);
    };
    PosixSerialLine line(PortsAre({board.devicePath()}), environment);
    EntriesWindow entries("1", "7", outputs1And3);
    PressSetOutputs(entries, line);

    QCOMPARE(entries.messages, QStringList {});
    // Configured, the queue watched until empty, the transmitter drained, then given back.
    QCOMPARE(calls,
        (std::vector<std::string> {
            "settings", "queued 2", "queued 1", "queued 0", "drain", "settings"}));
    QCOMPARE(board.read(2), frame7A0);
}

// A pseudo-terminal passes bytes on at once, so what the line discards is recorded at the driver.
void TestPosixSerialLine::failedDrainDiscardsTheFrame_data()
{
    QTest::addColumn<int>("queued"); // what TIOCOUTQ reports; -1 for EIO
    QTest::addColumn<int>("drained"); // what tcdrain returns; -1 for EIO
    QTest::addColumn<QString>("message");

    QTest::newRow("the queue never empties: discarded after 1 second")
        << 2 << 0 << "did not send the frame within 1 second, so it was discarded.";
    QTest::newRow("the queue cannot be read: disconnected")
        << -1 << 0
        << "was disconnected after the frame was handed over; it may not have been sent "
           "completely.";
    QTest::newRow("the transmitter fails to drain: disconnected")
        << 0 << -1
        << "was disconnected after the frame was handed over; it may not have been sent "
           "completely.";
}

void TestPosixSerialLine::failedDrainDiscardsTheFrame()
{
    QFETCH(int, queued);
    QFETCH(int, drained);
    QFETCH(QString, message);

    PseudoTerminal board;
    QVERIFY(board.setSettings(CookedAt9600(board.settings())));
    const termios before = board.settings();
    std::vector<std::string> calls;
    LineEnvironment environment;
    environment.driver.pendingOutput = [&](int) { return queued < 0 ? errno = EIO, -1 : queued; };
    environment.driver.drain = [&](int) { return drained < 0 ? errno = EIO, -1 : drained; };
    environment.driver.applySettings = [&](int handle, const TerminalSettings &settings) {
        calls.push_back("settings");
        return ApplyTerminalSettings(handle, settings);
    };
    environment.driver.discardOutput = [&](int handle) {
        calls.push_back("discard");
        return ::tcflush(handle, TCOFLUSH);
    };
    PosixSerialLine line(PortsAre({board.devicePath()}), environment);
    EntriesWindow entries("1", "7", outputs1And3);
    PressSetOutputs(entries, line);

    QCOMPARE(entries.messages,
        QStringList {QString::fromStdString("Port 1 (" + board.devicePath() + ") ") + message});
    QVERIFY(!line.IsOpen());
    // Discarded before the port is given back, so nothing of it goes out at the old settings.
    QCOMPARE(calls, (std::vector<std::string> {"settings", "discard", "settings"}));
    QVERIFY(SameSettings(board.settings(), before));
}

// However long the write took, the drain has only what is left of the one second.
void TestPosixSerialLine::oneDeadlineFromTheWrite_data()
{
    QTest::addColumn<int>("openToWriteMs");
    QTest::addColumn<int>("writeToCloseMs");
    QTest::newRow("closed at once") << 0 << 0;
    QTest::newRow("closed 900 ms after the write") << 0 << 900;
    QTest::newRow("closed after the deadline") << 0 << 1500;
    // Only the write starts the second: a slow step before it takes nothing from it.
    QTest::newRow("written 900 ms after the open, closed at once") << 900 << 0;
}

void TestPosixSerialLine::oneDeadlineFromTheWrite()
{
    QFETCH(int, openToWriteMs);
    QFETCH(int, writeToCloseMs);
    PseudoTerminal board;
    TestClock clock;
    LineEnvironment environment;
    environment.now = clock.function();
    environment.driver.pendingOutput = [](int) { return 2; };
    PosixSerialLine line(PortsAre({board.devicePath()}), environment);
    line.Open();
    clock.advance(std::chrono::milliseconds(openToWriteMs));
    line.Write(frame7A0);
    const auto deadline = clock.now() + 1s;
    clock.advance(std::chrono::milliseconds(writeToCloseMs));
    const auto closedAt = clock.now();

    const std::string failure = FailureOf([&] { line.Close(); });
    QVERIFY2(failure.find("within 1 second") != std::string::npos, failure.c_str());
    QVERIFY(!line.IsOpen());
    // Given up at the deadline, or at once when the close came after it; not a second later.
    QVERIFY(clock.now() >= deadline);
    QVERIFY(clock.now() <= std::max(deadline, closedAt) + 2 * TestClock::step);
}

// Root may open any device, so the refusal is seen from a child that has given up root. Joining a
// group is advised only where one meant for serial ports may use the device.
void TestPosixSerialLine::permissionDenied_data()
{
    QTest::addColumn<uid_t>("owner");
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("whoMay");
    QTest::addColumn<QString>("groupToJoin");

    QTest::newRow("the serial ports' group may: join it")
        << uid_t {0} << "dialout" << 0660 << "Only root and the group dialout may use it."
        << "dialout";
    QTest::newRow("the group root may: no group to join")
        << uid_t {0} << "root" << 0660 << "Only root and the group root may use it."
        << "";
    QTest::newRow("a terminal's group tty may only write: root alone")
        << uid_t {0} << "tty" << 0620 << "Only root may use it."
        << "";
    QTest::newRow("the serial ports' group may not: joining would not help")
        << uid_t {0} << "dialout" << 0600 << "Only root may use it."
        << "";
    QTest::newRow("another user owns it")
        << uid_t {1} << "uucp" << 0600 << "Only root and the user USER may use it."
        << "";
}

void TestPosixSerialLine::permissionDenied()
{
    QFETCH(uid_t, owner);
    QFETCH(QString, group);
    QFETCH(int, mode);
    QFETCH(QString, whoMay);
    QFETCH(QString, groupToJoin);
    if (::geteuid() != 0)
        QSKIP("needs root to start a child as another user");
    const struct group *entry = ::getgrnam(group.toStdString().c_str());
    const passwd *user = ::getpwuid(owner);
    if (!entry || !user)
        QSKIP("this system has no such user or group");
    whoMay.replace("USER", user->pw_name);
    PseudoTerminal board;
    QVERIFY(::chown(board.devicePath().c_str(), owner, entry->gr_gid) == 0);
    QVERIFY(::chmod(board.devicePath().c_str(), static_cast<mode_t>(mode)) == 0);

    const std::string result = InChild([&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            return std::string("still root");
        PosixSerialLine line(PortsAre({board.devicePath()}));
        try {
            line.Open();
        } catch (const ActionError &error) {
            const bool denied = error.reason() == FailureReason::PermissionDenied;
            return error.message() + "|" + (denied ? error.group() : "another reason");
        }
        return std::string("opened");
    });

    QCOMPARE(QString::fromStdString(result),
        QString::fromStdString(
            "Port 1 (" + board.devicePath() + ") cannot be used: permission denied. ")
            + whoMay + "|" + groupToJoin);
}

// A service, or anything started with setsid, has no controlling terminal; the first terminal such
// a session leader opens becomes its own, with hang-ups and signals from the port, unless the open
// says otherwise.
void TestPosixSerialLine::neverBecomesTheControllingTerminal()
{
    PseudoTerminal board;
    const std::string outcome = InChild([&] {
        if (::setsid() < 0)
            return std::string("cannot start a session");
        PosixSerialLine line(PortsAre({board.devicePath()}));
        line.Open();
        line.Write(frame7A0);
        line.Close();
        const int controlling = ::open("/dev/tty", O_RDWR | O_NOCTTY);
        if (controlling < 0)
            return std::string("no controlling terminal");
        ::close(controlling);
        return std::string("the port became the controlling terminal");
    });
    QCOMPARE(QString::fromStdString(outcome), QString("no controlling terminal"));
    QCOMPARE(board.read(2), frame7A0);
}

// A device given by a name that outlives re-enumeration is opened whatever the port number, with
// every check, and named alone: it has no number in the port list.
void TestPosixSerialLine::oneDeviceIsNamedAlone_data()
{
    QTest::addColumn<QString>("device"); // "link": a link to the terminal, as /dev/serial/by-id is
    QTest::addColumn<bool>("heldByAnother");
    QTest::addColumn<QString>("outcome"); // after the device's name

    QTest::newRow("a link to a terminal: opened") << "link" << false << "opened";
    QTest::newRow("held with a flock: in use, named alone") << "link" << true << " is in use by ";
    QTest::newRow("a path that does not exist: named alone")
        << "/dev/serial/by-id/no-such-adapter" << false << " does not exist or was disconnected.";
}

void TestPosixSerialLine::oneDeviceIsNamedAlone()
{
    QFETCH(QString, device);
    QFETCH(bool, heldByAnother);
    QFETCH(QString, outcome);
    PseudoTerminal board;
    QTemporaryDir links;
    std::string path = device.toStdString();
    if (device == "link") {
        path = links.filePath("usb-adapter-if00-port0").toStdString();
        QVERIFY(::symlink(board.devicePath().c_str(), path.c_str()) == 0);
    }
    const int holder = heldByAnother ? ::open(board.devicePath().c_str(), O_RDWR | O_NOCTTY) : -1;
    if (heldByAnother)
        QVERIFY(::flock(holder, LOCK_EX) == 0);

    PosixSerialLine line(OneDevice {path});
    line.SetPortNumber(5);
    const std::string result = OpenFailure(line);
    if (holder >= 0)
        ::close(holder);

    if (outcome == "opened")
        QCOMPARE(QString::fromStdString(result), outcome);
    else
        QVERIFY2(result.starts_with(path + outcome.toStdString()), result.c_str());
}

// Another program held the port with settings of its own and, just as the press began, put the
// port's own settings back and let go. Whatever the press found, the port must end with those.
void TestPosixSerialLine::holderThatLetsGoGetsItsOwnSettingsBack()
{
    PseudoTerminal board;
    QVERIFY(board.setSettings(CookedAt9600(board.settings())));
    const termios own = board.settings();
    int holder = ::open(board.devicePath().c_str(), O_RDWR | O_NOCTTY);
    QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX) == 0);
    termios holders = own;
    ::cfmakeraw(&holders);
    ::cfsetspeed(&holders, B115200);
    QVERIFY(::tcsetattr(holder, TCSANOW, &holders) == 0);
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
    PosixSerialLine line(PortsAre({board.devicePath()}), environment);
    EntriesWindow entries("1", "7", outputs1And3);
    PressSetOutputs(entries, line);
    letGo();

    QVERIFY(!line.IsOpen());
    QVERIFY(SameSettings(board.settings(), own));
}

void TestPosixSerialLine::thousandActionsLeaveNoDescriptorOpen()
{
    PseudoTerminal board;
    PosixSerialLine line(PortsAre({board.devicePath()}));
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
        if (!fails) {
            QCOMPARE(entries.messages.size(), 0);
            QCOMPARE(board.read(2), frame7A0);
        } else {
            QCOMPARE(entries.messages.size(), 1);
        }
    }
    QCOMPARE(OpenFileDescriptorCount(), before);
    QVERIFY(!line.IsOpen());
}

QTEST_GUILESS_MAIN(TestPosixSerialLine)
#include "tst_posix_serial_line.moc"
