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

// Natural order: runs of digits compare by their value, everything else by character code.
bool NaturalLess(const std::string& a, const std::string& b);
