#include "runtime/action_error.h"
#include "serial/failure_advice.h"

#include <QTest>

using namespace ostrim;

Q_DECLARE_METATYPE(FailureReason)

namespace {

constexpr FaceWords words {"Close it and go on.", "Take another."};

} // namespace

// What a face adds to a failure's message, by the failure's reason.
class TestFailureAdvice : public QObject
{
    Q_OBJECT

private slots:
    void advice_data();
    void advice();
};

void TestFailureAdvice::advice_data()
{
    QTest::addColumn<FailureReason>("reason");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("advice");

    QTest::newRow("in use: the face's own words") << FailureReason::InUse << ""
                                                  << "Close it and go on.";
    QTest::newRow("permission, a serial ports' group may: join it")
        << FailureReason::PermissionDenied << "dialout"
        << "Join the group dialout (sudo usermod -aG dialout $USER), then log out and in again.";
    QTest::newRow("permission, no such group: nothing to join")
        << FailureReason::PermissionDenied << ""
        << "";
    QTest::newRow("console") << FailureReason::Console << ""
                             << "Ostrim does not write to the console. Take another.";
    QTest::newRow("console, and no other port: what to do, not another port")
        << FailureReason::OnlyConsoles << ""
        << "No port here can be used, since Ostrim never writes to the system console: plug in a "
           "USB serial adapter, and it shows up as a new port.";
    QTest::newRow("timeout") << FailureReason::Timeout << ""
                             << "Check the cable and the device's flow control.";
    QTest::newRow("missing: the message lists what exists") << FailureReason::Missing << ""
                                                            << "";
}

void TestFailureAdvice::advice()
{
    QFETCH(FailureReason, reason);
    QFETCH(QString, group);
    QFETCH(QString, advice);

    const ActionError failure(
        FailureKind::SerialLine, 13, "Port 1 (/dev/ttyUSB0) failed.", reason, group.toStdString());
    const std::string shown = WithAdvice(failure.message(), failure, words);
    QCOMPARE(QString::fromStdString(shown), ("Port 1 (/dev/ttyUSB0) failed. " + advice).trimmed());
}

QTEST_APPLESS_MAIN(TestFailureAdvice)
#include "tst_failure_advice.moc"
