#include "serial/qt_serial_line.h"

#include "runtime/action_error.h"

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

QSerialPort::Parity ToQt(Parity parity)
{
    switch (parity) {
    case Parity::None:
        return QSerialPort::NoParity;
    case Parity::Even:
        return QSerialPort::EvenParity;
    case Parity::Odd:
        return QSerialPort::OddParity;
    case Parity::Mark:
        return QSerialPort::MarkParity;
    case Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits ToQt(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::One:
        return QSerialPort::OneStop;
    case StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case StopBits::Two:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

std::string PortCount(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " serial port" : " serial ports");
}

std::string DescribePorts(const std::vector<std::string> &ports)
{
    if (ports.empty()) {
        return "This system has no serial port that this user may see: check that the adapter "
               "is plugged in, and that you are in the serial ports' group (dialout).";
    }
    std::string text = "This system has " + PortCount(ports.size()) + ": ";
    for (std::size_t i = 0; i < ports.size(); ++i)
        text += (i ? ", " : "") + std::to_string(i + 1) + " = " + ports[i];
    return text;
}

std::optional<struct stat> StatusOf(const std::string &device)
{
    struct stat status = {};
    if (::stat(device.c_str(), &status) != 0)
        return std::nullopt;
    return status;
}

std::string GroupOf(const std::string &device)
{
    const std::optional<struct stat> status = StatusOf(device);
    if (!status)
        return "dialout";
    const group *owner = ::getgrgid(status->st_gid);
    return owner ? owner->gr_name : std::to_string(status->st_gid);
}

bool Exists(const std::string &device)
{
    return StatusOf(device).has_value();
}

bool IsCharacterDevice(const std::string &device)
{
    const std::optional<struct stat> status = StatusOf(device);
    return status && S_ISCHR(status->st_mode);
}

// Only asked once an open has failed, since opening a real port raises its control lines.
bool IsTerminal(const std::string &device)
{
    const int handle = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0)
        return true; // cannot tell; the open failure's own reason is the better message
    const bool terminal = ::isatty(handle) == 1;
    ::close(handle);
    return terminal;
}

} // namespace

int SystemPendingOutput(int handle)
{
    int pending = 0;
    return ::ioctl(handle, TIOCOUTQ, &pending) == 0 ? pending : -1;
}

QtSerialLine::QtSerialLine(PortList ports, PendingOutput pendingOutput)
    : m_ports(std::move(ports))
    , m_pendingOutput(std::move(pendingOutput))
{ }

QtSerialLine::~QtSerialLine()
{
    if (m_port.isOpen())
        DiscardAndClose();
}

void QtSerialLine::SetPortNumber(std::int16_t number)
{
    if (number < 1) {
        throw ActionError(FailureKind::SerialLine,
            "Invalid port number " + std::to_string(number) + ": ports are numbered from 1");
    }
    if (IsOpen())
        Fail("is open, so its number cannot change until it is closed");
    m_portNumber = number;
}

void QtSerialLine::SetSettings(const std::string &settings)
{
    const LineSettings parsed = ParseLineSettings(settings);
    if (IsOpen())
        Fail("is open, so its line settings cannot change until it is closed");
    m_settings = parsed;
}

void QtSerialLine::Open()
{
    if (IsOpen())
        Fail("is already open");
    const std::vector<std::string> ports = m_ports();
    if (static_cast<std::size_t>(m_portNumber) > ports.size()) {
        throw ActionError(FailureKind::SerialLine, ENODEV,
            "Port " + std::to_string(m_portNumber) + " does not exist. " + DescribePorts(ports));
    }
    m_device = ports[static_cast<std::size_t>(m_portNumber - 1)];
    if (!Exists(m_device))
        Fail("does not exist or was disconnected", ENOENT);
    if (!IsCharacterDevice(m_device))
        Fail("is not a serial device", ENOTTY);

    m_port.setPortName(QString::fromStdString(m_device));
    ApplySettings();
    m_writeFailed = false;
    m_sendDeadline.reset();
    if (!m_port.open(QIODevice::WriteOnly))
        FailToOpen();
}

void QtSerialLine::ApplySettings()
{
    m_port.setBaudRate(m_settings.baudRate);
    m_port.setDataBits(static_cast<QSerialPort::DataBits>(m_settings.dataBits));
    m_port.setParity(ToQt(m_settings.parity));
    m_port.setStopBits(ToQt(m_settings.stopBits));
    m_port.setFlowControl(QSerialPort::NoFlowControl);
}

void QtSerialLine::FailToOpen()
{
    const QSerialPort::SerialPortError error = m_port.error();
    const std::string reason = m_port.errorString().toStdString();
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        if (!Exists(m_device))
            Fail("does not exist or was disconnected", ENOENT);
        break;
    case QSerialPort::PermissionError:
        // A lock held by another program is reported as a permission error too.
        if (::access(m_device.c_str(), R_OK | W_OK) == 0)
            Fail("is in use by another program", EBUSY);
        Fail("cannot be used: permission denied. Join the group " + GroupOf(m_device)
                + " (sudo usermod -aG " + GroupOf(m_device) + " $USER), then log out and in again",
            EACCES);
    default:
        break;
    }
    if (!IsTerminal(m_device))
        Fail("is not a serial device", ENOTTY);
    if (error == QSerialPort::UnsupportedOperationError)
        Fail("cannot be set to these line settings: " + reason, EINVAL);
    Fail("cannot be opened: " + reason);
}

void QtSerialLine::Write(std::span<const std::uint8_t> bytes)
{
    if (!IsOpen())
        Fail("is not open");
    m_sendDeadline = Clock::now() + SendTimeout;
    const auto size = static_cast<qint64>(bytes.size());
    if (m_port.write(reinterpret_cast<const char *>(bytes.data()), size) != size)
        FailToWrite();
    // write() only queues the bytes; they are handed to the system while we wait here.
    while (m_port.bytesToWrite() > 0) {
        const auto left
            = std::chrono::ceil<std::chrono::milliseconds>(*m_sendDeadline - Clock::now());
        if (left <= 0ms) {
            m_writeFailed = true;
            FailTimedOut();
        }
        if (!m_port.waitForBytesWritten(static_cast<int>(left.count()))
            && m_port.error() != QSerialPort::TimeoutError)
            FailToWrite();
    }
}

// Whether the bytes never left Qt's buffer or never left the system's queue, to the user it is
// the same: the frame did not go out, and nothing of it will go out later.
void QtSerialLine::FailTimedOut() const
{
    Fail("did not send the frame within 1 second, so it was discarded. Check the cable and the "
         "device's flow control",
        ETIMEDOUT);
}

void QtSerialLine::FailToWrite()
{
    m_writeFailed = true;
    if (m_port.error() == QSerialPort::ResourceError || !Exists(m_device))
        Fail("was disconnected while the frame was written", EIO);
    Fail("could not be written: " + m_port.errorString().toStdString(), EIO);
}

bool QtSerialLine::DrainUntil(Clock::time_point deadline, int &systemError)
{
    const int handle = static_cast<int>(m_port.handle());
    for (;;) {
        const int pending = m_pendingOutput(handle);
        if (pending < 0) {
            systemError = errno;
            return false;
        }
        if (pending == 0)
            break;
        if (Clock::now() >= deadline) {
            systemError = ETIMEDOUT;
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    // The queue is empty; this waits only for the last character to leave the transmitter.
    if (::tcdrain(handle) != 0) {
        systemError = errno;
        return false;
    }
    return true;
}

void QtSerialLine::DiscardAndClose()
{
    ::tcflush(static_cast<int>(m_port.handle()), TCOFLUSH);
    m_port.clear(QSerialPort::Output);
    m_port.close();
}

void QtSerialLine::Close()
{
    if (!IsOpen())
        return;
    if (m_writeFailed) {
        DiscardAndClose();
        return;
    }
    const Clock::time_point deadline = m_sendDeadline.value_or(Clock::now() + SendTimeout);
    int systemError = 0;
    if (DrainUntil(deadline, systemError)) {
        m_port.close();
        return;
    }
    DiscardAndClose();
    if (systemError == ETIMEDOUT)
        FailTimedOut();
    Fail("was disconnected before the frame was sent", systemError);
}

bool QtSerialLine::IsOpen() const
{
    return m_port.isOpen();
}

std::string QtSerialLine::PortName() const
{
    return "Port " + std::to_string(m_portNumber) + " (" + m_device + ")";
}

void QtSerialLine::Fail(const std::string &what, int number) const
{
    throw ActionError(FailureKind::SerialLine,
        number ? number : static_cast<int>(FailureKind::SerialLine), PortName() + " " + what + ".");
}

} // namespace ostrim
