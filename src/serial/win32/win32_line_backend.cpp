#include "serial/win32/win32_line_backend.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

// A withdrawn write is normally done at once; one that is not may still be written to by the
// system, so its block is never freed.
constexpr std::chrono::milliseconds withdrawalWait {100};
// What a UART can hold beyond the driver's queue: a 16-byte FIFO and the shift register.
constexpr std::size_t transmitterBytes = 17;

// In Parity's and StopBits' order.
constexpr std::array<BYTE, 5> parityCodes {
    NOPARITY, EVENPARITY, ODDPARITY, MARKPARITY, SPACEPARITY};
constexpr std::array<BYTE, 3> stopBitsCodes {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};

// Raw bytes at the given framing, with DTR and RTS on as long as the port is open and no
// handshake of any kind: a board that drives none of those lines must still be sent to. A port
// left with abort-on-error by another program would fail our write over a stray receive error.
DCB RawState(DCB state, const LineSettings &line)
{
    state.BaudRate = static_cast<DWORD>(line.baudRate);
    state.ByteSize = static_cast<BYTE>(line.dataBits);
    state.Parity = parityCodes.at(static_cast<std::size_t>(line.parity));
    state.StopBits = stopBitsCodes.at(static_cast<std::size_t>(line.stopBits));
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

[[noreturn]] void Fail(const std::string &what, DWORD error,
    FailureReason reason = FailureReason::Other,
    LineFailure::Named named = LineFailure::Named::Port)
{
    throw LineFailure {what, static_cast<int>(error), reason, {}, named};
}

std::string WindowsError(DWORD error)
{
    return " (Windows error " + std::to_string(error) + ")";
}

// A Windows COM port under a line: port n is COMn. The port is opened without sharing, so no
// other program can use it for the one open-write-close cycle, and is given back with its own
// state and timeouts.
class Win32LineBackend final : public LineBackend
{
public:
    explicit Win32LineBackend(Win32LineEnvironment environment)
        : m_environment(std::move(environment))
    { }

    // A name that is no COM port is refused before anything is opened: "\\.\" reaches every device
    // of the system, and a file name would be written to as if it were a port.
    std::string Device(std::int16_t number, const std::optional<std::string> &named) override
    {
        if (!named)
            return "COM" + std::to_string(number);
        if (const std::optional<int> com = ComDeviceNumber(*named))
            return "COM" + std::to_string(*com);
        Fail("\"" + *named + "\" is not the name of a COM port, such as COM3.", ERROR_INVALID_NAME,
            FailureReason::Other, LineFailure::Named::Alone);
    }

    LineBudget Budget() const override { return LocalLineBudget; }

    // Never waits: CreateFile on a COM port returns at once.
    void Open(const std::string &device, const LineSettings &, const Deadline &) override
    {
        // The device namespace's own name: plain "COM10" and above name no device.
        m_handle
            = m_environment.driver.open(L"\\\\.\\" + std::wstring(device.begin(), device.end()));
        if (m_handle != INVALID_HANDLE_VALUE)
            return;
        const DWORD error = ::GetLastError();
        switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
            Fail("does not exist. " + Win32PortsSummary(m_environment.ports()), error,
                FailureReason::Missing, LineFailure::Named::Number);
        case ERROR_ACCESS_DENIED: // what an open without sharing meets while another program holds
                                  // it
        case ERROR_SHARING_VIOLATION:
            Fail("is in use by another program", error, FailureReason::InUse);
        default:
            Fail("cannot be opened" + WindowsError(error), error);
        }
    }

    // What to give back is read only once the port is ours.
    void Configure(const LineSettings &settings, const Deadline &) override
    {
        m_settings = settings;
        DCB saved {};
        saved.DCBlength = sizeof saved;
        COMMTIMEOUTS savedTimeouts {};
        if (!m_environment.driver.readState(m_handle, &saved)
            || !m_environment.driver.readTimeouts(m_handle, &savedTimeouts)) {
            const DWORD error = ::GetLastError();
            Fail("cannot be read" + WindowsError(error), error);
        }
        m_savedState = saved;
        m_savedTimeouts = savedTimeouts;

        const std::string refused = "cannot be set to " + DescribeLineSettings(settings);
        DCB asked = RawState(saved, settings);
        COMMTIMEOUTS timeouts = LineTimeouts();
        if (!m_environment.driver.applyState(m_handle, &asked)
            || !m_environment.driver.applyTimeouts(m_handle, &timeouts))
            Fail(refused, ::GetLastError());
        DCB held {};
        held.DCBlength = sizeof held;
        if (!m_environment.driver.readState(m_handle, &held) || !Holds(asked, held))
            Fail(refused, ERROR_INVALID_PARAMETER);
    }

    WriteOutcome Write(std::span<const std::uint8_t> bytes, const Deadline &deadline) override
    {
        const BoundedWrite result = m_environment.driver.write(m_handle, bytes, deadline.Left());
        if (result.timedOut)
            return {result.written, true};
        if (result.error != ERROR_SUCCESS) {
            Fail(std::string(result.written == 0 ? "failed before the frame was sent"
                                                 : "failed while the frame was written; it may not "
                                                   "have been sent completely")
                    + WindowsError(result.error),
                result.error);
        }
        if (result.written != bytes.size()) {
            Fail("took only " + std::to_string(result.written) + " of the frame's "
                    + std::to_string(bytes.size()) + " bytes",
                ERROR_WRITE_FAULT);
        }
        return {result.written, false};
    }

    // FlushFileBuffers would wait for the queue with no limit; the line watches the queue instead.
    std::optional<std::size_t> Queued() override
    {
        DWORD errors = 0;
        COMSTAT status {};
        if (!m_environment.driver.readStatus(m_handle, &errors, &status)) {
            const DWORD error = ::GetLastError();
            Fail("failed after the frame was handed over; it may not have been sent completely"
                    + WindowsError(error),
                error);
        }
        return status.cbOutQue;
    }

    // An empty queue may leave the last bytes in the UART, whose FIFO Windows cannot see into: they
    // are given the time they take on the wire before the speed is given back.
    void Drain(std::size_t written, const Deadline &deadline) override
    {
        deadline.Pause(std::chrono::ceil<std::chrono::milliseconds>(
            WireTime(m_settings, std::min(written, transmitterBytes))));
    }

    // The pending write withdrawn and the output queue emptied; what came in is of no concern.
    void Discard() override { m_environment.driver.purge(m_handle, PURGE_TXABORT | PURGE_TXCLEAR); }

    // Gives the port back as it was found: its own state and timeouts.
    void GiveBackAndClose() override
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

private:
    Win32LineEnvironment m_environment;
    LineSettings m_settings;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::optional<DCB> m_savedState; // the port's own, given back when it is released
    std::optional<COMMTIMEOUTS> m_savedTimeouts;
};

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

SerialPortLine Win32Line(Win32LineEnvironment environment, std::optional<OneDevice> device)
{
    const LineClock clock = environment.clock;
    return SerialPortLine(
        std::make_unique<Win32LineBackend>(std::move(environment)), std::move(device), clock);
}

} // namespace ostrim
