#pragma once
// The POSIX side of SerialPortList.h: the serial port list as Linux's sysfs shows it, under a root
// of the caller's choosing. The side reads the real tree, tests build a tree of their own. POSIX only.
#include "connection/SerialPortList.h"

// The ports under sysfsRoot + "/class/tty", sorted naturally.
//
// A tty is a port when it has a "device" link: USB adapters (ttyUSB*, ttyACM*) and on-board UARTs
// have one; virtual consoles, the console alias and pseudo-terminals do not. A port that the
// serial core drives also has a "type" attribute, and the kernel registers UART slots with no
// hardware behind them (the four legacy 8250 slots ttyS0..ttyS3 on most PCs) with type 0
// (unknown port); those are left out. Missing or unreadable folders give an empty or shorter list.
std::vector<std::string> ListSerialPorts(const std::string& sysfsRoot);

// ListSerialPorts with each port's description, read from the attributes of the USB device above
// its sysfs node (manufacturer, product, serial: what udev shows of it), and its stable name: the
// entry of byIdFolder (/dev/serial/by-id) that links to it.
std::vector<SerialPortInfo> ListSerialPortInfo(const std::string& sysfsRoot, const std::string& byIdFolder);
