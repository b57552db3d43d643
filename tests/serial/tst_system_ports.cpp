#include "serial/posix/system_ports.h"

#include <atomic>
#include <fstream>
#include <future>
#include <thread>

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace ostrim;

namespace {

// A machine of the test's own: a /dev and a sysfs in a temporary folder, and a count of how often
// the system was asked for its serial devices.
class FakeMachine
{
public:
    FakeMachine() { std::filesystem::create_directories(dev()); }

    std::filesystem::path dev() const { return root() / "dev"; }
    std::filesystem::path sys() const { return root() / "sys"; }
    void setUartType(const std::string &name, const std::string &type) const
    {
        std::filesystem::create_directories(sys() / name);
        std::ofstream(sys() / name / "type") << type << "\n";
    }
    // Sets /dev's modification time exactly, as a device node coming or going would move it.
    void touchDev(std::time_t seconds, long nanoseconds) const
    {
        const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ::utimensat(AT_FDCWD, dev().c_str(), times, 0);
    }
    SystemPortList portList(std::vector<std::string> devices = {"/dev/ttyUSB0"})
    {
        return SystemPortList({dev(), sys()}, [this, devices] {
            ++listings;
            std::vector<PortDetails> reported;
            for (const std::string &device : devices)
                reported.push_back({device, "adapter at " + device});
            return reported;
        });
    }

    std::atomic<int> listings = 0;

private:
    std::filesystem::path root() const { return m_dir.path().toStdString(); }
    QTemporaryDir m_dir;
};

} // namespace

class TestSystemPorts : public QObject
{
    Q_OBJECT

private slots:
    void naturalOrder_data();
    void naturalOrder();
    void ttySFirstAndPhantomsLeftOut();
    void uartFilterReadsSysfs_data();
    void uartFilterReadsSysfs();
    void systemListHasNoPhantomTtyS();
    void listIsKeptUntilDevChanges_data();
    void listIsKeptUntilDevChanges();
    void detailsFromTheSameListing();
    void lastingNamesOfEachPort();
    void pressDuringBackgroundReadWaitsForIt();
};

void TestSystemPorts::naturalOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::newRow("ttyUSB2 before ttyUSB10") << "ttyUSB2"
                                             << "ttyUSB10";
    QTest::newRow("ttyS9 before ttyS10") << "ttyS9"
                                         << "ttyS10";
    QTest::newRow("ttyACM0 before ttyUSB0") << "ttyACM0"
                                            << "ttyUSB0";
    QTest::newRow("leading zeros: ttyX02 before ttyX3") << "ttyX02"
                                                        << "ttyX3";
    QTest::newRow("prefix first: tty before tty0") << "tty"
                                                   << "tty0";
}

void TestSystemPorts::naturalOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QVERIFY(NaturalLess(a.toStdString(), b.toStdString()));
    QVERIFY(!NaturalLess(b.toStdString(), a.toStdString()));
    QVERIFY(!NaturalLess(a.toStdString(), a.toStdString()));
}

void TestSystemPorts::ttySFirstAndPhantomsLeftOut()
{
    const auto withUart
        = [](const std::string &path) { return path == "/dev/ttyS0" || path == "/dev/ttyS10"; };
    const std::vector<std::string> ordered
        = OrderSerialPorts({"/dev/ttyUSB10", "/dev/ttyS1", "/dev/ttyACM0", "/dev/ttyUSB2",
                               "/dev/ttyS10", "/dev/ttyS2", "/dev/ttyS0", "/dev/ttySTM0"},
            withUart);
    QCOMPARE(ordered,
        (std::vector<std::string> {"/dev/ttyS0", "/dev/ttyS10", "/dev/ttyACM0", "/dev/ttySTM0",
            "/dev/ttyUSB2", "/dev/ttyUSB10"}));
}

void TestSystemPorts::uartFilterReadsSysfs_data()
{
    QTest::addColumn<QString>("type"); // empty: no type file
    QTest::addColumn<bool>("listed");
    QTest::newRow("type 0: no UART, left out") << "0" << false;
    QTest::newRow("type 4: a 16550A, listed") << "4" << true;
    QTest::newRow("no type file: cannot tell, listed") << "" << true;
}

void TestSystemPorts::uartFilterReadsSysfs()
{
    QFETCH(QString, type);
    QFETCH(bool, listed);
    FakeMachine machine;
    if (!type.isEmpty())
        machine.setUartType("ttyS3", type.toStdString());
    const std::vector<std::string> expected = listed
        ? std::vector<std::string> {"/dev/ttyS3", "/dev/ttyUSB0"}
        : std::vector<std::string> {"/dev/ttyUSB0"};
    QCOMPARE(machine.portList({"/dev/ttyUSB0", "/dev/ttyS3"})(), expected);
}

void TestSystemPorts::systemListHasNoPhantomTtyS()
{
    SystemPortList ports;
    for (const std::string &path : ports()) {
        const std::string name = path.substr(path.find_last_of('/') + 1);
        std::ifstream type("/sys/class/tty/" + name + "/type");
        std::string value;
        if (name.starts_with("ttyS") && type >> value)
            QVERIFY2(value != "0", path.c_str());
    }
}

void TestSystemPorts::listIsKeptUntilDevChanges_data()
{
    QTest::addColumn<long>("secondChangeNanoseconds");
    QTest::addColumn<int>("listings");
    QTest::newRow("second change at the same instant: not listed again") << 100L << 2;
    QTest::newRow("two changes within one second: listed each time") << 200L << 3;
}

void TestSystemPorts::listIsKeptUntilDevChanges()
{
    QFETCH(long, secondChangeNanoseconds);
    QFETCH(int, listings);
    FakeMachine machine;
    const SystemPortList ports = machine.portList();

    machine.touchDev(1'000'000, 0);
    for (int call = 0; call < 3; ++call)
        QCOMPARE(ports(), std::vector<std::string> {"/dev/ttyUSB0"});
    QCOMPARE(machine.listings.load(), 1);

    machine.touchDev(1'000'000, 100);
    ports();
    machine.touchDev(1'000'000, secondChangeNanoseconds);
    ports();
    const SystemPortList copy = ports; // a copy shares what was listed
    copy();
    QCOMPARE(machine.listings.load(), listings);
}

// The port numbers and what is shown of each port come from one listing, in the same order.
void TestSystemPorts::detailsFromTheSameListing()
{
    FakeMachine machine;
    machine.setUartType("ttyS3", "4");
    const SystemPortList ports = machine.portList({"/dev/ttyUSB0", "/dev/ttyS3"});
    machine.touchDev(1'000'000, 0);

    const std::vector<std::string> devices = ports();
    std::vector<std::string> described;
    for (const PortDetails &port : ports.Details())
        described.push_back(port.device + ": " + port.description);
    QCOMPARE(devices, (std::vector<std::string> {"/dev/ttyS3", "/dev/ttyUSB0"}));
    QCOMPARE(described,
        (std::vector<std::string> {
            "/dev/ttyS3: adapter at /dev/ttyS3", "/dev/ttyUSB0: adapter at /dev/ttyUSB0"}));
    QCOMPARE(machine.listings.load(), 1);
}

// udev's links, relative as it makes them; each port gets those that lead to its own node.
void TestSystemPorts::lastingNamesOfEachPort()
{
    FakeMachine machine;
    const auto link = [&](const std::string &name, const std::string &target) {
        std::filesystem::create_directories((machine.dev() / name).parent_path());
        std::filesystem::create_symlink(target, machine.dev() / name);
    };
    link("serial/by-id/usb-Acme_Relay_B2-if00-port0", "../../ttyUSB1");
    link("serial/by-id/usb-Acme_Relay_A1-if00-port0", "../../ttyUSB0");
    link("serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", "../../ttyUSB0");
    link("serial/by-id/usb-gone-if00-port0", "../../ttyUSB7");
    machine.setUartType("ttyS4", "4");
    const SystemPortList ports = machine.portList({"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyS4"});

    std::vector<std::vector<std::string>> names;
    for (const PortDetails &port : ports.Details())
        names.push_back(port.lastingNames);
    QCOMPARE(names,
        (std::vector<std::vector<std::string>> {{}, // ttyS4, built in, has none
            {"/dev/serial/by-id/usb-Acme_Relay_A1-if00-port0",
                "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"},
            {"/dev/serial/by-id/usb-Acme_Relay_B2-if00-port0"}}));
}

void TestSystemPorts::pressDuringBackgroundReadWaitsForIt()
{
    FakeMachine machine;
    std::promise<void> started;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const SystemPortList ports({machine.dev(), machine.sys()}, [&] {
        if (++machine.listings == 1) {
            started.set_value();
            released.wait();
        }
        return std::vector<PortDetails> {{"/dev/ttyACM0"}};
    });

    auto background = std::async(std::launch::async, ports);
    started.get_future().wait();
    auto press = std::async(std::launch::async, ports);
    // Gives the press time to reach the list; a sound list gives the same result either way.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    release.set_value();
    QCOMPARE(background.get(), std::vector<std::string> {"/dev/ttyACM0"});
    QCOMPARE(press.get(), std::vector<std::string> {"/dev/ttyACM0"});
    QCOMPARE(machine.listings.load(), 1);
}

QTEST_GUILESS_MAIN(TestSystemPorts)
#include "tst_system_ports.moc"
