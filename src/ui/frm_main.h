#pragma once

#include "output/set_outputs.h"
#include "serial/posix_serial_line.h"
#include "ui/message_box.h"
#include "ui/window_design.h"

#include <array>
#include <functional>
#include <future>
#include <vector>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace ostrim {

// The program's one window: two entries, four output boxes and the button that sends them.
class FrmMain final : public QWidget, public ActionEntries
{
    Q_OBJECT

public:
    using MessageFunction = std::function<void(QWidget &owner, const QString &text)>;

    explicit FrmMain(MessageFunction showMessage = ShowMessageBox,
        const SystemPortList &ports = SystemPortList {});
    // Ports of which nothing is known but their devices, as pseudo-terminals, in a system of the
    // caller's choosing.
    FrmMain(MessageFunction showMessage, PortList ports, LineEnvironment environment = {});

    std::string PortText() const override;
    std::string AddressText() const override;
    std::int16_t OutputState(int index) const override;
    // Modal: returns once the user has dismissed the message.
    void ShowMessage(const std::string &text);

protected:
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;

private:
    FrmMain(MessageFunction showMessage, PortList ports, PortListing listing,
        LineEnvironment environment = {});

    void ArrangeControls();
    std::vector<CaptionRoom> CaptionRooms() const;
    PixelSize CaptionNeed(const ControlDesign &design, const QWidget &control) const;
    void SetTabOrder();
    void RunSetOutputs();
    void StartPortListRead();

    MessageFunction m_showMessage;
    PortList m_ports;
    PortListing m_listing;
    PosixSerialLine m_msComm1;
    std::future<void> m_portListRead; // the first listing, started once the window is drawn

    // In the order the keyboard visits them.
    QPushButton *m_command1 = new QPushButton(Caption(ControlAt("Command1")), this);
    QLineEdit *m_txtAddress = new QLineEdit(this);
    std::array<QCheckBox *, 4> m_chkOutput = MakeOutputBoxes(*this);
    QLabel *m_label1 = new QLabel(Caption(ControlAt("Label1")), this);
    QLineEdit *m_txtPort = new QLineEdit(this);
    QLabel *m_label2 = new QLabel(Caption(ControlAt("Label2")), this);
    // The same controls in the design table's order.
    std::array<QWidget *, FrmMainControls.size()> m_controls {};

    static QString Caption(std::size_t position);
    static std::array<QCheckBox *, 4> MakeOutputBoxes(QWidget &window);
};

} // namespace ostrim
