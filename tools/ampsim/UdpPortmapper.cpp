#include "UdpPortmapper.h"

#include "OncRpc.h"
#include "PktinfoSocket.h"
#include "Portmapper.h"

namespace ampsim {

std::string AnswerPortmapCall(std::string_view datagram, std::uint16_t corePort, bool garbled) {
    rpc::CallHeader header;
    std::string_view args;
    if (!rpc::ParseCall(datagram, header, args)) return {};
    if (header.rpcVersion != rpc::kRpcVersion) return rpc::RpcMismatchReply(header.xid);
    if (header.program != Portmapper::kProgram || header.version != Portmapper::kVersion) return {};
    Portmapper portmapper(corePort);
    const RpcOutcome outcome = portmapper.Call(header.procedure, args, {}, {});
    if (outcome.kind == RpcOutcome::Kind::ProcUnavail)
        return rpc::AcceptedReply(header.xid, rpc::AcceptStat::ProcUnavail);
    if (outcome.kind != RpcOutcome::Kind::Results)
        return rpc::AcceptedReply(header.xid, rpc::AcceptStat::GarbageArgs);
    std::string reply = rpc::AcceptedReply(header.xid, rpc::AcceptStat::Success, outcome.results);
    // Cut inside the port: a reader that does not check the length reads past the datagram.
    if (garbled) reply.resize(reply.size() - 2);
    return reply;
}

UdpPortmapper::~UdpPortmapper() {
    CloseIo(socket_);
}

bool UdpPortmapper::Open(std::string& error) {
    if (!ParseIpv4(options_.address, first_)) {
        error = "--portmapper-udp: not an IPv4 address: '" + options_.address + "'";
        return false;
    }
    if (!OpenPktinfoSocket(kPortmapperPort, socket_, error)) return false;
    announcement_ = "portmap-udp " + options_.address + ":" + std::to_string(kPortmapperPort);
    return true;
}

// Each answer leaves from its amplifier's own address, so the client sees each amplifier as a
// host of its own.
void UdpPortmapper::Handle() {
    constexpr std::size_t Longest = 512; // anything longer is no GETPORT call
    UdpArrival arrival;
    while (ReceiveArrival(socket_, Longest, arrival)) {
        const std::string reply = AnswerPortmapCall(arrival.data, options_.corePort, options_.garbled);
        if (reply.empty()) continue;
        // A broadcast's destination is not the local address it came in for. Where the system does
        // not tell that address (Windows), a call to one of the amplifiers' addresses is taken for
        // a unicast call, any other for a broadcast.
        const bool unicast = arrival.localAddress != 0 ? arrival.destination == arrival.localAddress
                                                       : arrival.destination - first_ < options_.amps;
        for (unsigned i = 0; i < options_.amps; ++i)
            if (Answers(first_ + i, arrival.destination, unicast))
                SendFrom(socket_, reply, arrival.fromAddress, arrival.fromPort, first_ + i, 0);
    }
}

} // namespace ampsim
