#include "serial/win32_serial_line.h"

#include "runtime/action_error.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

// A withdrawn write is normally done at once; one that is not may still be written to by the
// system, so its block is never freed.
constexpr std::chrono::milliseconds withdrawalWait {100};
// What a UART can hold beyond the driver's queue: a 16-byte FIFO and the shift register.
constexpr std::size_t transmitterBytes = 17;

BYTE ParityCode(Parity parity)
{
    switch (parity) {
    case Parity::None:
        return NOPARITY;
    case Parity::Even:
        return EVENPARITY;
    case Parity::Odd:
        return ODDPARITY;
    case Parity::Mark:
        return MARKPARITY;
    case Parity::Space:
        return SPACEPARITY;
    }
    return NOPARITY;
}

BYTE StopBitsCode(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::One:
        return ONESTOPBIT;
    case StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case StopBits::Two:
        return TWOSTOPBITS;
    }
    return ONESTOPBIT;
}

// Raw bytes at the given framing, with DTR and RTS on as long as the port is open and no
// handshake of any kind: a board that drives none of those lines must still be sent to. A port
// left with abort-on-error by another program would fail our write over a stray receive error.
DCB RawState(DCB state, const LineSettings &line)
{
    state.BaudRate = static_cast<DWORD>(line.baudRate);
    state.ByteSize = static_cast<BYTE>(line.dataBits);
    state.Parity = ParityCode(line.parity);
    state.StopBits = StopBitsCode(line.stopBits);
    state.fBinary = TRUE;
    state.fParity = line.parity != Parity::None;
    state.fOutxCtsFlow = FALSE;
    state.fOutxDsrFlow = FALSE;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fDsrSensitivity = FALSE;
    state.fTXContinueOnXoff = TRUE;
    state.fOutX = FALSE;
    state.fInX = FALSE;
    state.fErrorChar = FALSE;
    state.fNull = FALSE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    state.fAbortOnError = FALSE;
    return state;
}

// SetCommState succeeds with drivers that round the speed or ignore a handshake; only reading
// the state back tells whether the board will be spoken to as asked.
bool Holds(const DCB &asked, const DCB &held)
{
    return asked.BaudRate == held.BaudRate && asked.ByteSize == held.ByteSize
        && asked.Parity == held.Parity && asked.StopBits == held.StopBits
        && held.fOutxCtsFlow == FALSE && held.fOutxDsrFlow == FALSE && held.fOutX == FALSE
        && held.fInX == FALSE && held.fDtrControl != DTR_CONTROL_HANDSHAKE
        && held.fRtsControl != RTS_CONTROL_HANDSHAKE && held.fRtsControl != RTS_CONTROL_TOGGLE;
}

// Reads return at once (nothing is read), and writes have no limit of the driver's: the line
// bounds them itself, with one deadline for the write and the drain.
COMMTIMEOUTS LineTimeouts()
{
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    return timeouts;
}

// The time the given bytes take on the wire, start and stop bits included.
std::chrono::microseconds WireTime(const LineSettings &line, std::size_t bytes)
{
    const double stopBits = line.stopBits == StopBits::One ? 1.0
        : line.stopBits == StopBits::OneAndHalf            ? 1.5
                                                           : 2.0;
    const double bits = 1.0 + line.dataBits + (line.parity == Parity::None ? 0.0 : 1.0) + stopBits;
    return std::chrono::microseconds(static_cast<long long>(
        bits * static_cast<double>(bytes) * 1e6 / static_cast<double>(line.baudRate) + 1.0));
}

// The request and the bytes it points to, alive until the system is done with them.
struct PendingWrite
{
    explicit PendingWrite(std::span<const std::uint8_t> bytes)
        : data(bytes.begin(), bytes.end())
    {
        overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~PendingWrite()
    {
        if (overlapped.hEvent)
            ::CloseHandle(overlapped.hEvent);
    }
    PendingWrite(const PendingWrite &) = delete;
    PendingWrite &operator=(const PendingWrite &) = delete;

    OVERLAPPED overlapped {};
    std::vector<std::uint8_t> data;
};

DWORD Milliseconds(std::chrono::milliseconds duration)
{
    return static_cast<DWORD>(std::max<long long>(duration.count(), 0));
}

} // namespace

HANDLE SystemOpenPort(const std::wstring &path)
{
    return ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED, nullptr);
}

BoundedWrite SystemWriteWithin(
    HANDLE port, std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit)
{
    auto request = std::make_unique<PendingWrite>(bytes);
    if (!request->overlapped.hEvent)
        return {0, ::GetLastError(), false};
    DWORD written = 0;
    // Done at once, the count comes with the call: Wine does not always put it in the block.
    if (::WriteFile(port, request->data.data(), static_cast<DWORD>(request->data.size()), &written,
            &request->overlapped))
        return {written, ERROR_SUCCESS, false};
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING)
        return {0, error, false};
    if (::WaitForSingleObject(request->overlapped.hEvent, Milliseconds(limit)) == WAIT_OBJECT_0) {
        if (::GetOverlappedResult(port, &request->overlapped, &written, FALSE))
            return {written, ERROR_SUCCESS, false};
        return {written, ::GetLastError(), false};
    }
    ::CancelIoEx(port, &request->overlapped);
    if (::WaitForSingleObject(request->overlapped.hEvent, Milliseconds(withdrawalWait))
        != WAIT_OBJECT_0)
        static_cast<void>(request.release());
    return {0, ERROR_TIMEOUT, true};
}

std::optional<DWORD> SystemPendingOutput(HANDLE port)
{
    DWORD errors = 0;
    COMSTAT status {};
    if (!::ClearCommError(port, &errors, &status))
        return std::nullopt;
    return status.cbOutQue;
}

BOOL SystemDiscardOutput(HANDLE port)
{
    return ::PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR);
}

void PauseFor(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

Win32SerialLine::Win32SerialLine(Win32LineEnvironment environment)
    : m_environment(std::move(environment))
{ }

Win32SerialLine::Win32SerialLine(OneDevice device, Win32LineEnvironment environment)
    : m_environment(std::move(environment))
    , m_oneDevice(std::move(device.path))
{ }

Win32SerialLine::~Win32SerialLine()
{
    if (IsOpen())
        Abandon();
}

void Win32SerialLine::SetPortNumber(std::int16_t number)
{
    if (number < 1) {
        Fail(FailureReason::Other,
            "Invalid port number " + std::to_string(number) + ": ports are numbered from 1",
            ERROR_INVALID_PARAMETER);
    }
    if (IsOpen())
        FailOnPort(FailureReason::Other, "is open, so its number cannot change until it is closed",
            ERROR_BUSY);
    m_portNumber = number;
}

void Win32SerialLine::SetSettings(const std::string &settings)
{
    const LineSettings parsed = ParseLineSettings(settings);
    if (IsOpen()) {
        FailOnPort(FailureReason::Other,
            "is open, so its line settings cannot change until it is closed", ERROR_BUSY);
    }
    m_settings = parsed;
}

void Win32SerialLine::Open()
{
    if (IsOpen())
        FailOnPort(FailureReason::Other, "is already open", ERROR_BUSY);
    const int number = NumberToOpen();
    m_device = "COM" + std::to_string(number);
    // The device namespace's own name: plain "COM10" and above name no device.
    const HANDLE handle = m_environment.driver.open(L"\\\\.\\COM" + std::to_wstring(number));
    if (handle == INVALID_HANDLE_VALUE)
        FailToOpen(::GetLastError());
    m_handle = handle;
    m_written = 0;
    Configure();
    m_sendDeadline = m_environment.now() + SendTimeout; // for a close that follows no write
}

void Win32SerialLine::FailToOpen(DWORD error) const
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
        Fail(FailureReason::Missing,
            (m_oneDevice ? m_device : "Port " + std::to_string(m_portNumber)) + " does not exist. "
                + Win32PortsSummary(m_environment.ports()),
            error);
    case ERROR_ACCESS_DENIED: // what an open without sharing meets while another program holds it
    case ERROR_SHARING_VIOLATION:
        FailOnPort(FailureReason::InUse, "is in use by another program", error);
    default:
        FailOnPort(FailureReason::Other,
            "cannot be opened (Windows error " + std::to_string(error) + ")", error);
    }
}

// What to give back is read only once the port is ours.
void Win32SerialLine::Configure()
{
    DCB saved {};
    saved.DCBlength = sizeof saved;
    COMMTIMEOUTS savedTimeouts {};
    if (!m_environment.driver.readState(m_handle, &saved)
        || !m_environment.driver.readTimeouts(m_handle, &savedTimeouts)) {
        const DWORD error = ::GetLastError();
        AbandonAndFail(FailureReason::Other,
            "cannot be read (Windows error " + std::to_string(error) + ")", error);
    }
    m_savedState = saved;
    m_savedTimeouts = savedTimeouts;

    const std::string refused = "cannot be set to " + DescribeLineSettings(m_settings);
    DCB asked = RawState(saved, m_settings);
    COMMTIMEOUTS timeouts = LineTimeouts();
    if (!m_environment.driver.applyState(m_handle, &asked)
        || !m_environment.driver.applyTimeouts(m_handle, &timeouts)) {
        const DWORD error = ::GetLastError();
        AbandonAndFail(FailureReason::Other, refused, error);
    }
    DCB held {};
    held.DCBlength = sizeof held;
    if (!m_environment.driver.readState(m_handle, &held) || !Holds(asked, held))
        AbandonAndFail(FailureReason::Other, refused, ERROR_INVALID_PARAMETER);
}

void Win32SerialLine::Write(std::span<const std::uint8_t> bytes)
{
    if (!IsOpen())
        FailOnPort(FailureReason::Other, "is not open", ERROR_INVALID_HANDLE);
    m_sendDeadline = m_environment.now() + SendTimeout;
    const BoundedWrite result = m_environment.driver.write(m_handle, bytes, TimeLeft());
    if (result.timedOut)
        FailTimedOut();
    m_written += result.written;
    if (result.error != ERROR_SUCCESS) {
        AbandonAndFail(FailureReason::Other,
            std::string(result.written == 0 ? "failed before the frame was sent"
                                            : "failed while the frame was written; it may not "
                                              "have been sent completely")
                + " (Windows error " + std::to_string(result.error) + ")",
            result.error);
    }
    if (result.written != bytes.size()) {
        AbandonAndFail(FailureReason::Other,
            "took only " + std::to_string(result.written) + " of the frame's "
                + std::to_string(bytes.size()) + " bytes",
            ERROR_WRITE_FAULT);
    }
}

std::chrono::milliseconds Win32SerialLine::TimeLeft() const
{
    return std::chrono::ceil<std::chrono::milliseconds>(m_sendDeadline - m_environment.now());
}

// The timeout message stands for both places a frame can stall: in the write, or in the drain.
void Win32SerialLine::FailTimedOut()
{
    AbandonAndFail(FailureReason::Timeout, NotSentInTimeText(), ERROR_TIMEOUT);
}

void Win32SerialLine::Close()
{
    if (!IsOpen())
        return;
    DrainBeforeDeadline();
    Release();
}

// FlushFileBuffers would wait for the queue with no limit; the queue is watched instead, up to
// the deadline. An empty queue may leave the last bytes in the UART, whose FIFO Windows cannot
// see into: they are given the time they take on the wire before the speed is given back.
void Win32SerialLine::DrainBeforeDeadline()
{
    for (;;) {
        const std::optional<DWORD> pending = m_environment.driver.pendingOutput(m_handle);
        if (!pending) {
            const DWORD error = ::GetLastError();
            AbandonAndFail(FailureReason::Other,
                "failed after the frame was handed over; it may not have been sent completely "
                "(Windows error "
                    + std::to_string(error) + ")",
                error);
        }
        if (*pending == 0)
            break;
        if (TimeLeft() <= 0ms)
            FailTimedOut();
        m_environment.pause(1ms);
    }
    const auto onTheWire = std::chrono::ceil<std::chrono::milliseconds>(
        WireTime(m_settings, std::min(m_written, transmitterBytes)));
    m_environment.pause(std::clamp(TimeLeft(), 0ms, onTheWire));
}

// Gives the port back as it was found: its own state and timeouts.
void Win32SerialLine::Release()
{
    if (m_savedState)
        m_environment.driver.applyState(m_handle, &*m_savedState);
    if (m_savedTimeouts)
        m_environment.driver.applyTimeouts(m_handle, &*m_savedTimeouts);
    m_savedState.reset();
    m_savedTimeouts.reset();
    m_environment.driver.close(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}

// Whatever did not leave is thrown away first, so that it cannot reach the board later, long
// after the user was told it was not sent.
void Win32SerialLine::Abandon()
{
    m_environment.driver.discardOutput(m_handle);
    Release();
}

void Win32SerialLine::AbandonAndFail(FailureReason reason, const std::string &what, DWORD error)
{
    Abandon();
    FailOnPort(reason, what, error);
}

bool Win32SerialLine::IsOpen() const
{
    return m_handle != INVALID_HANDLE_VALUE;
}

// A name that is no COM port is refused before anything is opened: "\\.\" reaches every device
// of the system, and a file name would be written to as if it were a port.
int Win32SerialLine::NumberToOpen() const
{
    if (!m_oneDevice)
        return m_portNumber;
    if (const std::optional<int> number = ComDeviceNumber(*m_oneDevice))
        return *number;
    Fail(FailureReason::Other,
        "\"" + *m_oneDevice + "\" is not the name of a COM port, such as COM3.",
        ERROR_INVALID_NAME);
}

std::string Win32SerialLine::PortName() const
{
    if (m_oneDevice)
        return m_device.empty() ? *m_oneDevice : m_device;
    return "Port " + std::to_string(m_portNumber) + " (COM" + std::to_string(m_portNumber) + ")";
}

void Win32SerialLine::FailOnPort(FailureReason reason, const std::string &what, DWORD error) const
{
    Fail(reason, PortName() + " " + what + ".", error);
}

// Every failure of the line is made here: what went wrong in words, the reason for the face to
// choose its advice by, and the Windows error code.
void Win32SerialLine::Fail(FailureReason reason, const std::string &message, DWORD error) const
{
    throw ActionError(FailureKind::SerialLine, static_cast<int>(error), message, reason);
}

} // namespace ostrim
