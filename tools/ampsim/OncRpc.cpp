#include "OncRpc.h"

#include "Xdr.h"

namespace ampsim::rpc {
namespace {

constexpr std::uint32_t kCall = 0;
constexpr std::uint32_t kReply = 1;
constexpr std::uint32_t kMsgAccepted = 0;
constexpr std::uint32_t kMsgDenied = 1;
constexpr std::uint32_t kRpcMismatch = 0;
constexpr std::uint32_t kAuthNone = 0;
constexpr std::size_t kMaxAuthBody = 400;
constexpr std::uint32_t kLastFragment = 0x80000000u;

} // namespace

bool ParseCall(std::string_view record, CallHeader& header, std::string_view& args) {
    XdrReader in(record);
    header.xid = in.U32();
    if (in.U32() != kCall) return false;
    header.rpcVersion = in.U32();
    header.program = in.U32();
    header.version = in.U32();
    header.procedure = in.U32();
    for (int auth = 0; auth < 2; ++auth) { // credentials, then verifier
        in.U32();
        in.Opaque(kMaxAuthBody);
    }
    if (in.Failed()) return false;
    args = in.Rest();
    return true;
}

std::string AcceptedReply(std::uint32_t xid, AcceptStat stat, std::string_view results) {
    XdrWriter out;
    out.U32(xid).U32(kReply).U32(kMsgAccepted).U32(kAuthNone).Opaque({});
    out.U32(static_cast<std::uint32_t>(stat));
    out.Bytes().append(results);
    return std::move(out.Bytes());
}

std::string RpcMismatchReply(std::uint32_t xid) {
    XdrWriter out;
    out.U32(xid).U32(kReply).U32(kMsgDenied).U32(kRpcMismatch).U32(kRpcVersion).U32(kRpcVersion);
    return std::move(out.Bytes());
}

std::string Frame(std::string_view record) {
    XdrWriter out;
    out.U32(kLastFragment | static_cast<std::uint32_t>(record.size()));
    out.Bytes().append(record);
    return std::move(out.Bytes());
}

RecordReader::Status RecordReader::Next(std::string& input, std::string& record) {
    std::size_t pos = 0;
    Status status = Status::Partial;
    while (input.size() - pos >= 4) {
        const std::uint32_t header = XdrReader(std::string_view(input).substr(pos, 4)).U32();
        const std::size_t length = header & ~kLastFragment;
        if (assembling_.size() + length > kMaxRecord) return Status::TooLong;
        if (input.size() - pos - 4 < length) break;
        assembling_.append(input, pos + 4, length);
        pos += 4 + length;
        if (header & kLastFragment) {
            record = std::move(assembling_);
            assembling_.clear();
            status = Status::Record;
            break;
        }
    }
    input.erase(0, pos);
    return status;
}

} // namespace ampsim::rpc
