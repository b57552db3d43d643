#include "action_fixtures.h"
#include "output/set_outputs.h"
#include "pseudo_terminal.h"
#include "runtime/action_error.h"
#include "serial/qt_serial_line.h"

#include <array>

#include <QSerialPort>
#include <QTemporaryFile>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ostrim;
using namespace std::chrono_literals;

namespace {

gid_t GroupOf(const std::string &path)
{
    struct stat info = {};
    ::stat(path.c_str(), &info);
    return info.st_gid;
}

const OutputStates outputs1And3 {1, 0, 1, 0};
const std::vector<std::uint8_t> frame7A0 {0x07, 0xA0};

std::string OpenFailure(QtSerialLine &line)
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

class TestQtSerialLine : public QObject
{
    Q_OBJECT

private slots:
    void sendsTheFrameAndCloses();
    void twoPressesSendTwoFrames();
    void appliesLineSettings_data();
    void appliesLineSettings();
    void settingsWaitForTheNextOpen();
    void refusesPortNumbersBelowOne_data();
    void refusesPortNumbersBelowOne();
    void openFailures_data();
    void openFailures();
    void portInUseByAnotherProgram();
    void permissionDeniedNamesTheGroup();
    void thousandActionsLeaveNoDescriptorOpen();
};

void TestQtSerialLine::sendsTheFrameAndCloses()
{
    PseudoTerminal board;
    QtSerialLine line(PortsAre({board.devicePath()}));
    EntriesWindow entries("1", "7", outputs1And3);

    SetOutputs(entries, line);

    QCOMPARE(entries.messages, QStringList());
    QCOMPARE(board.read(2), frame7A0);
    QVERIFY(!line.IsOpen());
    QCOMPARE(board.readAll(50ms), std::vector<std::uint8_t> {});
}

void TestQtSerialLine::twoPressesSendTwoFrames()
{
    PseudoTerminal board;
    QtSerialLine line(PortsAre({"/dev/no-such-port", board.devicePath()}));
    EntriesWindow first("2", "7", outputs1And3);
    EntriesWindow second("2", "255", {1, 1, 1, 1});

    SetOutputs(first, line);
    SetOutputs(second, line);

    QCOMPARE(board.read(4), (std::vector<std::uint8_t> {0x07, 0xA0, 0xFF, 0xF0}));
    QVERIFY(first.messages.isEmpty() && second.messages.isEmpty());
}

void TestQtSerialLine::appliesLineSettings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<speed_t>("speed");
    QTest::addColumn<bool>("twoStopBits");

    // A pseudo-terminal always reports 8 data bits and no parity, whatever was asked, so only
    // speed and stop bits tell one setting from another here.
    QTest::newRow("2400,N,8,1") << "2400,N,8,1" << speed_t {B2400} << false;
    QTest::newRow("9600,E,7,2") << "9600,E,7,2" << speed_t {B9600} << true;
    QTest::newRow("19200,O,5,1") << "19200,O,5,1" << speed_t {B19200} << false;
}

void TestQtSerialLine::appliesLineSettings()
{
    QFETCH(QString, settings);
    QFETCH(speed_t, speed);
    QFETCH(bool, twoStopBits);

    PseudoTerminal board;
    QtSerialLine line(PortsAre({board.devicePath()}));
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
    QCOMPARE(applied.c_iflag & (IXON | IXOFF), tcflag_t {0});
    QCOMPARE(applied.c_oflag & OPOST, tcflag_t {0}); // bytes leave as they are, 0x0A included
}

void TestQtSerialLine::settingsWaitForTheNextOpen()
{
    PseudoTerminal board;
    QtSerialLine line(PortsAre({board.devicePath()}));
    const termios before = board.settings();
    line.SetPortNumber(1);
    line.SetSettings("300,N,8,1");
    const termios after = board.settings();
    QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
    QCOMPARE(after.c_cflag, before.c_cflag);
    QVERIFY(!line.IsOpen());
}

void TestQtSerialLine::refusesPortNumbersBelowOne_data()
{
    QTest::addColumn<int>("number");
    QTest::newRow("0") << 0;
    QTest::newRow("-1") << -1;
    QTest::newRow("-32768") << -32768;
}

void TestQtSerialLine::refusesPortNumbersBelowOne()
{
    QFETCH(int, number);
    QtSerialLine line(PortsAre({}));
    QVERIFY_THROWS_EXCEPTION(ActionError, line.SetPortNumber(static_cast<std::int16_t>(number)));
    QVERIFY(!line.IsOpen());
}

void TestQtSerialLine::openFailures_data()
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

void TestQtSerialLine::openFailures()
{
    QFETCH(QStringList, devices);
    QFETCH(int, portNumber);
    QFETCH(QString, message);

    std::vector<std::string> paths;
    for (const QString &device : devices)
        paths.push_back(device.toStdString());
    QtSerialLine line(PortsAre(paths));
    line.SetPortNumber(static_cast<std::int16_t>(portNumber));
    const QString failure = QString::fromStdString(OpenFailure(line));
    QVERIFY2(failure.startsWith(message), qPrintable(failure));
}

void TestQtSerialLine::portInUseByAnotherProgram()
{
    PseudoTerminal board;
    QSerialPort holder(QString::fromStdString(board.devicePath()));
    QVERIFY(holder.open(QIODevice::ReadWrite));

    QtSerialLine line(PortsAre({board.devicePath()}));
    EntriesWindow entries("1", "7", outputs1And3);
    SetOutputs(entries, line);

    QCOMPARE(entries.messages,
        QStringList {QString::fromStdString(
            "Port 1 (" + board.devicePath() + ") is in use by another program.")});
    QVERIFY(!line.IsOpen());
    QVERIFY(holder.isOpen());
    QCOMPARE(board.readAll(50ms), std::vector<std::uint8_t> {});
}

// Root may open any device, so the refusal is seen from a child that has given up root.
void TestQtSerialLine::permissionDeniedNamesTheGroup()
{
    if (::geteuid() != 0)
        QSKIP("needs root to start a child as another user");
    PseudoTerminal board;
    QVERIFY(::chmod(board.devicePath().c_str(), 0600) == 0);

    int pipeEnds[2];
    QVERIFY(::pipe(pipeEnds) == 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        std::string message = "opened";
        if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
            QtSerialLine line(PortsAre({board.devicePath()}));
            message = OpenFailure(line);
        }
        [[maybe_unused]] const auto written = ::write(pipeEnds[1], message.data(), message.size());
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string message;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        message.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);

    const group *owner = ::getgrgid(GroupOf(board.devicePath()));
    QVERIFY(owner);
    const std::string expected = "Port 1 (" + board.devicePath()
        + ") cannot be used: permission denied. Join the group " + owner->gr_name;
    QVERIFY2(message.starts_with(expected), message.c_str());
}

void TestQtSerialLine::thousandActionsLeaveNoDescriptorOpen()
{
    PseudoTerminal board;
    QtSerialLine line(PortsAre({board.devicePath()}));
    const EntriesWindow valid("1", "7", outputs1And3);
    const EntriesWindow missingPort("2", "7", outputs1And3);
    const EntriesWindow badAddress("1", "12x", outputs1And3);

    const int before = OpenFileDescriptorCount();
    for (int press = 0; press < 1000; ++press) {
        const bool fails = press % 10 == 3 || press % 10 == 7;
        EntriesWindow entries = press % 10 == 3 ? missingPort
            : press % 10 == 7                   ? badAddress
                                                : valid;
        SetOutputs(entries, line);
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

QTEST_GUILESS_MAIN(TestQtSerialLine)
#include "tst_qt_serial_line.moc"
