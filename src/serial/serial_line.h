#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace ostrim {

// A line that sends to this one device, whatever port number it is given: a name the user gave
// instead of a number. Its messages name the device alone, since it has no number in the list.
struct OneDevice
{
    std::string path;
};

// One serial port, opened for a single write and closed again. Every refusal is thrown as an
// ActionError of kind SerialLine, with a message that says what is wrong, and a reason by which
// the face that shows it chooses what to tell the user to do.
class SerialLine
{
public:
    virtual ~SerialLine() = default;

    // Recorded while the port is closed; a number below 1 is refused at once.
    virtual void SetPortNumber(std::int16_t number) = 0;
    // "baud,parity,data bits,stop bits", e.g. "2400,N,8,1"; applied at the next open.
    virtual void SetSettings(const std::string &settings) = 0;

    virtual void Open() = 0;
    // Hands the bytes to the line in order; nothing is read back.
    virtual void Write(std::span<const std::uint8_t> bytes) = 0;
    // Releases the port only after what was written has left it.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // The line's own name for the port last opened, for telling the user where a frame went; empty
    // where it has none.
    virtual std::string Device() const = 0;
};

} // namespace ostrim
