#include "serial/posix/system_ports.h"
#include "temporary_folder.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <future>
#include <thread>

#include <doctest.h>
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
    std::filesystem::path root() const { return m_dir.path(); }
    TemporaryFolder m_dir;
};

} // namespace

TEST_CASE("Names sort naturally: runs of digits by their value")
{
    const std::pair<std::string, std::string> rows[] {{"ttyUSB2", "ttyUSB10"}, {"ttyS9", "ttyS10"},
        {"ttyACM0", "ttyUSB0"}, {"ttyX02", "ttyX3"}, {"tty", "tty0"}};
    for (const auto &[a, b] : rows) {
        INFO(a << " before " << b);
        CHECK(NaturalLess(a, b));
        CHECK_FALSE(NaturalLess(b, a));
        CHECK_FALSE(NaturalLess(a, a));
    }
}

TEST_CASE("ttyS ports come first, and those with no UART are left out")
{
    const auto withUart
        = [](const std::string &path) { return path == "/dev/ttyS0" || path == "/dev/ttyS10"; };
    const std::vector<std::string> ordered
        = OrderSerialPorts({"/dev/ttyUSB10", "/dev/ttyS1", "/dev/ttyACM0", "/dev/ttyUSB2",
                               "/dev/ttyS10", "/dev/ttyS2", "/dev/ttyS0", "/dev/ttySTM0"},
            withUart);
    CHECK(ordered
        == std::vector<std::string> {"/dev/ttyS0", "/dev/ttyS10", "/dev/ttyACM0", "/dev/ttySTM0",
            "/dev/ttyUSB2", "/dev/ttyUSB10"});
}

TEST_CASE("Whether a ttyS node has a UART is read from sysfs")
{
    struct Row
    {
        std::string_view name;
        std::string type; // empty: no type file
        bool listed;
    };
    const Row rows[] {
        {"type 0: no UART, left out", "0", false},
        {"type 4: a 16550A, listed", "4", true},
        {"no type file: cannot tell, listed", "", true},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        FakeMachine machine;
        if (!row.type.empty())
            machine.setUartType("ttyS3", row.type);
        const std::vector<std::string> expected = row.listed
            ? std::vector<std::string> {"/dev/ttyS3", "/dev/ttyUSB0"}
            : std::vector<std::string> {"/dev/ttyUSB0"};
        CHECK(machine.portList({"/dev/ttyUSB0", "/dev/ttyS3"})() == expected);
    }
}

TEST_CASE("This system's list has no ttyS node without a UART")
{
    SystemPortList ports;
    for (const std::string &path : ports()) {
        const std::string name = path.substr(path.find_last_of('/') + 1);
        std::ifstream type("/sys/class/tty/" + name + "/type");
        std::string value;
        if (name.starts_with("ttyS") && type >> value)
            CHECK_MESSAGE(value != "0", path);
    }
}

// A terminal with a driver behind it is a port; what a USB adapter tells of itself is in the USB
// device's folder above the port's own, wherever the kernel put it.
TEST_CASE("The system's serial devices are read from sysfs, with what USB tells of them")
{
    const TemporaryFolder dir;
    const std::filesystem::path root = dir.path();
    const std::filesystem::path usb = root / "devices/pci0000:00/usb1/1-2";
    const auto write = [](const std::filesystem::path &file, const std::string &text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    };
    write(usb / "idVendor", "0403");
    write(usb / "idProduct", "6001");
    write(usb / "product", "FT232R USB UART");
    write(usb / "manufacturer", "FTDI");
    write(usb / "serial", "A9X1");
    std::filesystem::create_directories(usb / "1-2:1.0/ttyUSB0/driver");
    std::filesystem::create_directories(root / "devices/platform/serial8250/driver");
    const std::filesystem::path tty = root / "class/tty";
    for (const auto &[name, device] : std::vector<std::pair<std::string, std::filesystem::path>> {
             {"ttyUSB0", usb / "1-2:1.0/ttyUSB0"},
             {"ttyS1", root / "devices/platform/serial8250"}}) {
        std::filesystem::create_directories(tty / name);
        std::filesystem::create_directory_symlink(device, tty / name / "device");
    }
    std::filesystem::create_directories(tty / "tty1"); // a virtual console: no device behind it

    std::vector<PortDetails> ports = ReportedSerialPorts(tty);
    std::ranges::sort(ports, {}, &PortDetails::device);
    REQUIRE(ports.size() == 2);
    CHECK(ports[0].device == "/dev/ttyS1");
    CHECK(ports[0].description.empty());
    CHECK_FALSE(ports[0].vendorId);
    CHECK(ports[1].device == "/dev/ttyUSB0");
    CHECK(ports[1].description == "FT232R USB UART");
    CHECK(ports[1].manufacturer == "FTDI");
    CHECK(ports[1].serialNumber == "A9X1");
    CHECK(ports[1].vendorId == 0x0403);
    CHECK(ports[1].productId == 0x6001);
}

TEST_CASE("The list is kept until /dev changes")
{
    const std::pair<long, int> rows[] {
        {100L, 2}, // a second change at the same instant: not listed again
        {200L, 3}, // two changes within one second: listed each time
    };
    for (const auto &[secondChangeNanoseconds, listings] : rows) {
        INFO("second change at " << secondChangeNanoseconds << " ns");
        FakeMachine machine;
        const SystemPortList ports = machine.portList();

        machine.touchDev(1'000'000, 0);
        for (int call = 0; call < 3; ++call)
            CHECK(ports() == std::vector<std::string> {"/dev/ttyUSB0"});
        CHECK(machine.listings.load() == 1);

        machine.touchDev(1'000'000, 100);
        ports();
        machine.touchDev(1'000'000, secondChangeNanoseconds);
        ports();
        const SystemPortList copy = ports; // a copy shares what was listed
        copy();
        CHECK(machine.listings.load() == listings);
    }
}

// The port numbers and what is shown of each port come from one listing, in the same order.
TEST_CASE("The details come from the same listing as the numbers")
{
    FakeMachine machine;
    machine.setUartType("ttyS3", "4");
    const SystemPortList ports = machine.portList({"/dev/ttyUSB0", "/dev/ttyS3"});
    machine.touchDev(1'000'000, 0);

    const std::vector<std::string> devices = ports();
    std::vector<std::string> described;
    for (const PortDetails &port : ports.Details())
        described.push_back(port.device + ": " + port.description);
    CHECK(devices == std::vector<std::string> {"/dev/ttyS3", "/dev/ttyUSB0"});
    CHECK(described
        == std::vector<std::string> {
            "/dev/ttyS3: adapter at /dev/ttyS3", "/dev/ttyUSB0: adapter at /dev/ttyUSB0"});
    CHECK(machine.listings.load() == 1);
}

// udev's links, relative as it makes them; each port gets those that lead to its own node.
TEST_CASE("Each port gets the lasting names that lead to its own node")
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
    CHECK(names
        == std::vector<std::vector<std::string>> {{}, // ttyS4, built in, has none
            {"/dev/serial/by-id/usb-Acme_Relay_A1-if00-port0",
                "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"},
            {"/dev/serial/by-id/usb-Acme_Relay_B2-if00-port0"}});
}

TEST_CASE("A press during the background read waits for it")
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
    CHECK(background.get() == std::vector<std::string> {"/dev/ttyACM0"});
    CHECK(press.get() == std::vector<std::string> {"/dev/ttyACM0"});
    CHECK(machine.listings.load() == 1);
}
