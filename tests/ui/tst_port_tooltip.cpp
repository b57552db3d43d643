#include "action_fixtures.h"
#include "console_declared.h"
#include "pseudo_terminal.h"
#include "ui/qt/frm_main.h"

#include <QHelpEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace ostrim;

namespace {

void NoMessage(QWidget &, const QString &text)
{
    QFAIL(qPrintable("unexpected message: " + text));
}

QString AskTooltip(QLineEdit &entry)
{
    QHelpEvent event(QEvent::ToolTip, QPoint(2, 2), entry.mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(&entry, &event);
    return entry.toolTip();
}

// The window takes no address: where no port can be used, it sends its user to the command line.
const QString elsewhere = "A board behind a serial device server is reached from the command line: "
                          "ostrim --device rfc2217://HOST:PORT.";

} // namespace

// The Port entry's tooltip is the port list, read when the tooltip is asked for.
class TestPortTooltip : public QObject
{
    Q_OBJECT

private slots:
    void listedWhenAskedNotBefore();
    void onlyTheConsoleLeavesNoPortToEnter();
};

void TestPortTooltip::listedWhenAskedNotBefore()
{
    std::vector<std::string> devices {"/dev/ostrim-test-a"};
    int listings = 0;
    FrmMain window(NoMessage, [&] {
        ++listings;
        return devices;
    });
    auto *txtPort = window.findChild<QLineEdit *>(QStringLiteral("TxtPort"));
    QVERIFY(txtPort);
    QCOMPARE(listings, 0);

    QCOMPARE(AskTooltip(*txtPort), QStringLiteral("1 = /dev/ostrim-test-a"));
    QCOMPARE(listings, 1);

    devices.push_back("/dev/ostrim-test-b");
    QCOMPARE(
        AskTooltip(*txtPort), QStringLiteral("1 = /dev/ostrim-test-a\n2 = /dev/ostrim-test-b"));

    devices.clear();
    const QString none = AskTooltip(*txtPort);
    QVERIFY(none.startsWith("This system has no serial port"));
    QVERIFY(none.endsWith("\n" + elsewhere));
}

// The console is a pseudo-terminal declared as such in a sysfs of the test's own.
void TestPortTooltip::onlyTheConsoleLeavesNoPortToEnter()
{
    PseudoTerminal console;
    const ConsoleDeclared sysfs(console.devicePath());
    LineEnvironment environment;
    environment.sysClassTty = sysfs.path();
    QStringList messages;
    FrmMain window([&](QWidget &, const QString &text) { messages.append(text); },
        PortsAre({console.devicePath()}), environment);
    const QString device = QString::fromStdString(console.devicePath());
    const QString none = "No port here can be used, since Ostrim never writes to the system "
                         "console: plug in a USB serial adapter, and it shows up as a new port.";

    auto *txtPort = window.findChild<QLineEdit *>(QStringLiteral("TxtPort"));
    QCOMPARE(AskTooltip(*txtPort),
        "1 = " + device + " (the system console)\n" + none + "\n" + elsewhere);
    window.findChild<QLineEdit *>(QStringLiteral("TxtAddress"))->setText(QStringLiteral("7"));
    txtPort->setText(QStringLiteral("1"));
    window.findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    QCOMPARE(messages,
        QStringList(
            {"Port 1 (" + device + ") is this system's console. " + none + " " + elsewhere}));
    QVERIFY(console.readAll(std::chrono::milliseconds(50)).empty());
}

QTEST_MAIN(TestPortTooltip)
#include "tst_port_tooltip.moc"
