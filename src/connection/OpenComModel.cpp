#include "connection/OpenComModel.h"

#include "connection/ConnectionString.h"
#include "text/Strtools.h"

#include <algorithm>

const std::vector<std::string>& GpibDrivers() {
    static const std::vector<std::string> drivers{"Agilent", "NationalInstruments", "Simulator"};
    return drivers;
}

const std::vector<std::string>& SerialModeChoices() {
    static const std::vector<std::string> modes{
        "baud=19200 parity=E data=8 stop=1",
        "baud=115200 parity=E data=8 stop=1",
        "baud=38400 parity=N data=8 stop=1",
        "baud=115200 parity=N data=8 stop=1",
    };
    return modes;
}

std::string GpibDriverName(const OpenComState& state) {
    if (!state.gpibDriver || *state.gpibDriver >= GpibDrivers().size()) return {};
    return GpibDrivers()[*state.gpibDriver];
}

void RefreshPorts(OpenComState& state, const std::vector<std::string>& ports) {
    state.ports = ports;
    state.portName = ports.empty() ? std::string() : ports.back();
}

namespace {
void ApplySerial(OpenComState& state, const std::string& rest) {
    std::string port, mode;
    SplitAtFirst(rest, port, ":", mode);
    state.checked = ConGroup::Serial;
    // A port that is not in the list (an adapter not plugged in, a path) stays what it was: taking
    // the list's last port instead would connect OK-without-changes to a different device.
    state.portName = port;
    state.portMode = mode;
    state.connectionKindName = "Serial";
}

void ApplyTcp(OpenComState& state, const std::string& rest) {
    state.checked = ConGroup::Tcp;
    SplitAtFirst(rest, state.host, ":", state.tcpPort);
    state.connectionKindName = "LAN";
}

void ApplyTcpServer(OpenComState& state, const std::string& rest) {
    state.checked = ConGroup::TcpSrv;
    SplitAtFirst(rest, state.srvAddress, ":", state.srvPort);
    state.connectionKindName = "LAN";
}

void ApplyGpib(OpenComState& state, const std::string& rest) {
    GpibTarget target = ParseGpibParams(rest);
    state.checked = ConGroup::Gpib;
    const auto& drivers = GpibDrivers();
    auto found = std::find(drivers.begin(), drivers.end(), target.Driver);
    state.gpibDriver = found == drivers.end()
                           ? std::nullopt
                           : std::optional<size_t>(static_cast<size_t>(found - drivers.begin()));
    state.gpibAdapter = target.Adapter;
    state.gpibAddress = target.Address;
    state.connectionKindName = "GPIB";
}
} // namespace

void ApplyConnectionString(OpenComState& state, const std::string& connection,
                           const std::vector<std::string>& portList) {
    std::string kind, rest;
    SplitAtFirst(connection, kind, ":", rest);
    RefreshPorts(state, portList);
    if (kind == "com") {
        ApplySerial(state, rest);
    } else if (kind == "tcp") {
        ApplyTcp(state, rest);
    } else if (kind == "tcpsrv") {
        ApplyTcpServer(state, rest);
    } else if (kind == "gpib") {
        ApplyGpib(state, rest);
    }
}

void BuildConnectionString(const OpenComState& state, std::string& connection) {
    switch (state.checked) {
    case ConGroup::Serial:
        connection = "com:" + state.portName + ":" + state.portMode;
        break;
    case ConGroup::Tcp:
        connection = "tcp:" + state.host + ":" + state.tcpPort;
        break;
    case ConGroup::TcpSrv:
        connection = "tcpsrv:" + state.srvAddress + ":" + state.srvPort;
        break;
    case ConGroup::Gpib:
        connection = "gpib:" + std::to_string(state.gpibAdapter) + "," + std::to_string(state.gpibAddress) +
                     ":" + GpibDriverName(state);
        break;
    case ConGroup::None:
        break;
    }
}

std::string GpibDriverTool(const std::string& driverName) {
    // NI-VISA for Linux installs its configuration utility as visaconf. Keysight's Linux IO
    // libraries have no desktop program to start by name, and the simulator needs no configuring.
    if (driverName == "NationalInstruments") return "visaconf";
    return {};
}

std::vector<std::string> SerialDeviceViewer() {
    return {"watch", "-n", "1", "ls", "-l", "/dev/serial/by-id", "/dev/serial/by-path"};
}
