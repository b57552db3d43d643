#include "cli/command_line.h"

#include <QTest>

using namespace ostrim;

Q_DECLARE_METATYPE(CommandKind)

namespace {

// "1010" for outputs 1 and 3 on.
QString StatesText(const OutputStates &states)
{
    QString text;
    for (const std::int16_t state : states)
        text += QString::number(state);
    return text;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void sendOptions_data();
    void sendOptions();
    void usageErrors_data();
    void usageErrors();
    void otherCommands_data();
    void otherCommands();
};

void TestCommandLine::sendOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("outputs");
    QTest::addColumn<bool>("verbose");

    QTest::newRow("--port 1 --address 7 --on 1,3")
        << QStringList {"--port", "1", "--address", "7", "--on", "1,3"} << "1"
        << "7"
        << "1010" << false;
    QTest::newRow("short options -p 3 -a 255 -o 4")
        << QStringList {"-p", "3", "-a", "255", "-o", "4"} << "3"
        << "255"
        << "0001" << false;
    QTest::newRow("texts kept exactly as typed, blanks and all")
        << QStringList {"--port", " 2.5", "--address", "7x "} << " 2.5"
        << "7x "
        << "0000" << false;
    QTest::newRow("a value may start with a minus: --address -3")
        << QStringList {"--port", "1", "--address", "-3"} << "1"
        << "-3"
        << "0000" << false;
    QTest::newRow("--address=-3 in one argument") << QStringList {"--port=1", "--address=-3"} << "1"
                                                  << "-3"
                                                  << "0000" << false;
    QTest::newRow("empty texts reach the action, which judges them")
        << QStringList {"--port", "", "--address", ""} << ""
        << ""
        << "0000" << false;
    QTest::newRow("no --on: all off") << QStringList {"--port", "1", "--address", "7"} << "1"
                                      << "7"
                                      << "0000" << false;
    QTest::newRow("--on with an empty list: all off")
        << QStringList {"--port", "1", "--address", "7", "--on", ""} << "1"
        << "7"
        << "0000" << false;
    QTest::newRow("--on 4,3,2,1: all on, in any order")
        << QStringList {"--port", "1", "--address", "7", "--on", "4,3,2,1"} << "1"
        << "7"
        << "1111" << false;
    QTest::newRow("--on ' 2 , 4 ': blanks around items")
        << QStringList {"--port", "1", "--address", "7", "--on", " 2 , 4 "} << "1"
        << "7"
        << "0101" << false;
    QTest::newRow("--on 2,2: the same output twice")
        << QStringList {"--port", "1", "--address", "7", "--on", "2,2"} << "1"
        << "7"
        << "0100" << false;
    QTest::newRow("--verbose") << QStringList {"--verbose", "--port", "1", "--address", "7"} << "1"
                               << "7"
                               << "0000" << true;
}

void TestCommandLine::sendOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, port);
    QFETCH(QString, address);
    QFETCH(QString, outputs);
    QFETCH(bool, verbose);

    arguments.prepend("ostrim");
    const CommandLine commandLine = ParseCommandLine(arguments);
    QVERIFY2(commandLine.kind == CommandKind::SetOutputs, commandLine.text.c_str());
    QCOMPARE(QString::fromStdString(commandLine.portText), port);
    QCOMPARE(QString::fromStdString(commandLine.addressText), address);
    QCOMPARE(StatesText(commandLine.outputs), outputs);
    QCOMPARE(commandLine.verbose, verbose);
}

void TestCommandLine::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");

    const QStringList send {"--port", "1", "--address", "7"};
    QTest::newRow("--on 5: no such output") << send + QStringList {"--on", "5"} << "--on";
    QTest::newRow("--on 0") << send + QStringList {"--on", "0"} << "--on";
    QTest::newRow("--on 12: no comma") << send + QStringList {"--on", "12"} << "--on";
    QTest::newRow("--on 1,,3: empty item") << send + QStringList {"--on", "1,,3"} << "--on";
    QTest::newRow("--on 1;3: wrong separator") << send + QStringList {"--on", "1;3"} << "--on";
    QTest::newRow("--on 1,: trailing comma") << send + QStringList {"--on", "1,"} << "--on";
    QTest::newRow("--on x") << send + QStringList {"--on", "x"} << "--on";
    QTest::newRow("--on given twice") << send + QStringList {"--on", "1", "--on", "2"} << "--on";
    QTest::newRow("--port given twice") << send + QStringList {"--port", "2"} << "--port";
    QTest::newRow("--address given twice") << send + QStringList {"-a", "2"} << "--address";
    QTest::newRow("--port without --address") << QStringList {"--port", "1"} << "--address";
    QTest::newRow("--address without --port") << QStringList {"--address", "7"} << "--port";
    QTest::newRow("--on alone") << QStringList {"--on", "1"} << "--port";
    QTest::newRow("--verbose alone") << QStringList {"--verbose"} << "--port";
    QTest::newRow("--list-ports with --port")
        << QStringList {"--list-ports", "--port", "1"} << "--list-ports";
    QTest::newRow("--list-ports with --verbose")
        << QStringList {"--list-ports", "--verbose"} << "--list-ports";
    QTest::newRow("unknown option --baud") << send + QStringList {"--baud", "9600"} << "baud";
    QTest::newRow("a stray argument") << send + QStringList {"7"} << "'7'";
    QTest::newRow("--port missing its value") << QStringList {"--address", "7", "--port"} << "port";
    QTest::newRow("nothing but --") << QStringList {"--"} << "nothing to do";
}

void TestCommandLine::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);

    arguments.prepend("ostrim");
    const CommandLine commandLine = ParseCommandLine(arguments);
    QCOMPARE(commandLine.kind, CommandKind::UsageError);
    QVERIFY2(
        QString::fromStdString(commandLine.text).contains(complaint), commandLine.text.c_str());
}

void TestCommandLine::otherCommands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<CommandKind>("kind");

    QTest::newRow("--help") << QStringList {"--help"} << CommandKind::Help;
    QTest::newRow("-h") << QStringList {"-h"} << CommandKind::Help;
    QTest::newRow("--help wins over a send")
        << QStringList {"--port", "1", "--address", "7", "--help"} << CommandKind::Help;
    QTest::newRow("--help wins over a usage error")
        << QStringList {"--on", "9", "--help"} << CommandKind::Help;
    QTest::newRow("--version") << QStringList {"--version"} << CommandKind::Version;
    QTest::newRow("-v") << QStringList {"-v"} << CommandKind::Version;
    QTest::newRow("--list-ports") << QStringList {"--list-ports"} << CommandKind::ListPorts;
    QTest::newRow("-l") << QStringList {"-l"} << CommandKind::ListPorts;
}

void TestCommandLine::otherCommands()
{
    QFETCH(QStringList, arguments);
    QFETCH(CommandKind, kind);

    arguments.prepend("ostrim");
    QCOMPARE(ParseCommandLine(arguments).kind, kind);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
