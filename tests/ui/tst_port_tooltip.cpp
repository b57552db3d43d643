#include "action_fixtures.h"
#include "ui/qt/frm_main.h"

#include <QHelpEvent>
#include <QLineEdit>
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

} // namespace

// The Port entry's tooltip is the port list, read when the tooltip is asked for.
class TestPortTooltip : public QObject
{
    Q_OBJECT

private slots:
    void listedWhenAskedNotBefore();
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
    QVERIFY(AskTooltip(*txtPort).startsWith("This system has no serial port"));
}

QTEST_MAIN(TestPortTooltip)
#include "tst_port_tooltip.moc"
