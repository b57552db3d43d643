#include "runtime/action_error.h"
#include "runtime/readings.h"

#include <cmath>
#include <string>

#include <QTest>

using namespace ostrim;
using namespace std::string_literals;

Q_DECLARE_METATYPE(ostrim::FailureKind)

class TestReadings : public QObject
{
    Q_OBJECT

private slots:
    void leadingNumber_data();
    void leadingNumber();
    void leadingNumberBeyondDouble_data();
    void leadingNumberBeyondDouble();
    void toInt16_data();
    void toInt16();
    void textToInt32_data();
    void textToInt32();
    void textToInt32Failures_data();
    void textToInt32Failures();
    void messagesQuoteLongTextShort();
};

void TestReadings::leadingNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("empty -> 0") << QByteArray("") << 0.0;
    QTest::newRow("blanks only -> 0") << QByteArray(" \t\r\n") << 0.0;
    QTest::newRow("letters -> 0") << QByteArray("abc") << 0.0;
    QTest::newRow("12 -> 12") << QByteArray("12") << 12.0;
    QTest::newRow("blanks before 2 -> 2") << QByteArray("  \t\r\n2") << 2.0;
    QTest::newRow("1abc -> 1 (stops at the letter)") << QByteArray("1abc") << 1.0;
    QTest::newRow("2 followed by blanks -> 2") << QByteArray("2   ") << 2.0;
    QTest::newRow("1 2 -> 1 (no blanks inside)") << QByteArray("1 2") << 1.0;
    QTest::newRow("2.5 -> 2.5") << QByteArray("2.5") << 2.5;
    QTest::newRow(".5 -> 0.5") << QByteArray(".5") << 0.5;
    QTest::newRow("5. -> 5") << QByteArray("5.") << 5.0;
    QTest::newRow("1.2.3 -> 1.2 (one point)") << QByteArray("1.2.3") << 1.2;
    QTest::newRow("lone point -> 0") << QByteArray(".") << 0.0;
    QTest::newRow("-1 -> -1") << QByteArray("-1") << -1.0;
    QTest::newRow("+3 -> 3") << QByteArray("+3") << 3.0;
    QTest::newRow("sign alone -> 0") << QByteArray("-") << 0.0;
    QTest::newRow("+-1 -> 0") << QByteArray("+-1") << 0.0;
    QTest::newRow("- 1 -> 0 (blank after sign)") << QByteArray("- 1") << 0.0;
    QTest::newRow("1,5 -> 1 (comma is no decimal point)") << QByteArray("1,5") << 1.0;
    QTest::newRow("1e3 -> 1000") << QByteArray("1e3") << 1000.0;
    QTest::newRow("1E+2 -> 100") << QByteArray("1E+2") << 100.0;
    QTest::newRow("25e-1 -> 2.5") << QByteArray("25e-1") << 2.5;
    QTest::newRow("1e -> 1 (no exponent digit)") << QByteArray("1e") << 1.0;
    QTest::newRow("1e+ -> 1") << QByteArray("1e+") << 1.0;
    QTest::newRow("2ex -> 2") << QByteArray("2ex") << 2.0;
    QTest::newRow("0x10 -> 0 (no radix prefix)") << QByteArray("0x10") << 0.0;
    QTest::newRow("&H10 -> 0") << QByteArray("&H10") << 0.0;
    QTest::newRow("inf -> 0") << QByteArray("inf") << 0.0;
    QTest::newRow("nan -> 0") << QByteArray("nan") << 0.0;
    QTest::newRow("1e-400 -> 0 (too small, not too large)") << QByteArray("1e-400") << 0.0;
    QTest::newRow("0.000...1e-300 -> 0") << QByteArray("0.0000000001e-300") << 0.0;
    QTest::newRow("0e999999 -> 0") << QByteArray("0e999999") << 0.0;
    QTest::newRow("1.7976931348623157e308 -> largest double")
        << QByteArray("1.7976931348623157e308") << 1.7976931348623157e308;
    QTest::newRow("leading zeros") << QByteArray("0007") << 7.0;
    QTest::newRow("Arabic-Indic digit is no digit") << QByteArray("\xd9\xa3") << 0.0;
    QTest::newRow("vertical tab is no blank -> 0") << QByteArray("\v2") << 0.0;
    QTest::newRow("form feed is no blank -> 0") << QByteArray("\f2") << 0.0;
    QTest::newRow("no-break space is no blank -> 0") << QByteArray("\xc2\xa0"
                                                                   "2")
                                                     << 0.0;

    // Digits far beyond what a double holds, and an exponent that brings them back into range:
    // the value is what the whole text says, however long the digits or the exponent.
    const QByteArray thousandFiveHundredZeros(1500, '0');
    QTest::newRow("1 and 1,500 zeros, e-1500 -> 1")
        << "1" + thousandFiveHundredZeros + "e-1500" << 1.0;
    QTest::newRow("1 and 1,500 zeros, e-1498 -> 100")
        << "1" + thousandFiveHundredZeros + "e-1498" << 100.0;
    QTest::newRow("1 and 1,500 zeros, e-1900 -> 0 (1e-400, too small)")
        << "1" + thousandFiveHundredZeros + "e-1900" << 0.0;
    QTest::newRow("0.(1,500 zeros)25e1501 -> 2.5")
        << "0." + thousandFiveHundredZeros + "25e1501" << 2.5;
}

void TestReadings::leadingNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(double, expected);
    try {
        QCOMPARE(LeadingNumber(text.toStdString()), expected);
    } catch (const ActionError &error) {
        QFAIL(error.what());
    }
}

void TestReadings::leadingNumberBeyondDouble_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("1e400") << QByteArray("1e400");
    QTest::newRow("-1e400") << QByteArray("-1e400");
    QTest::newRow("1.8e308 followed by letters") << QByteArray("  1.8e308abc");
    QTest::newRow("exponent with twenty digits") << QByteArray("1e99999999999999999999");
    QTest::newRow("four hundred digits") << QByteArray(400, '9');
    QTest::newRow("0.001e312 is 1e309") << QByteArray("0.001e312");
    QTest::newRow("just past the largest double") << QByteArray("1.7976931348623159e308");
    const QByteArray thousandFiveHundredZeros(1500, '0');
    QTest::newRow("1 and 1,500 zeros, e-1100 is 1e400")
        << "1" + thousandFiveHundredZeros + "e-1100";
    QTest::newRow("0.(1,500 zeros)1e1900 is 1e399") << "0." + thousandFiveHundredZeros + "1e1900";
}

void TestReadings::leadingNumberBeyondDouble()
{
    QFETCH(QByteArray, text);
    try {
        LeadingNumber(text.toStdString());
        QFAIL("no failure");
    } catch (const ActionError &error) {
        QCOMPARE(error.kind(), FailureKind::Overflow);
        QVERIFY2(error.message().starts_with("Overflow"), error.what());
        QVERIFY2(error.message().size() < 120, error.what());
    }
}

void TestReadings::toInt16_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("expected");

    QTest::newRow("2.5 -> 2 (ties to even)") << 2.5 << true << 2;
    QTest::newRow("3.5 -> 4 (ties to even)") << 3.5 << true << 4;
    QTest::newRow("-2.5 -> -2 (ties to even)") << -2.5 << true << -2;
    QTest::newRow("-3.5 -> -4 (ties to even)") << -3.5 << true << -4;
    QTest::newRow("0.5 -> 0") << 0.5 << true << 0;
    QTest::newRow("0.4 -> 0") << 0.4 << true << 0;
    QTest::newRow("1.5000001 -> 2") << 1.5000001 << true << 2;
    QTest::newRow("2.4999999 -> 2") << 2.4999999 << true << 2;
    QTest::newRow("32767 fits") << 32767.0 << true << 32767;
    QTest::newRow("32767.4 -> 32767") << 32767.4 << true << 32767;
    QTest::newRow("-32768 fits") << -32768.0 << true << -32768;
    QTest::newRow("-32768.5 -> -32768 (range checked after rounding)")
        << -32768.5 << true << -32768;
    QTest::newRow("32767.5 -> 32768 overflows") << 32767.5 << false << 0;
    QTest::newRow("32768 overflows") << 32768.0 << false << 0;
    QTest::newRow("-32768.6 overflows") << -32768.6 << false << 0;
    QTest::newRow("70000 overflows") << 70000.0 << false << 0;
    QTest::newRow("1e300 overflows") << 1e300 << false << 0;
}

void TestReadings::toInt16()
{
    QFETCH(double, value);
    QFETCH(bool, fits);
    QFETCH(int, expected);
    if (fits) {
        QCOMPARE(int {ToInt16(value)}, expected);
        return;
    }
    try {
        ToInt16(value);
        QFAIL("no failure");
    } catch (const ActionError &error) {
        QCOMPARE(error.kind(), FailureKind::Overflow);
        QVERIFY2(error.message().find("16-bit") != std::string::npos, error.what());
    }
}

void TestReadings::textToInt32_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint32>("expected");

    QTest::newRow("7") << QByteArray("7") << 7;
    QTest::newRow("blanks around 7") << QByteArray(" \t7\r\n ") << 7;
    QTest::newRow("+7") << QByteArray("+7") << 7;
    QTest::newRow("-5") << QByteArray("-5") << -5;
    QTest::newRow("0.4 -> 0") << QByteArray("0.4") << 0;
    QTest::newRow("254.5 -> 254 (ties to even)") << QByteArray("254.5") << 254;
    QTest::newRow("255.5 -> 256 (ties to even)") << QByteArray("255.5") << 256;
    QTest::newRow("1e2 -> 100") << QByteArray("1e2") << 100;
    QTest::newRow("12. -> 12") << QByteArray("12.") << 12;
    QTest::newRow(".5 -> 0") << QByteArray(".5") << 0;
    QTest::newRow("1e-400 -> 0") << QByteArray("1e-400") << 0;
    QTest::newRow("2147483647 fits") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("-2147483648 fits") << QByteArray("-2147483648") << qint32(-2147483647 - 1);
    QTest::newRow("-2147483648.5 -> -2147483648 (ties to even)")
        << QByteArray("-2147483648.5") << qint32(-2147483647 - 1);
}

void TestReadings::textToInt32()
{
    QFETCH(QByteArray, text);
    QFETCH(qint32, expected);
    QCOMPARE(TextToInt32(text.toStdString()), expected);
}

void TestReadings::textToInt32Failures_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<FailureKind>("kind");

    const auto mismatch = FailureKind::TypeMismatch;
    QTest::newRow("empty: type mismatch") << QByteArray("") << mismatch;
    QTest::newRow("blanks only: type mismatch") << QByteArray("   ") << mismatch;
    QTest::newRow("vertical tab after 7: type mismatch") << QByteArray("7\v") << mismatch;
    QTest::newRow("form feed before 7: type mismatch") << QByteArray("\f7") << mismatch;
    QTest::newRow("12x: type mismatch") << QByteArray("12x") << mismatch;
    QTest::newRow("1 2: type mismatch") << QByteArray("1 2") << mismatch;
    QTest::newRow("sign alone: type mismatch") << QByteArray("+") << mismatch;
    QTest::newRow("lone point: type mismatch") << QByteArray(".") << mismatch;
    QTest::newRow("1e: type mismatch") << QByteArray("1e") << mismatch;
    QTest::newRow("0x1F: type mismatch") << QByteArray("0x1F") << mismatch;
    QTest::newRow("1,5: type mismatch") << QByteArray("1,5") << mismatch;
    QTest::newRow("--1: type mismatch") << QByteArray("--1") << mismatch;
    QTest::newRow("NUL inside: type mismatch") << QByteArray("1\0"
                                                             "2",
        3) << mismatch;

    const auto overflow = FailureKind::Overflow;
    QTest::newRow("2147483648: overflow") << QByteArray("2147483648") << overflow;
    QTest::newRow("2147483647.5 -> 2147483648: overflow") << QByteArray("2147483647.5") << overflow;
    QTest::newRow("-2147483649: overflow") << QByteArray("-2147483649") << overflow;
    QTest::newRow("1e400: overflow") << QByteArray("1e400") << overflow;
}

void TestReadings::textToInt32Failures()
{
    QFETCH(QByteArray, text);
    QFETCH(FailureKind, kind);
    try {
        TextToInt32(std::string(text.constData(), static_cast<std::size_t>(text.size())));
        QFAIL("no failure");
    } catch (const ActionError &error) {
        QCOMPARE(error.kind(), kind);
        QCOMPARE(error.number(), static_cast<int>(kind));
    }
}

void TestReadings::messagesQuoteLongTextShort()
{
    const std::string typed = "12x" + std::string(10'000, 'y') + "\n\xc3\xa9";
    try {
        TextToInt32(typed);
        QFAIL("no failure");
    } catch (const ActionError &error) {
        const std::string message = error.message();
        QVERIFY2(message.size() < 100, message.c_str());
        QVERIFY(message.find("\"12xyyy") != std::string::npos);
        QVERIFY(message.find('\n') == std::string::npos);
    }
}

QTEST_APPLESS_MAIN(TestReadings)
#include "tst_readings.moc"
