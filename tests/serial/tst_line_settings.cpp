#include "runtime/action_error.h"
#include "serial/line_settings.h"

#include <utility>

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

    // The parity letter is taken in either case, each of the five.
    const std::pair<const char *, Parity> letters[] = {{"N", Parity::None}, {"n", Parity::None},
        {"E", Parity::Even}, {"e", Parity::Even}, {"O", Parity::Odd}, {"o", Parity::Odd},
        {"M", Parity::Mark}, {"m", Parity::Mark}, {"S", Parity::Space}, {"s", Parity::Space}};
    for (const auto &[letter, parity] : letters) {
        const QString text = QStringLiteral("2400,%1,8,1").arg(QLatin1String(letter));
        QTest::newRow(qPrintable("parity " + text))
            << text << LineSettings {2400, parity, 8, StopBits::One};
    }
}

void TestLineSettings::parses()
{
    QFETCH(QString, text);
    QFETCH(LineSettings, expected);
    try {
        QVERIFY(ParseLineSettings(text.toStdString()) == expected);
    } catch (const ActionError &error) {
        QFAIL(error.what());
    }
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
    QTest::newRow("parity x (no letter in either case)") << "2400,x,8,1";
    QTest::newRow("parity empty") << "2400,,8,1";
    QTest::newRow("parity N with a trailing blank") << "2400,N ,8,1";
    QTest::newRow("baud rate 2400x") << "2400x,N,8,1";
    QTest::newRow("baud rate 2400 with a trailing blank") << "2400 ,N,8,1";
    QTest::newRow("baud rate 2400.0") << "2400.0,N,8,1";
    QTest::newRow("baud rate +2400") << "+2400,N,8,1";
    QTest::newRow("baud rate empty") << ",N,8,1";
    QTest::newRow("data bits 8x") << "2400,N,8x,1";
    QTest::newRow("data bits 8 with a trailing blank") << "2400,N,8 ,1";
    QTest::newRow("data bits 8.0") << "2400,N,8.0,1";
    QTest::newRow("data bits empty") << "2400,N,,1";
    QTest::newRow("stop bits 1x") << "2400,N,8,1x";
    QTest::newRow("stop bits 1.5x") << "2400,N,8,1.5x";
    QTest::newRow("stop bits 1 with a trailing blank") << "2400,N,8,1 ";
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
