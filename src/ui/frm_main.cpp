#include "ui/frm_main.h"

#include "serial/failure_advice.h"
#include "serial/port_details.h"
#include "ui/window_scale.h"

#include <limits>

#include <QEvent>
#include <QStyle>
#include <QStyleOptionButton>

namespace ostrim {
namespace {

// The window's design in twips. The labels take only their corner from it and size themselves.
namespace Design {
constexpr TwipRect Client {0, 0, 1365, 2610};
constexpr std::array<TwipRect, 4> ChkOutput {{
    {120, 120, 1125, 255},
    {120, 480, 1125, 255},
    {120, 840, 1125, 255},
    {120, 1200, 1125, 255},
}};
constexpr TwipRect Label2 {120, 1560, 285, 195};
constexpr TwipRect Label1 {720, 1560, 570, 195};
constexpr TwipRect TxtPort {120, 1800, 525, 285};
constexpr TwipRect TxtAddress {720, 1800, 525, 285};
constexpr TwipRect Command1 {120, 2160, 1125, 375};

// How far a label may grow: across to the next column or to the right margin, down to its entry.
constexpr TwipRect Label2Room {120, 1560, 600, 240};
constexpr TwipRect Label1Room {720, 1560, 525, 240};
} // namespace Design

// What the button needs around its text. Asked without the text, the style leaves out the least
// width it gives any button with a caption, which is about looks, not about the caption fitting.
QSize ButtonNeed(const QPushButton &button)
{
    QStyleOptionButton option;
    option.initFrom(&button);
    if (button.autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    const QSize text = button.style()
                           ->itemTextRect(button.fontMetrics(), QRect(), Qt::TextShowMnemonic,
                               false, button.text())
                           .size();
    return button.style()->sizeFromContents(QStyle::CT_PushButton, &option, text, &button);
}

// An entry has no caption, yet what is typed into it must show whole: it needs one line's height.
QSize EntryNeed(const QLineEdit &entry)
{
    return QSize(0, entry.minimumSizeHint().height());
}

void SetupEntry(QLineEdit &entry, const QString &name, const QString &accessibleName)
{
    entry.setObjectName(name);
    entry.setAccessibleName(accessibleName);
    // Any text may be entered, however long; the action judges it.
    entry.setMaxLength(std::numeric_limits<int>::max());
}

void SetupLabel(QLabel &label, const QString &name)
{
    label.setObjectName(name);
    label.setTextFormat(Qt::PlainText);
}

// What the user can do, said for the window: its button is pressed again.
constexpr FaceWords windowWords {"Close it and press again.", "Enter another port."};

} // namespace

std::array<QCheckBox *, 4> FrmMain::MakeOutputBoxes(QWidget &window)
{
    std::array<QCheckBox *, 4> boxes {};
    for (int index = 0; index < static_cast<int>(boxes.size()); ++index) {
        auto *box = new QCheckBox(QStringLiteral("Output %1").arg(index + 1), &window);
        box->setObjectName(QStringLiteral("ChkOutput"));
        box->setProperty("index", index);
        boxes[static_cast<std::size_t>(index)] = box;
    }
    return boxes;
}

FrmMain::FrmMain(MessageFunction showMessage, const SystemPortList &ports)
    : FrmMain(std::move(showMessage), ports, [ports] { return ports.Details(); })
{ }

FrmMain::FrmMain(MessageFunction showMessage, PortList ports)
    : FrmMain(std::move(showMessage), ports, DevicesOnly(ports))
{ }

FrmMain::FrmMain(MessageFunction showMessage, PortList ports, PortListing listing)
    : m_showMessage(std::move(showMessage))
    , m_ports(std::move(ports))
    , m_listing(std::move(listing))
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("Ostrim"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    m_command1->setObjectName(QStringLiteral("Command1"));
    // Enter presses the button while it has focus, as Space does.
    m_command1->setAutoDefault(true);
    SetupEntry(*m_txtPort, QStringLiteral("TxtPort"), QStringLiteral("Port"));
    SetupEntry(*m_txtAddress, QStringLiteral("TxtAddress"), QStringLiteral("Address"));
    SetupLabel(*m_label1, QStringLiteral("Label1"));
    SetupLabel(*m_label2, QStringLiteral("Label2"));

    m_txtPort->installEventFilter(this);

    SetTabOrder();
    ArrangeControls();
    m_command1->setFocus();

    connect(m_command1, &QPushButton::clicked, this, &FrmMain::RunSetOutputs);
}

void FrmMain::SetTabOrder()
{
    QWidget::setTabOrder(m_command1, m_txtAddress);
    QWidget::setTabOrder(m_txtAddress, m_chkOutput[0]);
    for (std::size_t index = 1; index < m_chkOutput.size(); ++index)
        QWidget::setTabOrder(m_chkOutput[index - 1], m_chkOutput[index]);
    QWidget::setTabOrder(m_chkOutput.back(), m_txtPort);
}

std::vector<CaptionRoom> FrmMain::CaptionRooms() const
{
    std::vector<CaptionRoom> rooms;
    for (std::size_t index = 0; index < m_chkOutput.size(); ++index)
        rooms.push_back({Design::ChkOutput[index], m_chkOutput[index]->sizeHint()});
    rooms.push_back({Design::Command1, ButtonNeed(*m_command1)});
    rooms.push_back({Design::Label2Room, m_label2->sizeHint()});
    rooms.push_back({Design::Label1Room, m_label1->sizeHint()});
    rooms.push_back({Design::TxtPort, EntryNeed(*m_txtPort)});
    rooms.push_back({Design::TxtAddress, EntryNeed(*m_txtAddress)});
    return rooms;
}

// The design's twips are pixels at 96 dots per inch with the small font of its time. One factor
// for all of it keeps the design's proportions, and the least one that fits every caption keeps
// the window as compact as the design where the font allows.
void FrmMain::ArrangeControls()
{
    const double scale = ScaleToFit(CaptionRooms());
    for (std::size_t index = 0; index < m_chkOutput.size(); ++index)
        m_chkOutput[index]->setGeometry(ToPixels(Design::ChkOutput[index], scale));
    m_txtPort->setGeometry(ToPixels(Design::TxtPort, scale));
    m_txtAddress->setGeometry(ToPixels(Design::TxtAddress, scale));
    m_command1->setGeometry(ToPixels(Design::Command1, scale));
    m_label2->setGeometry(QRect(ToPixels(Design::Label2, scale).topLeft(), m_label2->sizeHint()));
    m_label1->setGeometry(QRect(ToPixels(Design::Label1, scale).topLeft(), m_label1->sizeHint()));
    setFixedSize(ToPixels(Design::Client, scale).size());
}

void FrmMain::changeEvent(QEvent *event)
{
    // The desktop's font or style can change while the window is open.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        ArrangeControls();
    QWidget::changeEvent(event);
}

// The ports are listed when the tooltip is asked for, not before: listing them takes time, and
// adapters come and go while the window is open.
bool FrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_txtPort && event->type() == QEvent::ToolTip) {
        const std::string ports = PortListText(m_listing());
        m_txtPort->setToolTip(QString::fromStdString(ports).trimmed());
    }
    return QWidget::eventFilter(watched, event);
}

// Listing the ports takes about twice as long as the frame on the wire; done while the user
// types, the first press finds the list ready. It starts once the window has been drawn, so that
// it does not hold up the first sight of it.
void FrmMain::StartPortListRead()
{
    if (!m_portListRead.valid())
        m_portListRead = std::async(std::launch::async, [ports = m_ports] { ports(); });
}

bool FrmMain::event(QEvent *event)
{
    // A control whose needs changed asks its parent to lay it out again. After a style change it
    // may ask only after the window has heard of the change: the application tells its widgets in
    // no particular order, and a control answers with its old size until it has heard.
    if (event->type() == QEvent::LayoutRequest)
        ArrangeControls();
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::Paint && !m_portListRead.valid())
        QMetaObject::invokeMethod(this, &FrmMain::StartPortListRead, Qt::QueuedConnection);
    return handled;
}

void FrmMain::RunSetOutputs()
{
    const ActionOutcome outcome = SetOutputs(*this, m_msComm1);
    if (outcome.ending != Ending::Sent)
        ShowMessage(WithAdvice(outcome.message, outcome.failure, windowWords));
}

std::string FrmMain::PortText() const
{
    return m_txtPort->text().toStdString();
}

std::string FrmMain::AddressText() const
{
    return m_txtAddress->text().toStdString();
}

std::int16_t FrmMain::OutputState(int index) const
{
    return m_chkOutput.at(static_cast<std::size_t>(index))->isChecked() ? 1 : 0;
}

void FrmMain::ShowMessage(const std::string &text)
{
    m_showMessage(*this, QString::fromStdString(text));
}

} // namespace ostrim
