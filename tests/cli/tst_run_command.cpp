#include "action_fixtures.h"
#include "cli/run_command.h"
#include "ostrim_version.h"
#include "pseudo_terminal.h"

#include <sstream>

#include <QTest>

#include <sys/file.h>

using namespace ostrim;
using namespace std::chrono_literals;

namespace {

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome Run(const QStringList &arguments, const CommandSystem &system)
{
    std::ostringstream out;
    std::ostringstream err;
    Outcome outcome;
    outcome.exitCode
        = RunCommand(ParseCommandLine(QStringList {"ostrim"} + arguments), system, out, err);
    outcome.out = QString::fromStdString(out.str());
    outcome.err = QString::fromStdString(err.str());
    return outcome;
}

CommandSystem PortsOf(std::vector<std::string> devices)
{
    const PortList ports = PortsAre(std::move(devices));
    return {ports, DevicesOnly(ports)};
}

} // namespace

class TestRunCommand : public QObject
{
    Q_OBJECT

private slots:
    void sendsTheFrameAndSaysNothing();
    void verboseNamesFrameAndDevice();
    void messages_data();
    void messages();
    void usageErrorExitsTwo();
    void listPorts_data();
    void listPorts();
    void helpAndVersion();
    void unwritableOutputIsNoSuccess();
};

void TestRunCommand::sendsTheFrameAndSaysNothing()
{
    PseudoTerminal board;
    const Outcome outcome
        = Run({"--port", "1", "--address", "7", "--on", "1,3"}, PortsOf({board.devicePath()}));
    QCOMPARE(outcome.exitCode, ExitCode::Sent);
    QCOMPARE(board.read(2), (std::vector<std::uint8_t> {0x07, 0xA0}));
    QCOMPARE(outcome.out, QString());
    QCOMPARE(outcome.err, QString());
}

void TestRunCommand::verboseNamesFrameAndDevice()
{
    PseudoTerminal unused;
    PseudoTerminal board;
    const Outcome outcome = Run({"--port", "2", "--address", "255", "--on", "4", "--verbose"},
        PortsOf({unused.devicePath(), board.devicePath()}));
    QCOMPARE(outcome.exitCode, ExitCode::Sent);
    QCOMPARE(board.read(2), (std::vector<std::uint8_t> {0xFF, 0x10}));
    QCOMPARE(outcome.out,
        QString("Sent FF 10 to port 2 (%1)\n").arg(QString::fromStdString(board.devicePath())));
    QCOMPARE(outcome.err, QString());
}

void TestRunCommand::messages_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("held");
    QTest::addColumn<QString>("message");

    QTest::newRow("port 0") << "0"
                            << "7" << false << "ostrim: Invalid communications port\n";
    QTest::newRow("port text not a number")
        << "COM1"
        << "7" << false << "ostrim: Invalid communications port\n";
    QTest::newRow("address empty") << "1"
                                   << "" << false << "ostrim: Invalid board address\n";
    QTest::newRow("port 2 beyond a list of one")
        << "2"
        << "7" << false
        << "ostrim: Port 2 does not exist. This system has 1 serial port: 1 = DEVICE\n";
    QTest::newRow("address 300 beyond a byte")
        << "1"
        << "300" << false
        << "ostrim: Board address 300 is too large: the highest address is 255.\n";
    QTest::newRow("port held: the holder, and advice without a button")
        << "1"
        << "7" << true
        << "ostrim: Port 1 (DEVICE) is in use by another program. Close it and try again.\n";
}

// Each way the action ends with a message: the message on standard error, exit code 1, and
// nothing on the wire.
void TestRunCommand::messages()
{
    QFETCH(QString, port);
    QFETCH(QString, address);
    QFETCH(bool, held);
    QFETCH(QString, message);

    PseudoTerminal board;
    // Held as another program holds it; the flock is the test's own, on an open of its own.
    if (held)
        QVERIFY(::flock(board.slaveHandle(), LOCK_EX) == 0);
    const Outcome outcome
        = Run({"--port", port, "--address", address, "--on", "1"}, PortsOf({board.devicePath()}));
    QCOMPARE(outcome.exitCode, ExitCode::Message);
    QCOMPARE(outcome.err, message.replace("DEVICE", QString::fromStdString(board.devicePath())));
    QCOMPARE(outcome.out, QString());
    QVERIFY(board.readAll(100ms).empty());
}

void TestRunCommand::usageErrorExitsTwo()
{
    PseudoTerminal board;
    const Outcome outcome
        = Run({"--port", "1", "--address", "7", "--on", "5"}, PortsOf({board.devicePath()}));
    QCOMPARE(outcome.exitCode, ExitCode::Usage);
    QVERIFY2(outcome.err.startsWith("ostrim: --on "), qPrintable(outcome.err));
    QVERIFY(outcome.err.endsWith("Try 'ostrim --help' for more information.\n"));
    QCOMPARE(outcome.out, QString());
    QVERIFY(board.readAll(100ms).empty());
}

void TestRunCommand::listPorts_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QString>("listed");

    QTest::newRow("two ports, numbered from 1")
        << QStringList {"/dev/ttyS0", "/dev/ttyUSB0"}
        << "1 = /dev/ttyS0: system console\n"
           "2 = /dev/ttyUSB0: FT232R USB UART, FTDI, serial number A9X1, USB 0403:6001\n";
    QTest::newRow("no port: says so and what to check")
        << QStringList {}
        << "This system has no serial port that this user may see: check that the adapter is "
           "plugged in, and that you are in the serial ports' group (dialout).\n";
}

void TestRunCommand::listPorts()
{
    QFETCH(QStringList, devices);
    QFETCH(QString, listed);

    std::vector<std::string> paths;
    for (const QString &device : devices)
        paths.push_back(device.toStdString());
    const auto listing = [paths] {
        return MatchPortDetails(paths,
            {{"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A9X1", 0x0403, 0x6001}},
            [](const std::string &device) { return device == "/dev/ttyS0"; });
    };
    const Outcome outcome = Run({"--list-ports"}, {PortsAre(paths), listing});
    QCOMPARE(outcome.exitCode, ExitCode::Sent);
    QCOMPARE(outcome.out, listed);
    QCOMPARE(outcome.err, QString());
}

void TestRunCommand::helpAndVersion()
{
    const Outcome version = Run({"--version"}, PortsOf({}));
    QCOMPARE(version.exitCode, ExitCode::Sent);
    QCOMPARE(version.out, QString("Ostrim %1\n").arg(VersionText));

    const Outcome help = Run({"--help"}, PortsOf({}));
    QCOMPARE(help.exitCode, ExitCode::Sent);
    for (const char *option : {"--port", "--address", "--on", "--list-ports", "--verbose"})
        QVERIFY2(help.out.contains(option), option);
    QCOMPARE(help.err, QString());
}

// `ostrim --list-ports >&-` in a script: nothing reached the reader, so no success.
void TestRunCommand::unwritableOutputIsNoSuccess()
{
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    std::ostringstream err;
    const int exitCode
        = RunCommand(ParseCommandLine({"ostrim", "--version"}), PortsOf({}), out, err);
    QCOMPARE(exitCode, ExitCode::Message);
    QVERIFY(err.str().starts_with("ostrim: "));
}

QTEST_GUILESS_MAIN(TestRunCommand)
#include "tst_run_command.moc"
