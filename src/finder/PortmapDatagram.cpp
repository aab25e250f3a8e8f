#include "finder/PortmapDatagram.h"

#include "connection/OncRpc.h"
#include "connection/Vxi11Messages.h"

std::string GetPortDatagram(uint32_t xid) {
    const oncrpc::RpcCall call{xid, vxi11::PortmapProgram, vxi11::PortmapVersion, vxi11::PortmapGetPort};
    return oncrpc::EncodeCall(call, vxi11::EncodeGetPort(vxi11::CoreProgram, vxi11::CoreVersion));
}

std::optional<uint16_t> ReadGetPortReply(std::string_view datagram, uint32_t xid) {
    oncrpc::ReplyCheck check;
    if (!oncrpc::DecodeReply(datagram, xid, check)) return std::nullopt;
    uint32_t port = 0;
    std::string failure;
    if (!vxi11::DecodeGetPort(check.results, port, failure) || port == 0 || port > 65535) return std::nullopt;
    return static_cast<uint16_t>(port);
}
