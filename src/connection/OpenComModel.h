#pragma once
// The open-connection dialog's content as plain data, and the two conversions between it and a
// connection string. The dialog copies its controls into an OpenComState and back; every decision
// about what a connection string shows and what the controls build is made here.
#include "connection/ConnectionKinds.h"
#include "connection/ConnectionString.h"

#include <optional>
#include <string>
#include <vector>

struct OpenComState {
    ConGroup checked = ConGroup::Serial;
    std::vector<std::string> ports; //!< the port list's items
    std::string portName;           //!< the port box's text (an item or typed)
    std::string portMode = "baud=19200 parity=E data=8 stop=1 rts=off dtr=on";
    std::string host = "192.168.1.253";
    std::string tcpPort = "2500";
    int gpibAdapter = 0;
    int gpibAddress = 7;
    std::optional<size_t> gpibDriver = 0; //!< index into GpibDrivers(); none selected when empty
    std::string srvAddress;               //!< local address of a TCP server; empty: all interfaces
    std::string srvPort = "2500";
    std::string connectionKindName; //!< "Serial", "LAN" or "GPIB" of the last string applied
    //! A connection string that could not be read (no known kind): shown as it is, no group checked.
    std::string unreadable;
};

// The GPIB driver choices, in list order. "Simulator" is our simulated driver (libGpibSimulator.so),
// so GPIB can be tried without an adapter.
const std::vector<std::string>& GpibDrivers();
// The ready-made serial modes offered in the mode box.
const std::vector<std::string>& SerialModeChoices();
// The selected driver's name; empty when none is selected.
std::string GpibDriverName(const OpenComState& state);

// The port list is replaced by ports; its last item becomes the port box's text (empty list: empty text).
void RefreshPorts(OpenComState& state, const std::vector<std::string>& ports);

// Shows connection in the state: refreshes the port list from portList, then takes over the
// fields of a "com", "tcp", "tcpsrv" or "gpib" string and checks its group. A port name is taken
// only when it is in the list (exact comparison); otherwise the refreshed selection stays. GPIB
// numbers that are not integers become 0 (adapter) and 7 (address); numbers outside 0 to 31 are
// clamped. A driver not in the list leaves none selected. Any other kind (also an empty string)
// checks no group and keeps the text in unreadable, so the dialog never offers a serial port the
// operator did not choose.
void ApplyConnectionString(OpenComState& state, const std::string& connection,
                           const std::vector<std::string>& portList);

// Builds the connection string of the checked group from the texts as typed (nothing trimmed or
// checked). No group checked: connection stays as it is.
void BuildConnectionString(const OpenComState& state, std::string& connection);

// The configuration program of a GPIB driver on this platform, or empty when none is known.
std::string GpibDriverTool(const std::string& driverName);

// What the port label starts in a terminal window in place of a device manager: a live list of the
// serial adapters under their stable names (/dev/serial/by-id, by-path) and the tty each stands
// for, refreshed every second so that plugging an adapter in shows at once.
std::vector<std::string> SerialDeviceViewer();
