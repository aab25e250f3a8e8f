// The serial port list on Windows: the serial device map in the registry, which every serial
// port driver fills with its ports' names ("COM3") while they are there.
#include "connection/SerialPortList.h"

#include "platform/Win32Text.h"

#include <algorithm>

namespace {
// Closes the key it holds when it goes.
class RegistryKey {
public:
    RegistryKey(HKEY parent, const wchar_t* path) {
        if (RegOpenKeyExW(parent, path, 0, KEY_QUERY_VALUE, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~RegistryKey() {
        if (key_) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// A value's text; the registry does not promise the terminating zero.
std::string ValueText(const std::vector<wchar_t>& data, DWORD bytes) {
    int length = static_cast<int>(bytes / sizeof(wchar_t));
    while (length > 0 && data[static_cast<size_t>(length - 1)] == L'\0')
        --length;
    return Utf8FromWide(data.data(), length);
}
} // namespace

// The map's value names are the drivers' device names ("\Device\Serial0"), its data the port
// names. A machine that never had a serial port has no such key.
std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> ports;
    RegistryKey map(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM");
    DWORD count = 0, longestName = 0, longestData = 0;
    if (!map.Get() || RegQueryInfoKeyW(map.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       &count, &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return ports;
    std::vector<wchar_t> name(longestName + 1);
    std::vector<wchar_t> data(longestData / sizeof(wchar_t) + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        // A value added since the count was taken is missed; one that grew is skipped.
        if (RegEnumValueW(map.Get(), i, name.data(), &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &bytes) != ERROR_SUCCESS ||
            type != REG_SZ)
            continue;
        const std::string port = ValueText(data, bytes);
        if (!port.empty() && std::find(ports.begin(), ports.end(), port) == ports.end())
            ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end(), NaturalLess);
    return ports;
}

// The friendly names ("USB Serial Port (COM3)") are the Setup API's, a walk through every device
// of the ports class; the dialog does without them here.
std::vector<SerialPortInfo> ListSerialPortInfo() {
    std::vector<SerialPortInfo> ports;
    for (std::string& name : ListSerialPorts())
        ports.push_back({std::move(name), {}, {}});
    return ports;
}

// A COM port's number is its name's.
std::string SerialPortOfNumber(int number) {
    return number >= 1 ? "COM" + std::to_string(number) : std::string();
}
