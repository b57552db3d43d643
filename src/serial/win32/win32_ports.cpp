#include "serial/win32/win32_ports.h"

#include "runtime/message_text.h"
#include "runtime/readings.h"
#include "serial/win32/win32_text.h"

#include <map>

#include <windows.h>

// GUID_DEVCLASS_PORTS is defined here rather than taken from a library.
#include <initguid.h>
// clang-format off
#include <devguid.h>
// clang-format on
#include <setupapi.h>

namespace ostrim {
namespace {

constexpr std::string_view noComPortText
    = "This system has no serial port: check that the adapter is plugged in.";

constexpr int highestComNumber = 255;

// Four hex digits after a tag such as "VID_", as USB and FTDI's bus write them
// ("USB\VID_0403&PID_6001", "FTDIBUS\VID_0403+PID_6001+A9X1\0000").
std::optional<std::uint16_t> HexAfter(std::string_view id, std::string_view tag)
{
    const std::size_t at = id.find(tag);
    if (at == std::string_view::npos || id.size() < at + tag.size() + 4)
        return std::nullopt;
    return WholeNumber<std::uint16_t>(id.substr(at + tag.size(), 4), 16);
}

// Windows adds the port's name to the friendly name; shown beside the name, it would say it twice.
std::string WithoutPortName(std::string friendlyName, const std::string &portName)
{
    const std::string suffix = " (" + portName + ")";
    if (friendlyName.size() >= suffix.size()
        && AsciiUppercase(friendlyName.substr(friendlyName.size() - suffix.size())) == suffix)
        friendlyName.resize(friendlyName.size() - suffix.size());
    return friendlyName;
}

void TakeDevice(PortDetails &port, const Win32DeviceRecord &device)
{
    port.description = WithoutPortName(device.friendlyName, port.device);
    port.manufacturer = device.manufacturer;
    for (const std::string &id : device.hardwareIds) {
        const std::string upper = AsciiUppercase(id);
        const auto vendor = HexAfter(upper, "VID_");
        const auto product = HexAfter(upper, "PID_");
        if (vendor && product) {
            port.vendorId = vendor;
            port.productId = product;
            break;
        }
    }
}

// A string or multi-string value, split at its nulls; a missing value is no string at all.
std::vector<std::string> Strings(const std::vector<wchar_t> &value)
{
    std::vector<std::string> strings;
    std::wstring current;
    for (const wchar_t c : value) {
        if (c != L'\0') {
            current += c;
        } else if (!current.empty()) {
            strings.push_back(Narrow(current));
            current.clear();
        }
    }
    if (!current.empty())
        strings.push_back(Narrow(current));
    return strings;
}

std::vector<std::string> DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA &device, DWORD property)
{
    DWORD size = 0;
    ::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0, &size);
    if (size == 0)
        return {};
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
    if (!::SetupDiGetDeviceRegistryPropertyW(
            set, &device, property, nullptr, reinterpret_cast<BYTE *>(value.data()), size, nullptr))
        return {};
    return Strings(value);
}

std::string First(const std::vector<std::string> &strings)
{
    return strings.empty() ? std::string {} : strings.front();
}

std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA &device)
{
    const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    std::vector<wchar_t> value(64, L'\0');
    DWORD size = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
    DWORD type = 0;
    const LONG result = ::RegQueryValueExW(
        key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(value.data()), &size);
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? First(Strings(value)) : std::string {};
}

std::vector<Win32DeviceRecord> PlugAndPlayPorts()
{
    std::vector<Win32DeviceRecord> devices;
    const HDEVINFO set
        = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return devices;
    SP_DEVINFO_DATA device {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        Win32DeviceRecord record;
        record.portName = PortNameOf(set, device);
        record.friendlyName = First(DeviceProperty(set, device, SPDRP_FRIENDLYNAME));
        record.manufacturer = First(DeviceProperty(set, device, SPDRP_MFG));
        record.hardwareIds = DeviceProperty(set, device, SPDRP_HARDWAREID);
        devices.push_back(std::move(record));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return devices;
}

std::vector<std::string> SerialCommNames()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key)
        != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        std::vector<wchar_t> name(256, L'\0');
        std::vector<wchar_t> value(64, L'\0');
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD valueSize = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
        DWORD type = 0;
        const LONG result = ::RegEnumValueW(key, index, name.data(), &nameSize, nullptr, &type,
            reinterpret_cast<BYTE *>(value.data()), &valueSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_SUCCESS && type == REG_SZ)
            names.push_back(First(Strings(value)));
    }
    ::RegCloseKey(key);
    return names;
}

} // namespace

std::optional<int> ComNumber(std::string_view name)
{
    if (name.size() < 4 || AsciiUppercase(name.substr(0, 3)) != "COM")
        return std::nullopt;
    const std::string_view digits = name.substr(3);
    if (digits.front() == '0')
        return std::nullopt;
    const std::optional<int> number = WholeNumber<int>(digits);
    return number && *number >= 1 && *number <= highestComNumber ? number : std::nullopt;
}

std::optional<int> ComDeviceNumber(std::string_view name)
{
    constexpr std::string_view deviceNamespace = "\\\\.\\";
    if (name.starts_with(deviceNamespace))
        name.remove_prefix(deviceNamespace.size());
    return ComNumber(name);
}

std::vector<PortDetails> Win32Ports(const Win32PortRecord &record)
{
    std::map<int, PortDetails> ports;
    const auto add = [&](const std::string &name) -> PortDetails * {
        const std::optional<int> number = ComNumber(name);
        if (!number)
            return nullptr;
        PortDetails &port = ports[*number];
        port.device = "COM" + std::to_string(*number);
        return &port;
    };
    for (const std::string &name : record.serialComm)
        add(name);
    for (const Win32DeviceRecord &device : record.devices) {
        if (PortDetails *port = add(device.portName))
            TakeDevice(*port, device);
    }
    std::vector<PortDetails> ordered;
    for (auto &[number, port] : ports)
        ordered.push_back(std::move(port));
    return ordered;
}

std::vector<PortDetails> SystemWin32Ports()
{
    return Win32Ports({SerialCommNames(), PlugAndPlayPorts()});
}

std::string Win32PortsSummary(const std::vector<PortDetails> &ports)
{
    std::vector<std::string> named;
    for (const PortDetails &port : ports) {
        named.push_back(port.description.empty()
                ? port.device
                : port.device + " (" + Printable(port.description) + ")");
    }
    return PortsSummary(named, noComPortText);
}

std::string Win32PortListText(const std::vector<PortDetails> &ports, std::string_view deviceServer)
{
    return PortListText(
        ports, noComPortText, deviceServer, [](std::size_t, const PortDetails &port) {
            return static_cast<std::size_t>(ComNumber(port.device).value_or(0));
        });
}

} // namespace ostrim
