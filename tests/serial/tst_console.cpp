#include "pseudo_terminal.h"
#include "serial/posix/console.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <utility>

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace ostrim;

namespace {

dev_t DeviceOf(const std::string &path)
{
    struct stat status = {};
    ::stat(path.c_str(), &status);
    return status.st_rdev;
}

std::string DevFileText(dev_t device)
{
    return std::to_string(major(device)) + ":" + std::to_string(minor(device)) + "\n";
}

void WriteFile(const std::filesystem::path &path, const std::string &text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

} // namespace

class TestConsole : public QObject
{
    Q_OBJECT

private slots:
    void consoleIsJudgedByDevice_data();
    void consoleIsJudgedByDevice();
    void unreadableEntriesAreLeftOut();
    void watchSeesChangesWhereNothingTellsOfThem_data();
    void watchSeesChangesWhereNothingTellsOfThem();
    void watchOnSysfsHoldsOneDescriptor();
    void watchReadsAgainWhenTold();
};

// The console here is a pseudo-terminal, named "ttyS0" in a sysfs of the test's own.
void TestConsole::consoleIsJudgedByDevice_data()
{
    QTest::addColumn<QString>("active");
    QTest::addColumn<QString>("checked"); // console, link, node, other, null, missing
    QTest::addColumn<bool>("isConsole");

    QTest::newRow("the console itself") << "ttyS0"
                                        << "console" << true;
    QTest::newRow("one of two active consoles") << "tty0 ttyS0"
                                                << "console" << true;
    QTest::newRow("a link to the console") << "ttyS0"
                                           << "link" << true;
    QTest::newRow("a node of the console's number under another name") << "ttyS0"
                                                                       << "node" << true;
    QTest::newRow("another terminal") << "ttyS0"
                                      << "other" << false;
    QTest::newRow("no console active") << ""
                                       << "console" << false;
    QTest::newRow("a character device that is no console") << "ttyS0"
                                                           << "null" << false;
    QTest::newRow("a path that does not exist") << "ttyS0"
                                                << "missing" << false;
}

void TestConsole::consoleIsJudgedByDevice()
{
    QFETCH(QString, active);
    QFETCH(QString, checked);
    QFETCH(bool, isConsole);

    QTemporaryDir dir;
    const std::filesystem::path root = dir.path().toStdString();
    PseudoTerminal console;
    PseudoTerminal other;
    WriteFile(root / "sys" / "console" / "active", active.toStdString() + "\n");
    WriteFile(root / "sys" / "ttyS0" / "dev", DevFileText(DeviceOf(console.devicePath())));
    WriteFile(root / "sys" / "tty0" / "dev", "4:0\n");

    const std::string link = root / "serial-link";
    QVERIFY(::symlink(console.devicePath().c_str(), link.c_str()) == 0);
    const std::string node = root / "renamed-node";
    const bool madeNode
        = ::mknod(node.c_str(), S_IFCHR | 0600, DeviceOf(console.devicePath())) == 0;
    if (checked == "node" && !madeNode)
        QSKIP("making a device node needs CAP_MKNOD");

    const std::map<QString, std::string> paths {{"console", console.devicePath()}, {"link", link},
        {"node", node}, {"other", other.devicePath()}, {"null", "/dev/null"},
        {"missing", root / "no-such-device"}};
    QCOMPARE(IsConsole(paths.at(checked), ActiveConsoles(root / "sys")), isConsole);
}

void TestConsole::unreadableEntriesAreLeftOut()
{
    QTemporaryDir dir;
    const std::filesystem::path sys = dir.path().toStdString();
    WriteFile(sys / "console" / "active", "ttyS0 ttyS1 ttyS3\n");
    WriteFile(sys / "ttyS0" / "dev", "4:64\n");
    WriteFile(sys / "ttyS1" / "dev", "garbage\n");
    // ttyS3 has no dev file at all.
    QCOMPARE(ActiveConsoles(sys), std::vector<dev_t> {::makedev(4, 64)});
    QCOMPARE(ActiveConsoles(sys / "nowhere"), std::vector<dev_t> {});
}

// A folder standing in for sysfs cannot tell of a change, so each look must read it afresh.
void TestConsole::watchSeesChangesWhereNothingTellsOfThem_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("writtenAnew"); // a new file renamed over the old, as editors save
    QTest::addColumn<bool>("consoleAfter");

    QTest::newRow("declared after the watch began") << "tty0"
                                                    << "tty0 ttyS0" << false << true;
    QTest::newRow("no longer a console") << "ttyS0"
                                         << "tty0" << false << false;
    QTest::newRow("declared in a file renamed over the old") << "tty0"
                                                             << "ttyS0" << true << true;
}

void TestConsole::watchSeesChangesWhereNothingTellsOfThem()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(bool, writtenAnew);
    QFETCH(bool, consoleAfter);

    QTemporaryDir dir;
    const std::filesystem::path sys = dir.path().toStdString();
    PseudoTerminal console;
    const dev_t device = DeviceOf(console.devicePath());
    WriteFile(sys / "ttyS0" / "dev", DevFileText(device));
    WriteFile(sys / "tty0" / "dev", "4:0\n");
    const std::filesystem::path active = sys / "console" / "active";
    WriteFile(active, before.toStdString() + "\n");

    ConsoleWatch watch(sys);
    QCOMPARE(std::ranges::count(watch.Current(), device), before.contains("ttyS0") ? 1 : 0);
    const std::filesystem::path written = writtenAnew ? sys / "console" / "active.new" : active;
    WriteFile(written, after.toStdString() + "\n");
    std::filesystem::rename(written, active);
    QCOMPARE(std::ranges::count(watch.Current(), device), consoleAfter ? 1 : 0);
}

// On sysfs the watch keeps console/active open, to be told of changes, and reads nothing more
// until it is: it must neither lose what it read nor open the file again on every look.
void TestConsole::watchOnSysfsHoldsOneDescriptor()
{
    if (::access("/sys/class/tty/console/active", R_OK) != 0)
        QSKIP("this system shows no /sys/class/tty/console/active");
    const std::vector<dev_t> consoles = ActiveConsoles();
    const int before = OpenFileDescriptorCount();
    {
        ConsoleWatch watch;
        QCOMPARE(OpenFileDescriptorCount(), before + 1);
        for (int look = 0; look < 100; ++look)
            QCOMPARE(watch.Current(), consoles);
        QCOMPARE(OpenFileDescriptorCount(), before + 1);
    }
    QCOMPARE(OpenFileDescriptorCount(), before);
}

// A console that comes or goes cannot be caused here, so the kernel's mark is played by the test:
// the watch must keep what it read until told, and read again once told.
void TestConsole::watchReadsAgainWhenTold()
{
    QTemporaryDir dir;
    const std::filesystem::path sys = dir.path().toStdString();
    PseudoTerminal console;
    const dev_t device = DeviceOf(console.devicePath());
    WriteFile(sys / "ttyS0" / "dev", DevFileText(device));
    WriteFile(sys / "console" / "active", "tty0\n");
    bool told = false;
    ConsoleWatch watch(
        sys, {[](int) { return true; }, [&](int) { return std::exchange(told, false); }});
    QCOMPARE(std::ranges::count(watch.Current(), device), 0);

    // No longer than what was read before: a read that went on from where the last one ended
    // would find nothing there.
    WriteFile(sys / "console" / "active", "ttyS0\n");
    QCOMPARE(std::ranges::count(watch.Current(), device), 0);
    told = true;
    QCOMPARE(std::ranges::count(watch.Current(), device), 1);
    QCOMPARE(std::ranges::count(watch.Current(), device), 1);
}

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
