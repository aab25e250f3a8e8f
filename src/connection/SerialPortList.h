#pragma once
// The serial ports of this machine, as names for a connection string ("ttyUSB0", "ttyS0"), read
// from sysfs. Nothing is opened: probing a port could disturb a device or a console on it.
#include <string>
#include <vector>

// The ports under sysfsRoot + "/class/tty", sorted naturally ("ttyS2" before "ttyS10").
//
// A tty is a port when it has a "device" link: USB adapters (ttyUSB*, ttyACM*) and on-board UARTs
// have one; virtual consoles, the console alias and pseudo-terminals do not. A port that the
// serial core drives also has a "type" attribute, and the kernel registers UART slots with no
// hardware behind them (the four legacy 8250 slots ttyS0..ttyS3 on most PCs) with type 0
// (unknown port); those are left out. sysfsRoot is replaceable so tests can build a tree of
// their own. Missing or unreadable folders give an empty or shorter list.
std::vector<std::string> ListSerialPorts(const std::string& sysfsRoot = "/sys");

// A port with what the system knows of it.
struct SerialPortInfo {
    std::string name;        //!< As in a connection string ("ttyUSB0").
    std::string description; //!< For USB: "maker product (serial number)"; empty when unknown.
    std::string stableName;  //!< The /dev/serial/by-id path that names this adapter, or empty.
};

// ListSerialPorts with each port's description, read from the attributes of the USB device above
// its sysfs node (manufacturer, product, serial: what udev shows of it), and its stable name: the
// entry of byIdFolder that links to it, which survives the adapter moving to another socket.
std::vector<SerialPortInfo> ListSerialPortInfo(const std::string& sysfsRoot = "/sys",
                                               const std::string& byIdFolder = "/dev/serial/by-id");

// The names the connection dialog offers: each port, then the stable name of each USB adapter.
std::vector<std::string> OfferedPortNames(const std::vector<SerialPortInfo>& ports);

// Natural order: runs of digits compare by their value, everything else by character code.
bool NaturalLess(const std::string& a, const std::string& b);
