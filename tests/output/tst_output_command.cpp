#include "output/output_command.h"
#include "runtime/action_error.h"

#include <QTest>

using namespace ostrim;

Q_DECLARE_METATYPE(ostrim::OutputStates)

class TestOutputCommand : public QObject
{
    Q_OBJECT

private slots:
    void mask_data();
    void mask();
    void frame_data();
    void frame();
};

void TestOutputCommand::mask_data()
{
    QTest::addColumn<OutputStates>("states");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("expected");

    QTest::newRow("none ticked -> 0x00") << OutputStates {0, 0, 0, 0} << true << 0x00;
    QTest::newRow("all ticked -> 0xF0") << OutputStates {1, 1, 1, 1} << true << 0xF0;
    QTest::newRow("Output 1 -> 0x80") << OutputStates {1, 0, 0, 0} << true << 0x80;
    QTest::newRow("Output 4 -> 0x10") << OutputStates {0, 0, 0, 1} << true << 0x10;
    QTest::newRow("Outputs 2 and 3 -> 0x60") << OutputStates {0, 1, 1, 0} << true << 0x60;
    QTest::newRow("Outputs 1 and 3 -> 0xA0") << OutputStates {1, 0, 1, 0} << true << 0xA0;
    QTest::newRow("state 2 scales its weight (sum, not OR)")
        << OutputStates {2, 0, 0, 0} << true << 256;
    // Raw states whose weighted products share bits: an OR of two of them gives less.
    QTest::newRow("Output 1 at 1, Output 2 at 2: 128 + 128 = 256")
        << OutputStates {1, 2, 0, 0} << true << 256;
    QTest::newRow("Output 2 at 1, Output 3 at 2: 64 + 64 = 128")
        << OutputStates {0, 1, 2, 0} << true << 128;
    QTest::newRow("Output 2 at 3, Output 3 at 2: 192 + 64 = 256")
        << OutputStates {0, 3, 2, 0} << true << 256;
    QTest::newRow("Output 2 at 1, Output 3 at -1: 64 - 32 = 32")
        << OutputStates {0, 1, -1, 0} << true << 32;
    QTest::newRow("Output 3 at 1, Output 4 at 2: 32 + 32 = 64")
        << OutputStates {0, 0, 1, 2} << true << 64;
    QTest::newRow("-256 * 128 = -32768 still fits")
        << OutputStates {-256, 0, 0, 0} << true << -32768;
    QTest::newRow("255 * 128 + 64 = 32704 fits") << OutputStates {255, 1, 0, 0} << true << 32704;
    QTest::newRow("256 * 128 overflows in the product")
        << OutputStates {256, 0, 0, 0} << false << 0;
    QTest::newRow("255 * 128 + 2 * 64 overflows in the sum")
        << OutputStates {255, 2, 0, 0} << false << 0;
    QTest::newRow("2048 * 16 overflows in the last product")
        << OutputStates {0, 0, 0, 2048} << false << 0;
    QTest::newRow("-256 * 128 - 16 overflows in the last sum")
        << OutputStates {-256, 0, 0, -1} << false << 0;
}

void TestOutputCommand::mask()
{
    QFETCH(OutputStates, states);
    QFETCH(bool, fits);
    QFETCH(int, expected);
    if (fits) {
        QCOMPARE(int {OutputMask(states)}, expected);
        return;
    }
    try {
        OutputMask(states);
        QFAIL("no failure");
    } catch (const ActionError &error) {
        QCOMPARE(error.kind(), FailureKind::Overflow);
    }
}

void TestOutputCommand::frame_data()
{
    QTest::addColumn<qint32>("address");
    QTest::addColumn<int>("mask");
    QTest::addColumn<QByteArray>("expected"); // empty: an invalid argument
    QTest::addColumn<QString>("blamed"); // the value the message names

    QTest::newRow("address 5, none ticked -> 05 00")
        << 5 << 0x00 << QByteArray("\x05\x00", 2) << QString();
    QTest::newRow("address 255, all ticked -> FF F0")
        << 255 << 0xF0 << QByteArray("\xFF\xF0") << QString();
    QTest::newRow("address 0 is a legal byte -> 00 80")
        << 0 << 0x80 << QByteArray("\x00\x80", 2) << QString();
    QTest::newRow("address 256 refused") << 256 << 0x80 << QByteArray() << "256";
    QTest::newRow("address -1 refused") << -1 << 0x80 << QByteArray() << "-1";
    QTest::newRow("address 300 and mask 256: the address is blamed")
        << 300 << 256 << QByteArray() << "300";
    QTest::newRow("mask 256 refused") << 7 << 256 << QByteArray() << "256";
    QTest::newRow("negative mask refused") << 7 << -16 << QByteArray() << "-16";
}

void TestOutputCommand::frame()
{
    QFETCH(qint32, address);
    QFETCH(int, mask);
    QFETCH(QByteArray, expected);
    QFETCH(QString, blamed);
    try {
        const Frame frame = OutputCommand(address, static_cast<std::int16_t>(mask));
        QVERIFY2(!expected.isEmpty(), "built a frame from an invalid value");
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame.data()), 2), expected);
    } catch (const ActionError &error) {
        QVERIFY2(expected.isEmpty(), error.what());
        QCOMPARE(error.kind(), FailureKind::InvalidArgument);
        QVERIFY2(error.message().find(" " + blamed.toStdString() + " ") != std::string::npos,
            error.what());
    }
}

QTEST_APPLESS_MAIN(TestOutputCommand)
#include "tst_output_command.moc"
