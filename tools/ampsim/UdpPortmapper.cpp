#include "UdpPortmapper.h"

#include "OncRpc.h"
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

} // namespace ampsim
