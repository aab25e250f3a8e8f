#include "connection/ConnectionString.h"

#include "platform/IntegerText.h"
#include "text/Strtools.h"

#include <algorithm>

ConnectionParts SplitConnectionString(const std::string& connection) {
    ConnectionParts parts;
    SplitAtFirst(connection, parts.Kind, ":", parts.Params);
    return parts;
}

namespace {
int GpibPosition(const std::string& text, int fallback) {
    int value = fallback;
    try {
        value = StrToInt(text);
    } catch (const EConvertError&) {
    }
    return std::clamp(value, GpibPositionMin, GpibPositionMax);
}
} // namespace

GpibTarget ParseGpibParams(const std::string& params) {
    std::string head, adapter, address;
    GpibTarget target;
    SplitAtFirst(params, head, ":", target.Driver);
    SplitAtFirst(head, adapter, ",", address);
    target.Adapter = GpibPosition(adapter, 0);
    target.Address = GpibPosition(address, 7);
    return target;
}

void SplitSerialParams(const std::string& params, std::string& name, std::string& mode) {
    size_t colon = params.find(':');
    if (!params.empty() && params[0] == '/') {
        // A path may hold colons itself: its mode starts after the last ':' before the first
        // setting ('='); without a setting the path is whole, less the ':' of an empty mode.
        size_t equals = params.find('=');
        colon = equals != std::string::npos ? params.rfind(':', equals) : std::string::npos;
        if (colon == std::string::npos && params.back() == ':') colon = params.size() - 1;
    }
    if (colon == std::string::npos) {
        name = params;
        mode.clear();
        return;
    }
    name = params.substr(0, colon);
    mode = params.substr(colon + 1);
}

InstrumentParams ParseInstrumentParams(const std::string& params) {
    InstrumentParams target;
    std::string device;
    SplitAtFirst(params, target.Host, ":", device);
    std::string port;
    SplitAtFirst(device, target.Device, ",", port);
    target.Port = port.empty() ? 0 : std::atoi(port.c_str());
    return target;
}
