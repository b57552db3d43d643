#pragma once

#include "serial/port_details.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim {

// One device of the Ports class as Plug and Play describes it.
struct Win32DeviceRecord
{
    std::string portName {}; // "COM3", from the device's own registry key
    std::string friendlyName {}; // "USB Serial Port (COM3)"
    std::string manufacturer {}; // "FTDI"
    std::vector<std::string> hardwareIds {}; // "USB\VID_0403&PID_6001&REV_0600", ...
};

// What Windows says of its serial ports, as read: the names the port drivers enter in
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM for the ports present now, and the devices Plug and Play
// knows. Some drivers enter only one of the two; a port of either is a port.
struct Win32PortRecord
{
    std::vector<std::string> serialComm {};
    std::vector<Win32DeviceRecord> devices {};
};

// n for "COMn" (any case), with n from 1 to 255; nothing for any other name.
std::optional<int> ComNumber(std::string_view name);
// The same, also for the port's name in the device namespace, "\\.\COMn".
std::optional<int> ComDeviceNumber(std::string_view name);

// The COM ports in the record, once each, in COM-number order (COM2 before COM10), with the
// friendly name (less its own "(COMn)"), the manufacturer and the USB vendor and product where
// the record knows them. Names that are not COMn cannot be opened as port n and are left out.
std::vector<PortDetails> Win32Ports(const Win32PortRecord &record);

// The ports as this system gives them now.
std::vector<PortDetails> SystemWin32Ports();

// For a port that does not exist: "This system has 2 serial ports: COM1, COM3 (USB Serial Port)".
std::string Win32PortsSummary(const std::vector<PortDetails> &ports);

// One line per port under the number the user gives for it, its COM number:
// "3 = COM3: USB Serial Port, FTDI, USB 0403:6001"; where there is none, what to check and
// deviceServer, the way to a device server in the words of the face that shows the list.
std::string Win32PortListText(const std::vector<PortDetails> &ports, std::string_view deviceServer);

} // namespace ostrim
