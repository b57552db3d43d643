#include "action_fixtures.h"
#include "pseudo_terminal.h"
#include "ui/qt/frm_main.h"

#include <algorithm>
#include <atomic>
#include <functional>

#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <sys/file.h>

using namespace ostrim;
using namespace std::chrono_literals;

namespace {

// Stands in for the modal box, so that a press can be followed without a nested event loop.
class MessageLog
{
public:
    FrmMain::MessageFunction Recorder()
    {
        return [this](QWidget &, const QString &text) { texts.append(text); };
    }

    QStringList texts;
};

// No test may reach a real port: on a machine whose console is its first serial port, port 1
// would be that console.
PortList NoPorts()
{
    return PortsAre({});
}

template<typename Widget>
Widget *Child(const QWidget &window, const QString &name)
{
    const QList<Widget *> found = window.findChildren<Widget *>(name);
    return found.size() == 1 ? found.front() : nullptr;
}

QList<QCheckBox *> OutputBoxes(const QWidget &window)
{
    QList<QCheckBox *> boxes = window.findChildren<QCheckBox *>(QStringLiteral("ChkOutput"));
    std::sort(boxes.begin(), boxes.end(), [](const QCheckBox *a, const QCheckBox *b) {
        return a->property("index").toInt() < b->property("index").toInt();
    });
    return boxes;
}

// A shortcut presses the button for a moment before it clicks, as a user sees it do.
[[nodiscard]] bool ClickDone(const QWidget &window)
{
    const auto *button = window.findChild<QPushButton *>(QStringLiteral("Command1"));
    return QTest::qWaitFor([button] { return !button->isDown(); });
}

[[nodiscard]] bool ShowActive(QWidget &window)
{
    window.show();
    return QTest::qWaitForWindowActive(&window);
}

QString Describe(const QWidget *widget)
{
    if (!widget)
        return QStringLiteral("(none)");
    const QVariant index = widget->property("index");
    return index.isValid() ? widget->objectName() + index.toString() : widget->objectName();
}

QString Describe(const QRect &rect)
{
    return QStringLiteral("%1,%2 %3x%4")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height());
}

// What a real message box showed, read while it was open.
struct SeenBox
{
    bool found = false;
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::Information;
    QList<QMessageBox::StandardButton> buttons;
    bool modal = false;
    QWidget *parent = nullptr;
};

// Runs trigger, which is to open a message box, and closes the box with Return once it is up.
SeenBox ShowAndClose(const std::function<void()> &trigger)
{
    SeenBox seen;
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (box && box->isVisible()) {
            poll.stop();
            seen.found = true;
            seen.title = box->windowTitle();
            seen.text = box->text();
            if (const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
                seen.format = label->textFormat();
            seen.icon = box->icon();
            for (QAbstractButton *button : box->buttons())
                seen.buttons.append(box->standardButton(button));
            seen.modal = box->isModal();
            seen.parent = box->parentWidget();
            QTest::keyClick(box, Qt::Key_Return);
        } else if (waited.elapsed() > 5000) {
            poll.stop();
            if (modal)
                modal->close();
        }
    });
    poll.start(10);
    trigger();
    return seen;
}

// A style that gives check boxes and buttons more room than the platform's, as a desktop theme
// with larger indicators and margins would.
class RoomierStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    int pixelMetric(
        PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        const int base = QProxyStyle::pixelMetric(metric, option, widget);
        switch (metric) {
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
        case PM_CheckBoxLabelSpacing:
        case PM_ButtonMargin:
            return 3 * base;
        default:
            return base;
        }
    }
};

// What changes while the window is open.
enum class Change { ApplicationFont, ApplicationStyle, ControlsStyle };

} // namespace

Q_DECLARE_METATYPE(Change)

class TestFrmMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void controls_data();
    void controls();
    void outputBoxes();
    void fixedWindowWithOnlyACloseBox();
    void entriesTakeAnyText();
    void entriesHaveAccessibleNames();

    void designPositionsWhereTheCaptionsFit();
    void captionsWholeAtAnyFont_data();
    void captionsWholeAtAnyFont();
    void followsAChangeWhileOpen_data();
    void followsAChangeWhileOpen();

    void focusStartsOnSetOutputsThenTabOrder();
    void eachPressRunsTheActionOnce_data();
    void eachPressRunsTheActionOnce();
    void mouseActsOnReleaseOverTheButton_data();
    void mouseActsOnReleaseOverTheButton();
    void entriesSurviveEveryEnding_data();
    void entriesSurviveEveryEnding();

    void realMessageBox();
    void portListIsReadWhenTheWindowShows();

private:
    QFont m_platformFont;
    QString m_platformStyle;
};

void TestFrmMain::initTestCase()
{
    m_platformFont = QApplication::font();
    m_platformStyle = QApplication::style()->name();
}

void TestFrmMain::cleanup()
{
    QApplication::setFont(m_platformFont);
    if (QApplication::style()->name() != m_platformStyle)
        QApplication::setStyle(m_platformStyle);
}

void TestFrmMain::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");

    const auto row = [](const char *what, const char *name, const char *kind, const char *caption) {
        QTest::newRow(what) << QString::fromLatin1(name) << QString::fromLatin1(kind)
                            << QString::fromLatin1(caption);
    };
    row("port entry", "TxtPort", "QLineEdit", "");
    row("address entry", "TxtAddress", "QLineEdit", "");
    row("button, Alt+S", "Command1", "QPushButton", "&Set Outputs");
    row("port caption", "Label2", "QLabel", "Port");
    row("address caption", "Label1", "QLabel", "Address");
}

void TestFrmMain::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, caption);

    FrmMain window(MessageLog().Recorder(), NoPorts());
    QVERIFY(ShowActive(window));
    QWidget *control = Child<QWidget>(window, name);
    QVERIFY2(control, "one child of that name");
    QCOMPARE(control->metaObject()->className(), kind);
    QVERIFY(control->isVisible());
    QCOMPARE(control->property("text").toString(), caption);
    if (auto *label = qobject_cast<QLabel *>(control)) {
        // A label with an access key would take focus to its buddy; these have neither.
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->buddy(), nullptr);
    }
}

void TestFrmMain::outputBoxes()
{
    FrmMain window(MessageLog().Recorder(), NoPorts());
    QVERIFY(ShowActive(window));
    const QList<QCheckBox *> boxes = OutputBoxes(window);
    QCOMPARE(boxes.size(), 4);
    for (int index = 0; index < 4; ++index) {
        QCheckBox *box = boxes[index];
        QCOMPARE(box->property("index").toInt(), index);
        QCOMPARE(box->text(), QStringLiteral("Output %1").arg(index + 1));
        QVERIFY(box->isVisible());
        QVERIFY(!box->isChecked());
        QVERIFY(!box->isTristate());
        QCOMPARE(window.OutputState(index), 0);
        box->click();
        QCOMPARE(window.OutputState(index), 1);
        if (index > 0)
            QVERIFY2(box->y() > boxes[index - 1]->y(), "Output 1 at the top, Output 4 lowest");
    }
}

void TestFrmMain::fixedWindowWithOnlyACloseBox()
{
    FrmMain window(MessageLog().Recorder(), NoPorts());
    QVERIFY(ShowActive(window));
    QCOMPARE(window.objectName(), QStringLiteral("FrmMain"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Ostrim"));
    QVERIFY(window.isWindow());

    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));

    const QSize size = window.size();
    QCOMPARE(window.minimumSize(), size);
    QCOMPARE(window.maximumSize(), size);
    window.resize(size * 2);
    QCOMPARE(window.size(), size);
    window.showMaximized();
    QCOMPARE(window.size(), size);
}

void TestFrmMain::entriesTakeAnyText()
{
    FrmMain window(MessageLog().Recorder(), NoPorts());
    QVERIFY(ShowActive(window));
    auto *port = Child<QLineEdit>(window, QStringLiteral("TxtPort"));
    auto *address = Child<QLineEdit>(window, QStringLiteral("TxtAddress"));
    QVERIFY(port && address);

    const QString typed = QStringLiteral("&h1F -2.5e3 x;");
    QTest::keyClicks(port, typed);
    QCOMPARE(port->text(), typed);
    QCOMPARE(window.PortText(), typed.toStdString());

    // Longer than a line edit takes by default: pasted text is never cut short.
    const QString pasted(40000, QLatin1Char('7'));
    address->insert(pasted);
    QCOMPARE(address->text(), pasted);
    QCOMPARE(window.AddressText(), pasted.toStdString());
}

void TestFrmMain::entriesHaveAccessibleNames()
{
    FrmMain window(MessageLog().Recorder(), NoPorts());
    QVERIFY(ShowActive(window));
    for (const auto &[name, spoken] : {std::pair {"TxtPort", "Port"}, {"TxtAddress", "Address"}}) {
        QAccessibleInterface *entry
            = QAccessible::queryAccessibleInterface(Child<QLineEdit>(window, name));
        QVERIFY(entry);
        QCOMPARE(entry->text(QAccessible::Name), QString::fromLatin1(spoken));
    }
}

// With a font small enough for every caption, the window is the design at 15 twips to a pixel.
void TestFrmMain::designPositionsWhereTheCaptionsFit()
{
    QFont small = m_platformFont;
    small.setPixelSize(8);
    QApplication::setFont(small);
    FrmMain window(MessageLog().Recorder(), NoPorts());
    QVERIFY(ShowActive(window));

    QCOMPARE(window.size(), QSize(91, 174));
    const QList<QCheckBox *> boxes = OutputBoxes(window);
    QCOMPARE(boxes.size(), 4);
    QCOMPARE(boxes[0]->geometry(), QRect(8, 8, 75, 17));
    QCOMPARE(boxes[1]->geometry(), QRect(8, 32, 75, 17));
    QCOMPARE(boxes[2]->geometry(), QRect(8, 56, 75, 17));
    QCOMPARE(boxes[3]->geometry(), QRect(8, 80, 75, 17));
    QCOMPARE(Child<QLineEdit>(window, "TxtPort")->geometry(), QRect(8, 120, 35, 19));
    QCOMPARE(Child<QLineEdit>(window, "TxtAddress")->geometry(), QRect(48, 120, 35, 19));
    QCOMPARE(Child<QPushButton>(window, "Command1")->geometry(), QRect(8, 144, 75, 25));
    for (const auto &[name, corner] :
        {std::pair {"Label2", QPoint(8, 104)}, {"Label1", {48, 104}}}) {
        const QLabel *label = Child<QLabel>(window, name);
        QCOMPARE(label->pos(), corner);
        QCOMPARE(label->size(), label->sizeHint());
    }
}

void TestFrmMain::captionsWholeAtAnyFont_data()
{
    QTest::addColumn<QFont>("font");

    QFont large = QApplication::font();
    large.setPointSize(16);
    QFont small = QApplication::font();
    small.setPixelSize(8);
    QTest::newRow("the test platform's font") << QApplication::font();
    QTest::newRow("16-point font") << large;
    QTest::newRow("small font") << small;
}

// Every caption whole, and the design's arrangement kept at one scale for all of it.
static void VerifyCaptionsWholeAndArrangement(const FrmMain &window)
{
    const QList<QCheckBox *> boxes = OutputBoxes(window);
    QCOMPARE(boxes.size(), 4);
    const auto *port = Child<QLineEdit>(window, QStringLiteral("TxtPort"));
    const auto *address = Child<QLineEdit>(window, QStringLiteral("TxtAddress"));
    const auto *button = Child<QPushButton>(window, QStringLiteral("Command1"));
    const auto *portLabel = Child<QLabel>(window, QStringLiteral("Label2"));
    const auto *addressLabel = Child<QLabel>(window, QStringLiteral("Label1"));
    QVERIFY(port && address && button && portLabel && addressLabel);

    for (const QCheckBox *box : boxes) {
        QVERIFY2(
            box->sizeHint().width() <= box->width() && box->sizeHint().height() <= box->height(),
            qPrintable(Describe(box) + " needs more than " + Describe(box->geometry())));
    }
    QStyleOptionButton option;
    option.initFrom(button);
    option.features = QStyleOptionButton::AutoDefaultButton;
    const QRect textRoom
        = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    const QSize text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
    QVERIFY2(text.width() <= textRoom.width() && text.height() <= textRoom.height(),
        qPrintable("button text " + QString::number(text.width()) + " in " + Describe(textRoom)));
    for (const QLineEdit *entry : {port, address}) {
        QVERIFY2(entry->minimumSizeHint().height() <= entry->height(),
            qPrintable(Describe(entry) + " shows less than a line"));
    }

    // The labels size themselves and stay within their column and above their entry.
    const int margin = boxes[0]->x();
    for (const QLabel *label : {portLabel, addressLabel})
        QCOMPARE(label->size(), label->sizeHint());
    QVERIFY(addressLabel->geometry().right() <= boxes[0]->geometry().right());
    QVERIFY(portLabel->geometry().right() < addressLabel->x());
    QVERIFY(portLabel->geometry().bottom() < port->y());
    QVERIFY(addressLabel->geometry().bottom() < address->y());

    // The stack of boxes, with margins alike on both sides.
    for (int index = 0; index < 4; ++index) {
        QCOMPARE(boxes[index]->x(), margin);
        QCOMPARE(boxes[index]->size(), boxes[0]->size());
        if (index > 0) {
            QVERIFY(boxes[index]->y() > boxes[index - 1]->geometry().bottom());
            const int step = boxes[1]->y() - boxes[0]->y();
            QVERIFY(qAbs(boxes[index]->y() - boxes[index - 1]->y() - step) <= 1);
        }
    }
    QVERIFY(qAbs(window.width() - (boxes[0]->geometry().right() + 1) - margin) <= 1);
    QVERIFY(boxes[3]->geometry().bottom() < portLabel->y());
    QCOMPARE(portLabel->y(), addressLabel->y());

    // The entries side by side under their labels, the wide button at the bottom.
    QCOMPARE(port->x(), margin);
    QCOMPARE(address->x(), addressLabel->x());
    QCOMPARE(port->y(), address->y());
    QVERIFY(qAbs(port->width() - address->width()) <= 1 && port->height() == address->height());
    QVERIFY(port->geometry().right() < address->x());
    QCOMPARE(address->geometry().right(), boxes[0]->geometry().right());
    QCOMPARE(button->x(), margin);
    QCOMPARE(button->width(), boxes[0]->width());
    QVERIFY(button->y() > port->geometry().bottom());
    QVERIFY(button->geometry().bottom() < window.height());

    // One factor for the whole design: each control is where the design's twips put it, scaled.
    const double scale = window.width() / 91.0;
    QVERIFY(scale >= 1.0);
    const auto near = [scale](int pixels, double designPixels) {
        return qAbs(pixels - designPixels * scale) <= 1.0;
    };
    QVERIFY(near(window.height(), 174));
    QVERIFY(near(boxes[3]->y(), 80) && near(boxes[0]->height(), 17));
    QVERIFY(near(address->x(), 48) && near(address->y(), 120) && near(address->width(), 35));
    QVERIFY(near(button->y(), 144) && near(button->height(), 25));
    QVERIFY(near(addressLabel->y(), 104));
    for (const QObject *child : window.children()) {
        if (const auto *widget = qobject_cast<const QWidget *>(child))
            QVERIFY2(window.rect().contains(widget->geometry()), qPrintable(Describe(widget)));
    }
}

void TestFrmMain::captionsWholeAtAnyFont()
{
    QFETCH(QFont, font);
    QApplication::setFont(font);
    FrmMain window(MessageLog().Recorder(), NoPorts());
    QVERIFY(ShowActive(window));
    VerifyCaptionsWholeAndArrangement(window);
}

void TestFrmMain::followsAChangeWhileOpen_data()
{
    QTest::addColumn<Change>("change");

    QTest::newRow("application font to 16 points") << Change::ApplicationFont;
    QTest::newRow("application style with larger indicators and margins")
        << Change::ApplicationStyle;
    // The controls hear of it and the window does not: the order in which the application tells
    // its widgets of a new style is not defined, and this is the worst of them.
    QTest::newRow("the controls' own style, larger") << Change::ControlsStyle;
}

void TestFrmMain::followsAChangeWhileOpen()
{
    QFETCH(Change, change);
    RoomierStyle controlsStyle(QStyleFactory::create(m_platformStyle)); // outlives the window
    FrmMain window(MessageLog().Recorder(), NoPorts());
    QVERIFY(ShowActive(window));
    const QSize before = window.size();

    switch (change) {
    case Change::ApplicationFont: {
        QFont large = m_platformFont;
        large.setPointSize(16);
        QApplication::setFont(large);
        break;
    }
    case Change::ApplicationStyle:
        // The application takes ownership of the style, and the proxy of the platform's style.
        QApplication::setStyle(new RoomierStyle(QStyleFactory::create(m_platformStyle)));
        break;
    case Change::ControlsStyle:
        for (QWidget *control : window.findChildren<QWidget *>())
            control->setStyle(&controlsStyle);
        break;
    }
    QTRY_VERIFY2(window.width() > before.width(), "more room needed, a larger window");
    // Whatever the change set in motion is finished before the window is judged.
    QCoreApplication::sendPostedEvents();
    VerifyCaptionsWholeAndArrangement(window);
}

void TestFrmMain::focusStartsOnSetOutputsThenTabOrder()
{
    FrmMain window(MessageLog().Recorder(), NoPorts());
    QVERIFY(ShowActive(window));
    QCOMPARE(Describe(QApplication::focusWidget()), QStringLiteral("Command1"));

    QStringList visited;
    for (int press = 0; press < 7; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << Describe(QApplication::focusWidget());
    }
    QCOMPARE(visited,
        QStringList({"TxtAddress", "ChkOutput0", "ChkOutput1", "ChkOutput2", "ChkOutput3",
            "TxtPort", "Command1"}));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(Describe(QApplication::focusWidget()), QStringLiteral("TxtPort"));
}

void TestFrmMain::eachPressRunsTheActionOnce_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key"); // 0 for a mouse click on the button
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("runs");

    const Qt::KeyboardModifiers none = Qt::NoModifier;
    QTest::newRow("click") << "Command1" << 0 << none << 1;
    QTest::newRow("Alt+S") << "Command1" << int(Qt::Key_S) << Qt::KeyboardModifiers(Qt::AltModifier)
                           << 1;
    QTest::newRow("Alt+S while in the address entry")
        << "TxtAddress" << int(Qt::Key_S) << Qt::KeyboardModifiers(Qt::AltModifier) << 1;
    QTest::newRow("Alt+S while on a check box")
        << "ChkOutput" << int(Qt::Key_S) << Qt::KeyboardModifiers(Qt::AltModifier) << 1;
    QTest::newRow("Space on the focused button") << "Command1" << int(Qt::Key_Space) << none << 1;
    QTest::newRow("Return on the focused button") << "Command1" << int(Qt::Key_Return) << none << 1;
    QTest::newRow("Enter (keypad) on the focused button")
        << "Command1" << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier) << 1;
    QTest::newRow("Return in the address entry: nothing")
        << "TxtAddress" << int(Qt::Key_Return) << none << 0;
    QTest::newRow("Space on a check box: ticks it, nothing else")
        << "ChkOutput" << int(Qt::Key_Space) << none << 0;
}

void TestFrmMain::eachPressRunsTheActionOnce()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, runs);

    // With no port entered every run ends in the same single message, so messages count runs.
    MessageLog log;
    FrmMain window(log.Recorder(), NoPorts());
    QVERIFY(ShowActive(window));
    QWidget *target = window.findChild<QWidget *>(focus);
    QVERIFY(target);
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);

    if (key == 0)
        QTest::mouseClick(target, Qt::LeftButton);
    else
        QTest::keyClick(target, Qt::Key(key), modifiers);
    QVERIFY(ClickDone(window));
    QTest::qWait(50);

    QCOMPARE(log.texts, QStringList(runs, QString::fromLatin1(InvalidPortMessage)));
    QCOMPARE(window.PortText(), "");
    QCOMPARE(window.AddressText(), "");
}

void TestFrmMain::mouseActsOnReleaseOverTheButton_data()
{
    QTest::addColumn<bool>("dragOff");
    QTest::addColumn<bool>("comeBack");
    QTest::addColumn<int>("runs");

    QTest::newRow("press and release on the button: runs") << false << false << 1;
    QTest::newRow("press, drag off, release off it: nothing") << true << false << 0;
    QTest::newRow("press, drag off and back, release on it: runs") << true << true << 1;
}

// A user who pressed the button by mistake drags off it before letting go, and nothing happens.
void TestFrmMain::mouseActsOnReleaseOverTheButton()
{
    QFETCH(bool, dragOff);
    QFETCH(bool, comeBack);
    QFETCH(int, runs);

    MessageLog log;
    FrmMain window(log.Recorder(), NoPorts());
    QVERIFY(ShowActive(window));
    auto *button = Child<QPushButton>(window, QStringLiteral("Command1"));
    QVERIFY(button);
    const QPoint on = button->rect().center();
    const QPoint off = on - QPoint(0, button->height()); // over the entries above it

    QTest::mousePress(button, Qt::LeftButton, {}, on);
    QVERIFY(button->isDown());
    QCOMPARE(log.texts, QStringList());
    QPoint release = on;
    if (dragOff) {
        QTest::mouseMove(button, off);
        QTRY_VERIFY(!button->isDown());
        release = off;
    }
    if (comeBack) {
        QTest::mouseMove(button, on);
        QTRY_VERIFY(button->isDown());
        release = on;
    }
    QTest::mouseRelease(button, Qt::LeftButton, {}, release);
    QVERIFY(!button->isDown());

    QCOMPARE(log.texts, QStringList(runs, QString::fromLatin1(InvalidPortMessage)));
}

void TestFrmMain::entriesSurviveEveryEnding_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message"); // empty: none
    QTest::addColumn<bool>("held"); // by a flock of the test's own, as another program holds it

    const auto row = [](const char *what, const char *port, const char *address,
                         const char *message, bool held = false) {
        QTest::newRow(what) << QString::fromLatin1(port) << QString::fromLatin1(address)
                            << QString::fromLatin1(message) << held;
    };
    row("frame sent", "1", "7", "");
    row("invalid port", "0", "7", InvalidPortMessage);
    row("port held: the holder, and what to do in the window", "1", "7",
        "Port 1 (DEVICE) is in use by another program. Close it and press again.", true);
}

void TestFrmMain::entriesSurviveEveryEnding()
{
    QFETCH(QString, port);
    QFETCH(QString, address);
    QFETCH(QString, message);
    QFETCH(bool, held);

    PseudoTerminal terminal;
    if (held)
        QVERIFY(::flock(terminal.slaveHandle(), LOCK_EX) == 0);
    message.replace("DEVICE", QString::fromStdString(terminal.devicePath()));
    MessageLog log;
    FrmMain window(log.Recorder(), PortsAre({terminal.devicePath()}));
    QVERIFY(ShowActive(window));
    auto *portEntry = Child<QLineEdit>(window, QStringLiteral("TxtPort"));
    auto *addressEntry = Child<QLineEdit>(window, QStringLiteral("TxtAddress"));
    QTest::keyClicks(portEntry, port);
    QTest::keyClicks(addressEntry, address);
    const QList<QCheckBox *> boxes = OutputBoxes(window);
    QTest::mouseClick(boxes[1], Qt::LeftButton);
    QTest::mouseClick(boxes[3], Qt::LeftButton);
    // The cursor is left mid-text, where a user might leave it.
    portEntry->setCursorPosition(0);

    QTest::mouseClick(Child<QPushButton>(window, QStringLiteral("Command1")), Qt::LeftButton);

    if (message.isEmpty()) {
        QCOMPARE(terminal.read(2), std::vector<std::uint8_t>({0x07, 0x50}));
        QCOMPARE(log.texts, QStringList());
    } else {
        QCOMPARE(log.texts, QStringList {message});
        QVERIFY(terminal.readAll(50ms).empty());
    }
    QCOMPARE(portEntry->text(), port);
    QCOMPARE(portEntry->cursorPosition(), 0);
    QCOMPARE(addressEntry->text(), address);
    QCOMPARE(window.OutputState(0), 0);
    QCOMPARE(window.OutputState(1), 1);
    QCOMPARE(window.OutputState(2), 0);
    QCOMPARE(window.OutputState(3), 1);
}

void TestFrmMain::realMessageBox()
{
    FrmMain window(ShowMessageBox, NoPorts());
    QVERIFY(ShowActive(window));
    auto *button = Child<QPushButton>(window, QStringLiteral("Command1"));

    const SeenBox seen = ShowAndClose([&] { QTest::mouseClick(button, Qt::LeftButton); });
    QVERIFY2(seen.found, "a message box came up");
    QCOMPARE(seen.title, QStringLiteral("Ostrim"));
    QCOMPARE(seen.text, QStringLiteral("Invalid communications port"));
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(seen.buttons, QList<QMessageBox::StandardButton> {QMessageBox::Ok});
    QVERIFY(seen.modal);
    QCOMPARE(seen.parent, &window);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);

    // Messages can quote what the user typed: it shows as typed, never as markup.
    const QString typed = QStringLiteral("<b>1</b> & <i>2</i>");
    const SeenBox quoted = ShowAndClose([&] { window.ShowMessage(typed.toStdString()); });
    QVERIFY(quoted.found);
    QCOMPARE(quoted.text, typed);
    QCOMPARE(quoted.format, Qt::PlainText);
}

// The first listing of the ports costs twice the frame's time on the wire; it is done while the
// user types, not on the first press.
void TestFrmMain::portListIsReadWhenTheWindowShows()
{
    auto listings = std::make_shared<std::atomic<int>>(0);
    const PortList counted = [listings] {
        ++*listings;
        return std::vector<std::string> {};
    };
    FrmMain window(MessageLog().Recorder(), counted);
    QCOMPARE(listings->load(), 0);
    QVERIFY(ShowActive(window));
    QTRY_COMPARE_WITH_TIMEOUT(listings->load(), 1, 10'000);
    window.hide();
    QVERIFY(ShowActive(window));
    QTest::qWait(50);
    QCOMPARE(listings->load(), 1);
}

QTEST_MAIN(TestFrmMain)
#include "tst_frm_main.moc"
