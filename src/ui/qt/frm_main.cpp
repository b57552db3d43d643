#include "ui/qt/frm_main.h"

#include "serial/failure_advice.h"
#include "serial/port_details.h"
#include "ui/qt/window_scale.h"

#include <limits>

#include <QEvent>
#include <QStyle>
#include <QStyleOptionButton>

namespace ostrim {
namespace {

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

} // namespace

QString FrmMain::Caption(std::size_t position)
{
    const std::string_view caption = FrmMainControls.at(position).caption;
    return QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
}

std::array<QCheckBox *, 4> FrmMain::MakeOutputBoxes(QWidget &window)
{
    std::array<QCheckBox *, 4> boxes {};
    for (const ControlDesign &design : FrmMainControls) {
        if (design.name != "ChkOutput")
            continue;
        auto *box = new QCheckBox(
            Caption(static_cast<std::size_t>(&design - FrmMainControls.data())), &window);
        box->setObjectName(QStringLiteral("ChkOutput"));
        box->setProperty("index", design.index);
        boxes.at(static_cast<std::size_t>(design.index)) = box;
    }
    return boxes;
}

FrmMain::FrmMain(MessageFunction showMessage, const SystemPortList &ports)
    : FrmMain(std::move(showMessage), ports, [ports] { return ports.Details(); })
{ }

FrmMain::FrmMain(MessageFunction showMessage, PortList ports, LineEnvironment environment)
    // A copy, not a move: the arguments may be made in any order.
    : FrmMain(
        std::move(showMessage), ports, DevicesOnly(ports, environment.sysClassTty), environment)
{ }

FrmMain::FrmMain(
    MessageFunction showMessage, PortList ports, PortListing listing, LineEnvironment environment)
    : m_showMessage(std::move(showMessage))
    , m_ports(std::move(ports))
    , m_listing(std::move(listing))
    , m_msComm1(PosixLine(m_ports, std::move(environment)))
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QString::fromUtf8(FrmMainCaption.data(), FrmMainCaption.size()));
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

    m_controls[ControlAt("Command1")] = m_command1;
    m_controls[ControlAt("TxtAddress")] = m_txtAddress;
    for (std::size_t index = 0; index < m_chkOutput.size(); ++index)
        m_controls[ControlAt("ChkOutput", 0) + index] = m_chkOutput[index];
    m_controls[ControlAt("Label1")] = m_label1;
    m_controls[ControlAt("TxtPort")] = m_txtPort;
    m_controls[ControlAt("Label2")] = m_label2;

    SetTabOrder();
    ArrangeControls();
    m_command1->setFocus();

    connect(m_command1, &QPushButton::clicked, this, &FrmMain::RunSetOutputs);
}

void FrmMain::SetTabOrder()
{
    QWidget *previous = nullptr;
    for (std::size_t position = 0; position < FrmMainControls.size(); ++position) {
        if (FrmMainControls[position].kind == ControlKind::Label)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, m_controls[position]);
        previous = m_controls[position];
    }
}

PixelSize FrmMain::CaptionNeed(const ControlDesign &design, const QWidget &control) const
{
    switch (design.kind) {
    case ControlKind::PushButton:
        return ToPixelSize(ButtonNeed(static_cast<const QPushButton &>(control)));
    case ControlKind::TextBox:
        return ToPixelSize(EntryNeed(static_cast<const QLineEdit &>(control)));
    case ControlKind::CheckBox:
    case ControlKind::Label:
        break;
    }
    return ToPixelSize(control.sizeHint());
}

std::vector<CaptionRoom> FrmMain::CaptionRooms() const
{
    std::vector<CaptionRoom> rooms;
    for (std::size_t position = 0; position < FrmMainControls.size(); ++position) {
        const ControlDesign &design = FrmMainControls[position];
        rooms.push_back({design.room, CaptionNeed(design, *m_controls[position])});
    }
    return rooms;
}

// The design's twips are pixels at 96 dots per inch with the small font of its time. One factor
// for all of it keeps the design's proportions, and the least one that fits every caption keeps
// the window as compact as the design where the font allows.
void FrmMain::ArrangeControls()
{
    const double scale = ScaleToFit(CaptionRooms());
    for (std::size_t position = 0; position < FrmMainControls.size(); ++position) {
        const ControlDesign &design = FrmMainControls[position];
        QWidget &control = *m_controls[position];
        const QRect place = ToPixels(design.place, scale);
        if (design.kind == ControlKind::Label)
            control.setGeometry(QRect(place.topLeft(), control.sizeHint()));
        else
            control.setGeometry(place);
    }
    setFixedSize(ToPixels(FrmMainClient, scale).size());
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
        const std::string ports
            = PortListText(m_listing(), noSerialPortText, windowWords.deviceServer);
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
    if (const std::optional<std::string> told = RunWindowAction(*this, m_msComm1))
        ShowMessage(*told);
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
