// The set-outputs action against what goes wrong on a real line: a far end that hangs up, a
// device that goes away, another program on the port, a second copy of this program pressing at
// the same time, and output that never drains. Every case runs on real pseudo-terminals.
#include "action_fixtures.h"
#include "output/output_command.h"
#include "output/set_outputs.h"
#include "pseudo_terminal.h"
#include "serial/posix/posix_line_backend.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

using namespace ostrim;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

const OutputStates outputs1And3 {1, 0, 1, 0};
const Bytes frame7A0 {0x07, 0xA0};

// Port 1, address 7, Outputs 1 and 3: the press every fault test makes.
EntriesWindow PressOnPort1()
{
    return EntriesWindow("1", "7", outputs1And3);
}

// The port list of a machine whose port 1 is whatever the test points it at, now.
class MovablePortList
{
public:
    PortList List()
    {
        return [this] { return m_devices; };
    }
    void PointAt(std::vector<std::string> devices) { m_devices = std::move(devices); }

private:
    std::vector<std::string> m_devices;
};

// Passes every call to the real line and runs a step of the test's own right after the open or
// right after the write: the moments between the action's open, write and close.
class StepAfter final : public SerialLine
{
public:
    enum class Moment { Open, Write };

    StepAfter(SerialLine &line, Moment moment, std::function<void()> step)
        : m_line(line)
        , m_moment(moment)
        , m_step(std::move(step))
    { }
    void SetPortNumber(std::int16_t number) override { m_line.SetPortNumber(number); }
    void SetSettings(const std::string &settings) override { m_line.SetSettings(settings); }
    void Open() override
    {
        m_line.Open();
        if (m_moment == Moment::Open)
            m_step();
    }
    void Write(std::span<const std::uint8_t> bytes) override
    {
        m_line.Write(bytes);
        if (m_moment == Moment::Write)
            m_step();
    }
    void Close() override { m_line.Close(); }
    bool IsOpen() const override { return m_line.IsOpen(); }
    std::string Device() const override { return m_line.Device(); }

private:
    SerialLine &m_line;
    Moment m_moment;
    std::function<void()> m_step;
};

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
    void clear() { m_readings.clear(); }

private:
    std::vector<SerialPortLine::Clock::time_point> m_readings;
};

// A line whose output queue never empties, as behind a device that holds off flow control for
// good. A pseudo-terminal cannot be made to stall its drain, so the count is faked.
LineEnvironment WithStalledDrain()
{
    LineEnvironment environment;
    environment.driver.pendingOutput = [](int) { return 2; };
    return environment;
}

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

// Another program on the port, started from the helper built beside this test.
class PortUser
{
public:
    explicit PortUser(const QStringList &arguments)
    {
        m_process.start(QStringLiteral(OSTRIM_PORT_USER), arguments);
    }
    ~PortUser()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    bool waitUntilHolding()
    {
        return m_process.waitForReadyRead(5000) && m_process.readLine().trimmed() == "ready";
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

QString InUseMessage(const std::string &device, qint64 holder)
{
    return QString::fromStdString(
        "Port 1 (" + device + ") is in use by port_user (process " + std::to_string(holder) + ").");
}

QString InUseStart(const std::string &device)
{
    return QString::fromStdString("Port 1 (" + device + ") is in use by ");
}

// The forms a UUCP lock file takes, each naming the process that holds the port.
QByteArray LockFileText(const QString &form, qint64 pid)
{
    if (form == "ascii")
        return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
    if (form == "qt")
        return QByteArray::number(pid) + "\nport_user\nlocalhost\n";
    const auto binary = static_cast<int>(pid);
    return QByteArray(reinterpret_cast<const char *>(&binary), sizeof binary);
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

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void farEndHangsUp_data();
    void farEndHangsUp();
    void deviceDisappearsBetweenTwoPresses_data();
    void deviceDisappearsBetweenTwoPresses();
    void anotherProgramHoldsThePort_data();
    void anotherProgramHoldsThePort();
    void lockFileOfAnotherProgram_data();
    void lockFileOfAnotherProgram();
    void twoProgramsPressAtOnce();
    void drainThatNeverEndsTimesOut();
    void outputStoppedByFlowControlIsDiscarded();
};

void TestFaults::farEndHangsUp_data()
{
    QTest::addColumn<bool>("afterWrite");
    QTest::addColumn<QString>("message");
    QTest::newRow("between open and write: nothing was sent")
        << false << "was disconnected before the frame was sent.";
    QTest::newRow("after the bytes left: they may not all have arrived")
        << true
        << "was disconnected after the frame was handed over; it may not have been sent "
           "completely.";
}

void TestFaults::farEndHangsUp()
{
    QFETCH(bool, afterWrite);
    QFETCH(QString, message);
    const auto moment = afterWrite ? StepAfter::Moment::Write : StepAfter::Moment::Open;
    MovablePortList ports;
    auto board = std::make_unique<PseudoTerminal>();
    ports.PointAt({board->devicePath()});
    SerialPortLine realLine = PosixLine(ports.List());
    StepAfter line(realLine, moment, [&] { board->hangUp(); });

    EntriesWindow window = PressOnPort1();
    PressSetOutputs(window, line);
    QCOMPARE(window.messages,
        QStringList {QString::fromStdString("Port 1 (" + board->devicePath() + ") ") + message});
    QVERIFY(!realLine.IsOpen());

    // The user plugs the board in again: a fresh terminal, the same line.
    PseudoTerminal fresh;
    ports.PointAt({fresh.devicePath()});
    EntriesWindow again = PressOnPort1();
    PressSetOutputs(again, realLine);
    QCOMPARE(again.messages, QStringList {});
    QCOMPARE(fresh.read(2), frame7A0);
    QVERIFY(!realLine.IsOpen());
}

// The device node is reached through a link of the test's own, so that a terminal number freed
// here and taken at once by a test running alongside is never written to.
void TestFaults::deviceDisappearsBetweenTwoPresses_data()
{
    QTest::addColumn<bool>("listRefreshed");
    QTest::addColumn<QString>("message");
    QTest::newRow("port list refreshed: port 1 no longer listed")
        << true << "Port 1 does not exist. This system has no serial port";
    QTest::newRow("port list still names it: the node is gone")
        << false << "does not exist or was disconnected";
}

void TestFaults::deviceDisappearsBetweenTwoPresses()
{
    QFETCH(bool, listRefreshed);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const std::string link = dir.filePath("ttyOSTRIM0").toStdString();
    auto board = std::make_unique<PseudoTerminal>();
    QVERIFY(::symlink(board->devicePath().c_str(), link.c_str()) == 0);
    MovablePortList ports;
    ports.PointAt({link});
    SerialPortLine line = PosixLine(ports.List());

    EntriesWindow first = PressOnPort1();
    PressSetOutputs(first, line);
    QCOMPARE(first.messages, QStringList {});
    QCOMPARE(board->read(2), frame7A0);

    board.reset();
    QVERIFY(::unlink(link.c_str()) == 0);
    if (listRefreshed)
        ports.PointAt({});

    EntriesWindow second = PressOnPort1();
    PressSetOutputs(second, line);
    QCOMPARE(second.messages.size(), 1);
    QVERIFY2(second.messages.front().contains(message), qPrintable(second.messages.front()));
    QVERIFY(!line.IsOpen());
}

// Whoever presses, the holder keeps everything it had: its claim, its settings and the output it
// queued, which a flush would throw away before it reached the device.
void TestFaults::anotherProgramHoldsThePort_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("asRoot"); // root opens a terminal claimed with TIOCEXCL all the same
    QTest::newRow("through a flock") << "hold-flock" << false;
    QTest::newRow("through an exclusive open (TIOCEXCL)") << "hold-exclusive" << false;
    QTest::newRow("through an exclusive open, pressed by root") << "hold-exclusive" << true;
    QTest::newRow("through both, as another copy holds it, pressed by root") << "hold-both" << true;
}

void TestFaults::anotherProgramHoldsThePort()
{
    QFETCH(QString, mode);
    QFETCH(bool, asRoot);
    if (asRoot && ::geteuid() != 0)
        QSKIP("needs root");
    PseudoTerminal board;
    QVERIFY(board.setSettings(CookedAt9600(board.settings())));
    PortUser holder({mode, QString::fromStdString(board.devicePath())});
    QVERIFY2(holder.waitUntilHolding(), holder.process().readAllStandardError().constData());
    const termios before = board.settings();
    const int claimedBefore = ExclusiveClaim(board);
    int packetMode = 1;
    QVERIFY(::ioctl(board.masterHandle(), TIOCPKT, &packetMode) == 0);

    std::optional<WithoutSysAdmin> ordinaryUser;
    if (!asRoot && mode != "hold-flock") {
        ordinaryUser.emplace();
        if (!ordinaryUser->works())
            QSKIP("this process has CAP_SYS_ADMIN and may not give it up, so TIOCEXCL does not "
                  "stop it");
    }
    SerialPortLine line = PosixLine(PortsAre({board.devicePath()}));
    EntriesWindow window = PressOnPort1();
    PressSetOutputs(window, line);
    ordinaryUser.reset();

    QCOMPARE(window.messages,
        QStringList {InUseMessage(board.devicePath(), holder.process().processId())});
    QVERIFY(!line.IsOpen());
    QCOMPARE(NextPacket(board), (Bytes {TIOCPKT_DATA, 'H', 'E', 'L', 'D'}));
    QVERIFY(SameSettings(board.settings(), before));
    QCOMPARE(ExclusiveClaim(board), claimedBefore);
    QCOMPARE(holder.process().state(), QProcess::Running);
}

// Terminal programs announce that they hold a port with a lock file, and do not all claim the
// port itself; the lock file must be honoured, and left exactly as it was.
void TestFaults::lockFileOfAnotherProgram_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<bool>("holderRunning");
    QTest::addColumn<bool>("throughLink"); // the port's path is a link; the lock names the node
    QTest::newRow("ASCII pid with leading blanks, live: in use") << "ascii" << true << false;
    QTest::newRow("Qt's pid, name and host lines, live: in use") << "qt" << true << false;
    QTest::newRow("binary pid, live: in use") << "binary" << true << false;
    QTest::newRow("ASCII pid of a process that has ended: sent") << "ascii" << false << false;
    QTest::newRow("binary pid of a process that has ended: sent") << "binary" << false << false;
    QTest::newRow("port is a link, the node's lock is live: in use") << "ascii" << true << true;
}

void TestFaults::lockFileOfAnotherProgram()
{
    QFETCH(QString, form);
    QFETCH(bool, holderRunning);
    QFETCH(bool, throughLink);
    PseudoTerminal board;
    auto holder = std::make_unique<PortUser>(QStringList {"wait"});
    QVERIFY(holder->waitUntilHolding());
    const qint64 pid = holder->process().processId();
    if (!holderRunning)
        holder.reset();

    QTemporaryDir lockDirectory;
    const std::string name = board.devicePath().substr(std::string("/dev/").size());
    QString lockName = QString::fromStdString("LCK.." + name).replace('/', '_');
    QFile lockFile(lockDirectory.filePath(lockName));
    QVERIFY(lockFile.open(QIODevice::WriteOnly));
    lockFile.write(LockFileText(form, pid));
    lockFile.close();
    const QDateTime modified = QFileInfo(lockFile).lastModified();

    QTemporaryDir links;
    const std::string port
        = throughLink ? links.filePath("serial-link").toStdString() : board.devicePath();
    if (throughLink)
        QVERIFY(::symlink(board.devicePath().c_str(), port.c_str()) == 0);
    LineEnvironment environment;
    environment.sharing.lockDirectories = {lockDirectory.path().toStdString()};
    SerialPortLine line = PosixLine(PortsAre({port}), environment);
    EntriesWindow window = PressOnPort1();
    PressSetOutputs(window, line);

    if (holderRunning) {
        QCOMPARE(window.messages, QStringList {InUseMessage(port, pid)});
        QCOMPARE(board.readAll(100ms), Bytes {});
    } else {
        QCOMPARE(window.messages, QStringList {});
        QCOMPARE(board.read(2), frame7A0);
    }
    QVERIFY(lockFile.open(QIODevice::ReadOnly));
    QCOMPARE(lockFile.readAll(), LockFileText(form, pid));
    QCOMPARE(QFileInfo(lockFile).lastModified(), modified);
    QCOMPARE(QDir(lockDirectory.path()).entryList(QDir::Files), QStringList {lockName});
}

// Each copy sends its own address, so a frame of one copy broken up by the other would show as
// a pair that is not (address, 0xF0).
void TestFaults::twoProgramsPressAtOnce()
{
    constexpr int pressesEach = 300;
    PseudoTerminal board;
    const QString device = QString::fromStdString(board.devicePath());
    PortUser first({"press", device, "10", QString::number(pressesEach)});
    PortUser second({"press", device, "11", QString::number(pressesEach)});

    Bytes received;
    const auto bothDone = [&] {
        return first.process().state() == QProcess::NotRunning
            && second.process().state() == QProcess::NotRunning;
    };
    QElapsedTimer timer;
    timer.start();
    while (!bothDone() && timer.elapsed() < 60'000) {
        const Bytes bytes = board.readAll(10ms);
        received.insert(received.end(), bytes.begin(), bytes.end());
        first.process().waitForFinished(0);
        second.process().waitForFinished(0);
    }
    QVERIFY2(bothDone(), "the two presses did not finish within a minute");
    const Bytes rest = board.readAll(100ms);
    received.insert(received.end(), rest.begin(), rest.end());

    QCOMPARE(received.size() % 2, 0u);
    std::array<int, 2> framesFrom {};
    for (std::size_t i = 0; i < received.size(); i += 2) {
        const bool whole = (received[i] == 10 || received[i] == 11) && received[i + 1] == 0xF0;
        QVERIFY2(whole,
            qPrintable(QString("bytes %1 and %2 are %3 %4, not one frame")
                           .arg(i)
                           .arg(i + 1)
                           .arg(received[i])
                           .arg(received[i + 1])));
        ++framesFrom[received[i] - 10];
    }

    int inUseSeen = 0;
    PortUser *const users[] = {&first, &second};
    for (int copy = 0; copy < 2; ++copy) {
        const QStringList results
            = QString::fromUtf8(users[copy]->process().readAllStandardOutput())
                  .split('\n', Qt::SkipEmptyParts);
        QCOMPARE(results.size(), pressesEach);
        QCOMPARE(results.count("sent"), framesFrom[copy]);
        const int inUse = static_cast<int>(std::count_if(results.begin(), results.end(),
            [&](const QString &line) { return line.startsWith(InUseStart(board.devicePath())); }));
        QVERIFY2(inUse + framesFrom[copy] == pressesEach, qPrintable(results.join('\n')));
        inUseSeen += inUse;
    }
    qInfo("frames received %d + %d, presses that found the port in use: %d", framesFrom[0],
        framesFrom[1], inUseSeen);
}

// Waiting out the deadline, not giving up at once, and ready for the next press afterwards.
void TestFaults::drainThatNeverEndsTimesOut()
{
    PseudoTerminal board;
    ClockReadings clock;
    LineEnvironment environment = WithStalledDrain();
    environment.clock.now = clock.function();
    SerialPortLine line = PosixLine(PortsAre({board.devicePath()}), environment);

    for (int press = 0; press < 2; ++press) {
        clock.clear();
        EntriesWindow window = PressOnPort1();
        PressSetOutputs(window, line);
        QCOMPARE(window.messages.size(), 1);
        QVERIFY2(window.messages.front().contains("did not send the frame within 1 second"),
            qPrintable(window.messages.front()));
        QVERIFY(clock.waited() >= 1s);
        QVERIFY(!line.IsOpen());
    }
}

// A terminal whose output is stopped (as by XOFF) takes no byte at all: after the time limit the
// frame is given up, so it cannot reach the board later, long after the user saw the failure.
void TestFaults::outputStoppedByFlowControlIsDiscarded()
{
    PseudoTerminal board;
    const int otherEnd = ::open(board.devicePath().c_str(), O_RDWR | O_NOCTTY);
    QVERIFY(otherEnd >= 0);
    QVERIFY(::tcflow(otherEnd, TCOOFF) == 0);
    ClockReadings clock;
    LineEnvironment environment;
    environment.clock.now = clock.function();
    SerialPortLine line = PosixLine(PortsAre({board.devicePath()}), environment);

    EntriesWindow window = PressOnPort1();
    PressSetOutputs(window, line);

    QVERIFY(::tcflow(otherEnd, TCOON) == 0);
    ::close(otherEnd);
    QCOMPARE(window.messages.size(), 1);
    QVERIFY2(
        window.messages.front().contains("within 1 second"), qPrintable(window.messages.front()));
    QVERIFY(clock.waited() >= 1s);
    QVERIFY(!line.IsOpen());
    QCOMPARE(board.readAll(200ms), Bytes {});
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
