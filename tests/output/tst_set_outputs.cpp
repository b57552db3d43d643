#include "output/set_outputs.h"
#include "runtime/action_error.h"
#include "serial/serial_line.h"

#include <array>

#include <QRegularExpression>
#include <QTest>

using namespace ostrim;

namespace {

// Stands in for the window: hands out the entries and writes every read to the log, so that the
// order of the action's steps can be checked.
class ScriptedEntries final : public ActionEntries
{
public:
    ScriptedEntries(
        QStringList &log, QString port, QString address, std::array<std::int16_t, 4> states)
        : m_log(log)
        , m_port(std::move(port))
        , m_address(std::move(address))
        , m_states(states)
    { }

    std::string PortText() const override
    {
        m_log << "read port";
        return m_port.toStdString();
    }
    std::string AddressText() const override
    {
        m_log << "read address";
        return m_address.toStdString();
    }
    std::int16_t OutputState(int index) const override
    {
        m_log << QString("read output %1").arg(index + 1);
        return m_states.at(static_cast<std::size_t>(index));
    }

private:
    QStringList &m_log;
    QString m_port;
    QString m_address;
    std::array<std::int16_t, 4> m_states;
};

// A fake line for the order of calls and for failures no real port can be made to produce on
// demand, such as a close that fails and leaves the port open.
class RecordingLine final : public SerialLine
{
public:
    // failingSteps: the steps that fail, separated by commas, e.g. "write,close".
    RecordingLine(QStringList &log, const QString &failingSteps)
        : m_log(log)
        , m_failingSteps(failingSteps.split(',', Qt::SkipEmptyParts))
    { }

    void SetPortNumber(std::int16_t number) override
    {
        m_log << QString("port %1").arg(number);
        if (number < 1)
            throw ActionError(FailureKind::SerialLine, "Invalid port number");
        failIf("port");
    }
    void SetSettings(const std::string &settings) override
    {
        m_log << "settings " + QString::fromStdString(settings);
        failIf("settings");
    }
    void Open() override
    {
        m_log << "open";
        failIf("open");
        m_open = true;
    }
    void Write(std::span<const std::uint8_t> bytes) override
    {
        QString written = "write";
        for (const std::uint8_t byte : bytes)
            written += QString(" %1").arg(byte, 2, 16, QChar('0')).toUpper();
        m_log << written;
        failIf("write");
    }
    void Close() override
    {
        m_log << "close";
        failIf("close"); // and the port stays open
        m_open = false;
    }
    bool IsOpen() const override
    {
        m_log << "is open?";
        failIf("is open?");
        return m_open;
    }
    std::string Device() const override { return "/dev/recorded"; }

private:
    void failIf(const QString &step) const
    {
        if (m_failingSteps.contains(step))
            throw ActionError(FailureKind::SerialLine, (step + " failed").toStdString());
    }

    QStringList &m_log;
    QStringList m_failingSteps;
    bool m_open = false;
};

using States = std::array<std::int16_t, 4>;

const QStringList readOutputs {"read output 1", "read output 2", "read output 3", "read output 4"};

QStringList upToAddress(int port)
{
    return QStringList {"read port", QString("port %1").arg(port), "settings 2400,N,8,1"}
    + readOutputs + QStringList {"read address"};
}

} // namespace

Q_DECLARE_METATYPE(States)
Q_DECLARE_METATYPE(FailureKind)

class TestSetOutputs : public QObject
{
    Q_OBJECT

private slots:
    void endings_data();
    void endings();
    void failuresInTheUsersTerms_data();
    void failuresInTheUsersTerms();
};

void TestSetOutputs::endings_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("address");
    QTest::addColumn<States>("states");
    QTest::addColumn<QString>("failingSteps");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("message"); // empty: none; otherwise its start

    const States outputs1And3 {1, 0, 1, 0};
    const QStringList sent {"open", "write 07 A0", "close"};
    const QStringList failed {"is open?", "message"};

    QTest::newRow("port 1, address 7, Outputs 1 and 3: 07 A0 sent, nothing shown")
        << "1"
        << "7" << outputs1And3 << "" << upToAddress(1) + sent << "";
    QTest::newRow("fresh start: invalid port, nothing reaches the line")
        << ""
        << "" << States {1, 1, 1, 1} << "" << QStringList {"read port", "message"}
        << "Invalid communications port";
    QTest::newRow("port 0: invalid port")
        << "0"
        << "7" << outputs1And3 << "" << QStringList {"read port", "message"}
        << "Invalid communications port";
    QTest::newRow("port -1: invalid port")
        << "-1"
        << "7" << outputs1And3 << "" << QStringList {"read port", "message"}
        << "Invalid communications port";
    QTest::newRow("port abc: invalid port")
        << "abc"
        << "7" << outputs1And3 << "" << QStringList {"read port", "message"}
        << "Invalid communications port";
    QTest::newRow("port 3, no address: invalid address, never opened")
        << "3"
        << "" << outputs1And3 << "" << upToAddress(3) + QStringList {"message"}
        << "Invalid board address";
    QTest::newRow("address -4: invalid address")
        << "3"
        << "-4" << outputs1And3 << "" << upToAddress(3) + QStringList {"message"}
        << "Invalid board address";
    QTest::newRow("port '  2' reads as 2")
        << "  2"
        << "7" << outputs1And3 << "" << upToAddress(2) + sent << "";
    QTest::newRow("port 1abc reads as 1")
        << "1abc"
        << "7" << outputs1And3 << "" << upToAddress(1) + sent << "";
    QTest::newRow("port 2.5 selects 2") << "2.5"
                                        << "7" << outputs1And3 << "" << upToAddress(2) + sent << "";
    QTest::newRow("port 3.5 selects 4") << "3.5"
                                        << "7" << outputs1And3 << "" << upToAddress(4) + sent << "";
    QTest::newRow("port 0.4 passes the test, then the line refuses port 0")
        << "0.4"
        << "7" << outputs1And3 << "" << QStringList {"read port", "port 0"} + failed
        << "Invalid port number";
    QTest::newRow("port 70000: overflow before the line hears of it")
        << "70000"
        << "7" << outputs1And3 << "" << QStringList {"read port"} + failed
        << "Port 70000 is too large";
    QTest::newRow("port 1e400: overflow")
        << "1e400"
        << "7" << outputs1And3 << "" << QStringList {"read port"} + failed
        << "Port 1e400 is too large";
    QTest::newRow("mask overflow: never opened")
        << "1"
        << "7" << States {256, 0, 0, 0} << ""
        << QStringList {"read port", "port 1", "settings 2400,N,8,1"} + readOutputs + failed
        << "Overflow";
    QTest::newRow("mask 256 with address 300: the address is blamed")
        << "1"
        << "300" << States {2, 0, 0, 0} << "" << upToAddress(1) + failed
        << "Board address 300 is too large";
    QTest::newRow("address 12x: type mismatch, never opened")
        << "1"
        << "12x" << outputs1And3 << "" << upToAddress(1) + failed << "Board address \"12x\" is not";
    QTest::newRow("address 300: invalid argument")
        << "1"
        << "300" << outputs1And3 << "" << upToAddress(1) + failed
        << "Board address 300 is too large";
    QTest::newRow("address 255.5 reads as 256: invalid argument")
        << "1"
        << "255.5" << outputs1And3 << "" << upToAddress(1) + failed
        << "Board address 255.5 is too large";
    QTest::newRow("address 254.5 sends FE")
        << "1"
        << "254.5" << States {0, 0, 0, 0} << ""
        << upToAddress(1) + QStringList {"open", "write FE 00", "close"} << "";
    QTest::newRow("address 0.4 sends 00")
        << "1"
        << "0.4" << States {1, 1, 1, 1} << ""
        << upToAddress(1) + QStringList {"open", "write 00 F0", "close"} << "";
    QTest::newRow("open fails: port stays closed, only the message")
        << "1"
        << "7" << outputs1And3 << "open" << upToAddress(1) + QStringList {"open"} + failed
        << "open failed";
    QTest::newRow("write fails: the error path closes the port")
        << "1"
        << "7" << outputs1And3 << "write"
        << upToAddress(1) + QStringList {"open", "write 07 A0", "is open?", "close", "message"}
        << "write failed";
    QTest::newRow("settings refused: never opened")
        << "1"
        << "7" << outputs1And3 << "settings"
        << QStringList {"read port", "port 1", "settings 2400,N,8,1"} + failed << "settings failed";
    QTest::newRow("close fails after the write and again in the error path: one message, both told")
        << "1"
        << "7" << outputs1And3 << "close"
        << upToAddress(1) + sent + QStringList {"is open?", "close", "message"}
        << "close failed\nThe port could not be closed: close failed";
    QTest::newRow("reading the open state fails in the error path: one message, both told")
        << "1"
        << "7" << outputs1And3 << "write,is open?"
        << upToAddress(1) + QStringList {"open", "write 07 A0", "is open?", "message"}
        << "write failed\nThe port could not be closed: is open? failed";
}

void TestSetOutputs::endings()
{
    QFETCH(QString, port);
    QFETCH(QString, address);
    QFETCH(States, states);
    QFETCH(QString, failingSteps);
    QFETCH(QStringList, calls);
    QFETCH(QString, message);

    QStringList log;
    const ScriptedEntries entries(log, port, address, states);
    RecordingLine line(log, failingSteps);
    const ActionOutcome outcome = SetOutputs(entries, line);
    // A face shows one message for every ending but the frame sent, once the action is done.
    if (outcome.ending != Ending::Sent)
        log << "message";

    QCOMPARE(log, calls);
    const QString shown = QString::fromStdString(outcome.message);
    QVERIFY2(shown.startsWith(message), qPrintable(shown));
    if (message.isEmpty()) {
        // Sent where the line was last told to send.
        const QStringList portsSet = log.filter(QRegularExpression("^port "));
        QCOMPARE(QString("port %1").arg(outcome.portNumber), portsSet.back());
        QCOMPARE(outcome.device, "/dev/recorded");
    }
}

// An entry's failure names the entry and what it takes; its kind and number stay those of the
// reading, for scripts. The mask fails in the same step as the address, and is not blamed on it.
void TestSetOutputs::failuresInTheUsersTerms_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("address");
    QTest::addColumn<States>("states");
    QTest::addColumn<FailureKind>("kind");
    QTest::addColumn<QString>("message");

    const States none {0, 0, 0, 0};
    QTest::newRow("port beyond 16 bits") << "70000"
                                         << "7" << none << FailureKind::Overflow
                                         << "Port 70000 is too large: the highest port is 32767.";
    QTest::newRow("port far below any number")
        << "-1e400"
        << "7" << none << FailureKind::Overflow
        << "Port -1e400 is too small: ports are numbered from 1.";
    QTest::newRow("address beyond a byte, blanks around it")
        << "1"
        << " 300 " << none << FailureKind::InvalidArgument
        << "Board address 300 is too large: the highest address is 255.";
    QTest::newRow("address beyond 32 bits")
        << "1"
        << "99999999999" << none << FailureKind::Overflow
        << "Board address 99999999999 is too large: the highest address is 255.";
    QTest::newRow("address not one number")
        << "1"
        << "7 8" << none << FailureKind::TypeMismatch << "Board address \"7 8\" is not a number.";
    QTest::newRow("mask beyond a byte with a good address: the mask's own failure")
        << "1"
        << "7" << States {2, 0, 0, 0} << FailureKind::InvalidArgument
        << "Invalid argument: 256 is outside the byte range 0 to 255";
}

void TestSetOutputs::failuresInTheUsersTerms()
{
    QFETCH(QString, port);
    QFETCH(QString, address);
    QFETCH(States, states);
    QFETCH(FailureKind, kind);
    QFETCH(QString, message);

    QStringList log;
    RecordingLine line(log, "");
    const ActionOutcome outcome = SetOutputs(ScriptedEntries(log, port, address, states), line);
    QVERIFY(outcome.failure);
    QCOMPARE(QString::fromStdString(outcome.message), message);
    QCOMPARE(outcome.failure->kind(), kind);
    QCOMPARE(outcome.failure->number(), static_cast<int>(kind));
}

QTEST_APPLESS_MAIN(TestSetOutputs)
#include "tst_set_outputs.moc"
