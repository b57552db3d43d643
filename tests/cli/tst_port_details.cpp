#include "serial/port_details.h"

#include <QTest>

using namespace ostrim;

Q_DECLARE_METATYPE(PortDetails)

class TestPortDetails : public QObject
{
    Q_OBJECT

private slots:
    void portLine_data();
    void portLine();
    void numberedInTheListsOrder();
    void matchedToTheDevicesInTheirOrder();
};

void TestPortDetails::portLine_data()
{
    QTest::addColumn<PortDetails>("port");
    QTest::addColumn<QString>("line");

    QTest::newRow("USB adapter with everything known")
        << PortDetails {"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A9X1", 0x0403, 0x6001}
        << "1 = /dev/ttyUSB0: FT232R USB UART, FTDI, serial number A9X1, USB 0403:6001";
    QTest::newRow("ids keep their leading zeros, in lower case") << PortDetails {
        "/dev/ttyACM0", {}, {}, {}, 0x000a, 0x00fe} << "1 = /dev/ttyACM0: USB 000a:00fe";
    QTest::newRow("the console marked; the only port, so none can be used")
        << PortDetails {"/dev/ttyS0", "built-in", {}, {}, {}, {}, true}
        << "1 = /dev/ttyS0 (the system console): built-in\nNo port here can be used, since Ostrim "
           "never writes to the system console: plug in a USB serial adapter, and it shows up as a "
           "new port.";
    QTest::newRow("nothing known: the device alone")
        << PortDetails {"/dev/ttyS1"} << "1 = /dev/ttyS1";
    QTest::newRow("a vendor id without product id is left out")
        << PortDetails {"/dev/ttyUSB1", {}, "Acme", {}, 0x1234, {}} << "1 = /dev/ttyUSB1: Acme";
    QTest::newRow("lasting names on lines of their own")
        << PortDetails {"/dev/ttyUSB0", {}, {}, {}, {}, {}, false,
               {"/dev/serial/by-id/usb-Acme-if00-port0", "/dev/serial/by-path/pci-0:2:1.0-port0"}}
        << "1 = /dev/ttyUSB0\n    /dev/serial/by-id/usb-Acme-if00-port0\n"
           "    /dev/serial/by-path/pci-0:2:1.0-port0";
    QTest::newRow("control characters from the device shown as ?")
        << PortDetails {"/dev/ttyUSB0", "Evil\x1b[2J", "Line\nBreak", "\x7f"}
        << "1 = /dev/ttyUSB0: Evil?[2J, Line?Break, serial number ?";
    QTest::newRow("C1 controls as UTF-8 shown as ?, other characters as they are") << PortDetails {
        "/dev/ttyUSB0",
        "Evil\xc2\x9b"
        "2J caf\xc3\xa9"} << "1 = /dev/ttyUSB0: Evil?2J caf\xc3\xa9";
}

void TestPortDetails::portLine()
{
    QFETCH(PortDetails, port);
    QFETCH(QString, line);
    QCOMPARE(QString::fromStdString(PortListText({port})), line + "\n");
}

void TestPortDetails::numberedInTheListsOrder()
{
    QCOMPARE(PortListText({{"/dev/ttyS0"}, {"/dev/ttyUSB0"}, {"/dev/ttyUSB1"}}),
        "1 = /dev/ttyS0\n2 = /dev/ttyUSB0\n3 = /dev/ttyUSB1\n");
}

void TestPortDetails::matchedToTheDevicesInTheirOrder()
{
    const std::vector<PortDetails> known {{"/dev/ttyUSB1", "second adapter"},
        {"/dev/ttyUSB0", "first adapter"}, {"/dev/ttyX9", "gone"}};
    const std::vector<PortDetails> ports
        = MatchPortDetails({"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/pts/3"}, known,
            [](const std::string &device) { return device == "/dev/ttyS0"; });
    QCOMPARE(QString::fromStdString(PortListText(ports)),
        "1 = /dev/ttyS0 (the system console)\n"
        "2 = /dev/ttyUSB0: first adapter\n"
        "3 = /dev/ttyUSB1: second adapter\n"
        "4 = /dev/pts/3\n");
}

QTEST_GUILESS_MAIN(TestPortDetails)
#include "tst_port_details.moc"
