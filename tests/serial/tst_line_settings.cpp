#include "runtime/action_error.h"
#include "serial/line_settings.h"

#include <QTest>

using namespace ostrim;

Q_DECLARE_METATYPE(ostrim::LineSettings)

class TestLineSettings : public QObject
{
    Q_OBJECT

private slots:
    void parses_data();
    void parses();
    void refuses_data();
    void refuses();
};

void TestLineSettings::parses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<LineSettings>("expected");

    QTest::newRow("2400,N,8,1") << "2400,N,8,1"
                                << LineSettings {2400, Parity::None, 8, StopBits::One};
    QTest::newRow("9600,E,7,2") << "9600,E,7,2"
                                << LineSettings {9600, Parity::Even, 7, StopBits::Two};
    QTest::newRow("115200,o,5,1.5 (lower-case parity)")
        << "115200,o,5,1.5" << LineSettings {115200, Parity::Odd, 5, StopBits::OneAndHalf};
    QTest::newRow("300,M,6,1") << "300,M,6,1" << LineSettings {300, Parity::Mark, 6, StopBits::One};
    QTest::newRow("110,S,8,2") << "110,S,8,2"
                               << LineSettings {110, Parity::Space, 8, StopBits::Two};
}

void TestLineSettings::parses()
{
    QFETCH(QString, text);
    QFETCH(LineSettings, expected);
    QVERIFY(ParseLineSettings(text.toStdString()) == expected);
}

void TestLineSettings::refuses_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("three fields") << "2400,N,8";
    QTest::newRow("five fields") << "2400,N,8,1,1";
    QTest::newRow("non-standard baud rate 2401") << "2401,N,8,1";
    QTest::newRow("baud rate with a blank") << " 2400,N,8,1";
    QTest::newRow("baud rate 0") << "0,N,8,1";
    QTest::newRow("parity X") << "2400,X,8,1";
    QTest::newRow("parity NN") << "2400,NN,8,1";
    QTest::newRow("9 data bits") << "2400,N,9,1";
    QTest::newRow("4 data bits") << "2400,N,4,1";
    QTest::newRow("3 stop bits") << "2400,N,8,3";
    QTest::newRow("stop bits 1.0") << "2400,N,8,1.0";
}

void TestLineSettings::refuses()
{
    QFETCH(QString, text);
    try {
        ParseLineSettings(text.toStdString());
        QFAIL("accepted");
    } catch (const ActionError &error) {
        QCOMPARE(error.kind(), FailureKind::SerialLine);
        const std::string quoted = "\"" + text.toStdString() + "\"";
        QVERIFY2(error.message().find(quoted) != std::string::npos, error.what());
    }
}

QTEST_APPLESS_MAIN(TestLineSettings)
#include "tst_line_settings.moc"
