#pragma once
// The serial ports of this machine, as names for a connection string ("ttyUSB0", "COM3"), as the
// system lists them: sysfs on Linux (SerialPortList_posix.cpp, with SerialPortList_posix.h to read a
// tree of the caller's choosing), the registry's serial device map on Windows
// (SerialPortList_win32.cpp). Nothing is opened: probing a port could disturb a device or a console
// on it. Any thread may call.
#include <string>
#include <vector>

// A port with what the system knows of it.
struct SerialPortInfo {
    std::string name;        //!< As in a connection string ("ttyUSB0", "COM3").
    std::string description; //!< For USB: "maker product (serial number)"; empty when unknown.
    std::string stableName;  //!< A name that survives the adapter moving to another socket, or empty.
};

// This machine's ports, sorted naturally ("ttyS2" before "ttyS10", "COM2" before "COM10").
std::vector<std::string> ListSerialPorts();

// ListSerialPorts with each port's description and stable name where the system tells them
// cheaply (Linux: the USB device's attributes and its /dev/serial/by-id link; Windows: neither).
std::vector<SerialPortInfo> ListSerialPortInfo();

// The names the connection dialog offers: each port, then the stable name of each USB adapter.
std::vector<std::string> OfferedPortNames(const std::vector<SerialPortInfo>& ports);

// The port a VISA resource's "ASRLn" names (1 for the first): "COMn" on Windows, the nth port of
// ListSerialPorts elsewhere; empty when there is none.
std::string SerialPortOfNumber(int number);

// Natural order: runs of digits compare by their value, everything else by character code.
bool NaturalLess(const std::string& a, const std::string& b);
