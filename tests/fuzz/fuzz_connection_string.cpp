// Connection strings through the open-connection dialog's model. Any text: applying it and
// building the string again gives a string that applies and builds to itself. Any dialog state
// the format can hold (only the last field may contain ":", except that a serial path may and its
// mode then says where it starts; GPIB numbers within the up-down controls' 0 to 31): the string
// built from it applies back to the same fields.
#include "connection/OpenComModel.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

namespace {
void Check(bool condition) {
    if (!condition) std::abort();
}

const std::vector<std::string> portList{"ttyS0", "ttyUSB0", "serial/by-id/usb-FTDI-if00"};

// The fields the checked group shows.
bool SameGroupFields(const OpenComState& a, const OpenComState& b) {
    if (a.checked != b.checked) return false;
    switch (a.checked) {
    case ConGroup::Serial:
        return a.portName == b.portName && a.portMode == b.portMode;
    case ConGroup::Tcp:
        return a.host == b.host && a.tcpPort == b.tcpPort;
    case ConGroup::TcpSrv:
        return a.srvAddress == b.srvAddress && a.srvPort == b.srvPort;
    case ConGroup::Gpib:
        return a.gpibAdapter == b.gpibAdapter && a.gpibAddress == b.gpibAddress &&
               a.gpibDriver == b.gpibDriver;
    case ConGroup::Instrument: // the dialog shows a LAN instrument as its VISA resource alone
    case ConGroup::None:
        return true;
    }
    return false;
}

std::string Field(FuzzedDataProvider& input, bool colonAllowed) {
    std::string text = input.ConsumeRandomLengthString(64);
    if (!colonAllowed) std::erase(text, ':');
    return text;
}

void ParseAnyText(const std::string& text) {
    OpenComState first;
    ApplyConnectionString(first, text, portList);
    std::string built = "unchanged";
    BuildConnectionString(first, built);
    OpenComState second;
    ApplyConnectionString(second, built, portList);
    std::string rebuilt = "unchanged";
    BuildConnectionString(second, rebuilt);
    Check(rebuilt == built);
    Check(SameGroupFields(first, second));
}

void RoundTripAState(FuzzedDataProvider& input) {
    OpenComState state;
    RefreshPorts(state, portList);
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
        state.checked = ConGroup::Serial;
        state.portName = Field(input, false);
        state.portMode = Field(input, true);
        // A path may hold colons, so its mode must say where it starts: a path holds no '=', and
        // its mode is empty or begins with a setting and holds no ':' before it.
        if (!state.portName.empty() && state.portName[0] == '/') {
            std::erase(state.portName, '=');
            std::erase(state.portMode, ':');
            if (!state.portMode.empty() && state.portMode.find('=') == std::string::npos)
                state.portMode += "=";
        }
        break;
    case 1:
        state.checked = ConGroup::Tcp;
        state.host = Field(input, false);
        state.tcpPort = Field(input, true);
        break;
    case 2:
        state.checked = ConGroup::TcpSrv;
        state.srvAddress = Field(input, false);
        state.srvPort = Field(input, true);
        break;
    default: {
        state.checked = ConGroup::Gpib;
        state.gpibAdapter = input.ConsumeIntegralInRange(0, 31);
        state.gpibAddress = input.ConsumeIntegralInRange(0, 31);
        size_t driver = input.ConsumeIntegralInRange<size_t>(0, GpibDrivers().size());
        state.gpibDriver = driver < GpibDrivers().size() ? std::optional<size_t>(driver) : std::nullopt;
        break;
    }
    }
    std::string connection;
    BuildConnectionString(state, connection);
    OpenComState back;
    ApplyConnectionString(back, connection, portList);
    Check(SameGroupFields(state, back));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    ParseAnyText(std::string(reinterpret_cast<const char*>(data), size));
    FuzzedDataProvider input(data, size);
    RoundTripAState(input);
    return 0;
}
