#include "runtime/action_error.h"
#include "runtime/checked16.h"

#include <QTest>

using namespace ostrim;

class TestChecked16 : public QObject
{
    Q_OBJECT

private slots:
    void atTheBounds_data();
    void atTheBounds();
};

// Each bound from both sides: the last value that fits, and the first one past it.
void TestChecked16::atTheBounds_data()
{
    QTest::addColumn<char>("operation");
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<bool>("fits");

    QTest::newRow("32766 + 1 = 32767 fits") << '+' << 32766 << 1 << true;
    QTest::newRow("32767 + 0 = 32767 fits") << '+' << 32767 << 0 << true;
    QTest::newRow("32767 + 1 = 32768 overflows") << '+' << 32767 << 1 << false;
    QTest::newRow("16384 + 16384 = 32768 overflows") << '+' << 16384 << 16384 << false;
    QTest::newRow("-32767 + -1 = -32768 fits") << '+' << -32767 << -1 << true;
    QTest::newRow("-32768 + -1 = -32769 overflows") << '+' << -32768 << -1 << false;
    QTest::newRow("-32768 + 32767 = -1 fits") << '+' << -32768 << 32767 << true;
    QTest::newRow("32767 * 1 = 32767 fits") << '*' << 32767 << 1 << true;
    QTest::newRow("128 * 256 = 32768 overflows") << '*' << 128 << 256 << false;
    QTest::newRow("-128 * 256 = -32768 fits") << '*' << -128 << 256 << true;
    QTest::newRow("-32768 * 1 = -32768 fits") << '*' << -32768 << 1 << true;
    QTest::newRow("-32768 * -1 = 32768 overflows") << '*' << -32768 << -1 << false;
    QTest::newRow("-32767 * -1 = 32767 fits") << '*' << -32767 << -1 << true;
    QTest::newRow("-129 * 254 = -32766 fits") << '*' << -129 << 254 << true;
    QTest::newRow("-257 * 128 = -32896 overflows") << '*' << -257 << 128 << false;
}

void TestChecked16::atTheBounds()
{
    QFETCH(char, operation);
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(bool, fits);
    const auto first = static_cast<std::int16_t>(a);
    const auto second = static_cast<std::int16_t>(b);
    const int exact = operation == '+' ? a + b : a * b;
    try {
        const std::int16_t result
            = operation == '+' ? checked16::Add(first, second) : checked16::Multiply(first, second);
        QVERIFY2(fits, qPrintable(QStringLiteral("gave %1").arg(result)));
        QCOMPARE(int {result}, exact);
    } catch (const ActionError &error) {
        QVERIFY2(!fits, error.what());
        QCOMPARE(error.kind(), FailureKind::Overflow);
        // The operation is all the message can name: no text the user typed overflowed here.
        const std::string operands = std::to_string(a) + ' ' + operation + ' ' + std::to_string(b);
        QVERIFY2(error.message().find(operands) != std::string::npos, error.what());
    }
}

QTEST_APPLESS_MAIN(TestChecked16)
#include "tst_checked16.moc"
