#include "serial/system_ports.h"

#include <chrono>
#include <fstream>

#include <QTest>

using namespace ostrim;

class TestSystemPorts : public QObject
{
    Q_OBJECT

private slots:
    void naturalOrder_data();
    void naturalOrder();
    void ttySFirstAndPhantomsLeftOut();
    void systemListHasNoPhantomTtyS();
    void repeatedListingIsCheap();
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

void TestSystemPorts::repeatedListingIsCheap()
{
    SystemPortList ports;
    const std::vector<std::string> first = ports();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i)
        QCOMPARE(ports(), first);
    const auto perCall = (std::chrono::steady_clock::now() - start) / 100;
    // A listing from scratch costs about 10 ms; an unchanged /dev must not pay it again.
    QVERIFY2(perCall < std::chrono::milliseconds(1),
        qPrintable(QString::number(perCall.count()) + " ns per call"));
}

QTEST_GUILESS_MAIN(TestSystemPorts)
#include "tst_system_ports.moc"
