#include "Portmapper.h"

#include "Vxi11Core.h"
#include "Xdr.h"

namespace ampsim {
namespace {

constexpr std::uint32_t kProcNull = 0;
constexpr std::uint32_t kProcGetPort = 3;
constexpr std::uint32_t kProtocolTcp = 6;

} // namespace

RpcOutcome Portmapper::Call(std::uint32_t procedure, std::string_view args, Clock::time_point,
                            Clock::time_point) {
    if (procedure == kProcNull) return {};
    if (procedure != kProcGetPort) return {RpcOutcome::Kind::ProcUnavail, {}, {}};
    XdrReader in(args);
    const std::uint32_t program = in.U32();
    const std::uint32_t version = in.U32();
    const std::uint32_t protocol = in.U32();
    in.U32(); // the port field of the mapping is unused in a query
    if (in.Failed()) return {RpcOutcome::Kind::GarbageArgs, {}, {}};
    const bool core =
        program == Vxi11Core::kProgram && version == Vxi11Core::kVersion && protocol == kProtocolTcp;
    XdrWriter out;
    out.U32(core ? corePort_ : 0);
    return {RpcOutcome::Kind::Results, std::move(out.Bytes()), {}};
}

} // namespace ampsim
