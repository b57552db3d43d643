#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <termios.h>

// A pseudo-terminal whose slave side stands in for a serial port; the test reads what arrives at
// the master side, as a board on the far end of a cable would.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // The device path a serial line opens, e.g. /dev/pts/3.
    const std::string &devicePath() const { return m_devicePath; }
    int masterHandle() const { return m_master; }
    // The test's own hold on the port side, which keeps the terminal alive between opens.
    int slaveHandle() const { return m_slave; }

    // Waits until count bytes have arrived or the wait is over; returns what arrived.
    std::vector<std::uint8_t> read(
        std::size_t count, std::chrono::milliseconds wait = std::chrono::seconds(2));
    // Whatever arrives within the wait, for checking that nothing was sent.
    std::vector<std::uint8_t> readAll(std::chrono::milliseconds wait);

    // The line settings of the slave side as they stand now.
    termios settings() const;
    bool setSettings(const termios &settings);

    // The far end hangs up: the master is closed, and the slave side sees a hang-up.
    void hangUp();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_devicePath;
};

// Settings that differ from the line's in every respect a test looks at, so that whatever the
// line leaves behind shows.
termios CookedAt9600(termios settings);
bool SameSettings(const termios &a, const termios &b);

// Open file descriptors of this process, for checking that nothing leaks.
int OpenFileDescriptorCount();
