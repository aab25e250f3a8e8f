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
