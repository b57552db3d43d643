#include "ostrim_version.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

// The built program as a user's shell starts it: no display, no platform chosen.
class TestOstrimProcess : public QObject
{
    Q_OBJECT

private slots:
    void commandLineNeedsNoDisplay_data();
    void commandLineNeedsNoDisplay();
};

void TestOstrimProcess::commandLineNeedsNoDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    QTest::newRow("--version")
        << QStringList {"--version"} << 0
        << QString("^Ostrim %1\\n$").arg(QRegularExpression::escape(ostrim::VersionText)) << "^$";
    QTest::newRow("--help") << QStringList {"--help"} << 0
                            << "Usage: .*--list-ports.*--port.*--address.*--on.*Exit codes"
                            << "^$";
    QTest::newRow("usage error: --on 5")
        << QStringList {"--port", "0", "--address", "7", "--on", "5"} << 2 << "^$"
        << "^ostrim: --on .*\\nTry 'ostrim --help' for more information.\\n$";
    // The toolkit's own words about plugins and reinstalling, and its abort, say nothing useful.
    QTest::newRow("no arguments and no display: one line, exit 1")
        << QStringList {} << 1 << "^$"
        << "^ostrim: there is no display to open the window on; ostrim --help shows the command "
           "line\\n$";
    QTest::newRow("a message: no such device")
        << QStringList {"--device", "/dev/serial/by-id/usb-gone", "--address", "7"} << 1 << "^$"
        << "^ostrim: /dev/serial/by-id/usb-gone does not exist or was disconnected.\\n$";
    // Refused before they are opened: opening /dev/ptmx alone makes a new terminal pair.
    for (const char *device : {"/dev/ptmx", "/dev/tty"}) {
        QTest::addRow("no serial port: %s", device) << QStringList {"--device", device, "--address",
            "7"} << 1 << "^$" << QString("^ostrim: %1 is not a serial device.\\n$").arg(device);
    }
}

void TestOstrimProcess::commandLineNeedsNoDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    QProcess ostrim;
    ostrim.setProcessEnvironment(environment);
    ostrim.start(QStringLiteral(OSTRIM_PROGRAM), arguments);
    QVERIFY2(ostrim.waitForFinished(-1), qPrintable(ostrim.errorString()));

    const QString standardOut = QString::fromUtf8(ostrim.readAllStandardOutput());
    const QString standardErr = QString::fromUtf8(ostrim.readAllStandardError());
    QCOMPARE(ostrim.exitStatus(), QProcess::NormalExit);
    QVERIFY2(ostrim.exitCode() == exitCode, qPrintable(standardErr));
    const auto matches = [](const QString &pattern, const QString &text) {
        return QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption)
            .match(text)
            .hasMatch();
    };
    QVERIFY2(matches(out, standardOut), qPrintable(standardOut));
    QVERIFY2(matches(err, standardErr), qPrintable(standardErr));
}

QTEST_GUILESS_MAIN(TestOstrimProcess)
#include "tst_ostrim_process.moc"
