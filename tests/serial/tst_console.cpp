#include "pseudo_terminal.h"
#include "serial/console.h"

#include <fstream>
#include <map>

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

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
