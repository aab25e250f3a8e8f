// The serial port list on Linux, read from sysfs.
#include "connection/SerialPortList_posix.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
// Serial-core ports report their UART type; 0 is a slot with no UART behind it.
bool IsUnknownUart(const fs::path& tty) {
    std::ifstream file(tty / "type");
    int type = -1;
    return file >> type && type == 0;
}

bool IsPort(const fs::path& tty) {
    std::error_code error;
    return fs::exists(tty / "device", error) && !IsUnknownUart(tty);
}
} // namespace

std::vector<std::string> ListSerialPorts(const std::string& sysfsRoot) {
    std::vector<std::string> ports;
    std::error_code error;
    for (fs::directory_iterator it(fs::path(sysfsRoot) / "class" / "tty", error), end; !error && it != end;
         it.increment(error)) {
        if (IsPort(it->path())) ports.push_back(it->path().filename().string());
    }
    std::sort(ports.begin(), ports.end(), NaturalLess);
    return ports;
}

namespace {
std::string Attribute(const fs::path& folder, const char* name) {
    std::ifstream file(folder / name);
    std::string value;
    std::getline(file, value);
    while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
        value.pop_back();
    return value;
}

// The USB device (the folder with idVendor) at or above a tty's device node, if any.
fs::path UsbDeviceOf(const fs::path& tty) {
    std::error_code error;
    fs::path at = fs::canonical(tty / "device", error);
    for (int depth = 0; !error && depth < 8 && at.has_relative_path(); ++depth, at = at.parent_path()) {
        if (fs::exists(at / "idVendor", error)) return at;
    }
    return {};
}

std::string UsbDescription(const fs::path& usb) {
    std::string text = Attribute(usb, "manufacturer");
    const std::string product = Attribute(usb, "product");
    if (!product.empty()) text += (text.empty() ? "" : " ") + product;
    const std::string serial = Attribute(usb, "serial");
    if (!serial.empty()) text += (text.empty() ? "(" : " (") + serial + ")";
    return text;
}
} // namespace

std::vector<SerialPortInfo> ListSerialPortInfo(const std::string& sysfsRoot, const std::string& byIdFolder) {
    std::vector<SerialPortInfo> ports;
    for (const std::string& name : ListSerialPorts(sysfsRoot)) {
        const fs::path usb = UsbDeviceOf(fs::path(sysfsRoot) / "class" / "tty" / name);
        ports.push_back({name, usb.empty() ? std::string() : UsbDescription(usb), {}});
    }
    std::error_code error;
    for (fs::directory_iterator it(byIdFolder, error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        const std::string target = fs::read_symlink(it->path(), ignored).filename().string();
        for (SerialPortInfo& port : ports) {
            if (port.name == target && port.stableName.empty()) port.stableName = it->path().string();
        }
    }
    return ports;
}

std::vector<std::string> ListSerialPorts() {
    return ListSerialPorts("/sys");
}

// No numbers name the ports here: ASRLn is the nth of the list, in its natural order.
std::string SerialPortOfNumber(int number) {
    const std::vector<std::string> ports = ListSerialPorts();
    return number >= 1 && static_cast<size_t>(number) <= ports.size() ? ports[static_cast<size_t>(number) - 1]
                                                                      : std::string();
}

std::vector<SerialPortInfo> ListSerialPortInfo() {
    return ListSerialPortInfo("/sys", "/dev/serial/by-id");
}
