#pragma once

#include "runtime/action_error.h"
#include "serial/console.h"
#include "serial/line_settings.h"
#include "serial/port_details.h"
#include "serial/port_sharing.h"
#include "serial/serial_line.h"
#include "serial/system_ports.h"
#include "serial/terminal_settings.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace ostrim {

// Bytes still waiting in the system's output queue of an open port; -1 with errno set when it
// cannot be told.
int SystemPendingOutput(int handle);
// tcdrain and tcflush(TCOFLUSH).
int SystemDrain(int handle);
int SystemDiscardOutput(int handle);

// The calls that reach the terminal driver, where a test must stand in for what a
// pseudo-terminal cannot do: hold a parity or a word size, or keep bytes queued.
struct TerminalDriver
{
    std::function<int(int handle, TerminalSettings &settings)> readSettings = ReadTerminalSettings;
    std::function<int(int handle, const TerminalSettings &settings)> applySettings
        = ApplyTerminalSettings;
    std::function<int(int handle)> pendingOutput = SystemPendingOutput;
    std::function<int(int handle)> drain = SystemDrain;
    std::function<int(int handle)> discardOutput = SystemDiscardOutput;
};

// Everything outside the process that the line consults; tests point it at their own.
struct LineEnvironment
{
    TerminalDriver driver;
    SharingPlaces sharing;
    std::filesystem::path sysClassTty {"/sys/class/tty"};
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
};

// A serial line on the terminal interface. Port n is the n-th entry of the port list. The port is
// claimed for one open-write-close cycle only, and only when no other program holds it (a UUCP
// lock file, a flock, an exclusive open) and it is not the system's console. Nothing is written to
// disk: no lock file of our own, since a flock and TIOCEXCL claim the port without one.
class PosixSerialLine final : public SerialLine
{
public:
    using Clock = std::chrono::steady_clock;

    explicit PosixSerialLine(PortList ports = SystemPortList {}, LineEnvironment environment = {});
    // A line on that one device, whatever port number it is given, for a name that outlives
    // re-enumeration (/dev/serial/by-id/...). Every check applies unchanged; its messages name
    // the device alone, since it has no number in the port list.
    explicit PosixSerialLine(OneDevice device, LineEnvironment environment = {});
    ~PosixSerialLine() override;
    PosixSerialLine(const PosixSerialLine &) = delete;
    PosixSerialLine &operator=(const PosixSerialLine &) = delete;

    void SetPortNumber(std::int16_t number) override;
    void SetSettings(const std::string &settings) override;
    void Open() override;
    void Write(std::span<const std::uint8_t> bytes) override;
    void Close() override;
    bool IsOpen() const override;
    std::string Device() const override { return m_device; }

private:
    std::string PortName() const;
    std::string ListedDevice(const std::vector<dev_t> &consoles) const;
    std::vector<PortDetails> ListedPorts(const std::vector<dev_t> &consoles) const;
    std::string Refused() const;
    [[noreturn]] void Fail(const std::string &what, int number,
        FailureReason reason = FailureReason::Other, const std::string &group = {}) const;
    [[noreturn]] void FailInUse(std::optional<int> holder) const;
    [[noreturn]] void FailPermissionDenied(int number) const;
    [[noreturn]] void AbandonAndFail(
        const std::string &what, int number, FailureReason reason = FailureReason::Other);
    [[noreturn]] void AbandonTimedOut();
    void CheckBeforeOpening(const std::string &device, const std::vector<dev_t> &consoles);
    int OpenDevice();
    void CheckNotClaimedByAnother();
    void Claim();
    void Configure();
    void WaitUntilWritable();
    void DrainBeforeDeadline();
    void Release();
    void Abandon();
    void CloseUnclaimed();
    [[noreturn]] void CloseUnclaimedAndFail(const std::string &what, int number);

    PortList m_ports;
    std::optional<std::string> m_oneDevice;
    LineEnvironment m_environment;
    ConsoleWatch m_consoles {m_environment.sysClassTty};
    std::int16_t m_portNumber = 1;
    LineSettings m_settings;
    std::string m_device;
    int m_handle = -1;
    std::optional<TerminalSettings> m_saved; // the port's own, given back when it is released
    Clock::time_point m_sendDeadline; // from the write on, for write and drain together
};

} // namespace ostrim
