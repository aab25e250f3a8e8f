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
    SplitSerialParams(rest, port, mode);
    // A port that is not in the list (an adapter not plugged in, a path) stays what it was: taking
    // the list's last port instead would connect OK-without-changes to a different device.
    state.portName = port;
    state.portMode = mode;
}

void ApplyGpib(OpenComState& state, const std::string& rest) {
    GpibTarget target = ParseGpibParams(rest);
    const auto& drivers = GpibDrivers();
    auto found = std::find(drivers.begin(), drivers.end(), target.Driver);
    state.gpibDriver = found == drivers.end()
                           ? std::nullopt
                           : std::optional<size_t>(static_cast<size_t>(found - drivers.begin()));
    state.gpibAdapter = target.Adapter;
    state.gpibAddress = target.Address;
}

void ApplyGroupFields(OpenComState& state, ConGroup group, const std::string& rest) {
    switch (group) {
    case ConGroup::Serial:
        ApplySerial(state, rest);
        break;
    case ConGroup::Tcp:
        SplitAtFirst(rest, state.host, ":", state.tcpPort);
        break;
    case ConGroup::TcpSrv:
        SplitAtFirst(rest, state.srvAddress, ":", state.srvPort);
        break;
    case ConGroup::Gpib:
        ApplyGpib(state, rest);
        break;
    case ConGroup::Instrument: // shown as a VISA resource
    case ConGroup::None:
        break;
    }
}

std::string GroupParams(const OpenComState& state) {
    switch (state.checked) {
    case ConGroup::Serial:
        return state.portName + ":" + state.portMode;
    case ConGroup::Tcp:
        return state.host + ":" + state.tcpPort;
    case ConGroup::TcpSrv:
        return state.srvAddress + ":" + state.srvPort;
    case ConGroup::Gpib:
        return std::to_string(state.gpibAdapter) + "," + std::to_string(state.gpibAddress) + ":" +
               GpibDriverName(state);
    case ConGroup::Instrument:
    case ConGroup::None:
        break;
    }
    return {};
}
} // namespace

void ApplyConnectionString(OpenComState& state, const std::string& connection,
                           const std::vector<std::string>& portList) {
    const ConnectionTarget target = ParseConnection(connection);
    RefreshPorts(state, portList);
    if (!target.IsConsoleKind()) {
        state.checked = ConGroup::None;
        state.unreadable = connection;
        return;
    }
    state.checked = target.Kind->Group;
    ApplyGroupFields(state, target.Kind->Group, target.Params);
    state.connectionKindName = target.Kind->DisplayName;
    state.unreadable.clear();
}

void BuildConnectionString(const OpenComState& state, std::string& connection) {
    const ConnectionKind* kind = ConnectionKindOf(state.checked);
    if (kind) connection = std::string(kind->Name) + ":" + GroupParams(state);
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
