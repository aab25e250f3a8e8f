#include "RpcConnection.h"

#include "Xdr.h"

namespace ampsim {
namespace {

// Calls wait while this much output is unsent, so a client that does not read costs bounded memory.
constexpr std::size_t kOutputHighWater = std::size_t{256} * 1024;
// Reading pauses while this much input waits (calls sent ahead of a parked one), and so does the
// poll for it: a full buffer would otherwise wake the loop at once, every turn.
constexpr std::size_t kInputLimit = 2 * rpc::kMaxRecord;

} // namespace

RpcConnection::RpcConnection(IoHandle handle, std::unique_ptr<RpcProgram> program)
    : channel_(handle), program_(std::move(program)) {}

unsigned RpcConnection::PollEvents() const {
    return channel_.PollEvents(!broken_ && channel_.Pending() < kOutputHighWater &&
                               channel_.Buffered() < kInputLimit);
}

void RpcConnection::ReadInput(Clock::time_point) {
    channel_.Read(kInputLimit);
}

void RpcConnection::Advance(Clock::time_point now) {
    drained_ = false;
    while (channel_.Flush() && !broken_ && channel_.Pending() < kOutputHighWater) {
        if (parked_) {
            if (!RunParked(now)) return;
        } else if (!TakeCall(now)) {
            drained_ = true;
            return;
        }
    }
}

bool RpcConnection::RunParked(Clock::time_point now) {
    RpcOutcome outcome = program_->Call(parked_->header.procedure, parked_->args, parked_->arrived, now);
    const std::uint32_t xid = parked_->header.xid;
    switch (outcome.kind) {
    case RpcOutcome::Kind::Wait:
        parked_->wakeAt = outcome.wakeAt;
        return false;
    case RpcOutcome::Kind::Results:
        Reply(rpc::AcceptedReply(xid, rpc::AcceptStat::Success, outcome.results));
        break;
    case RpcOutcome::Kind::ProcUnavail:
        Reply(rpc::AcceptedReply(xid, rpc::AcceptStat::ProcUnavail));
        break;
    case RpcOutcome::Kind::GarbageArgs:
        Reply(rpc::AcceptedReply(xid, rpc::AcceptStat::GarbageArgs));
        break;
    }
    parked_.reset();
    return true;
}

bool RpcConnection::TakeCall(Clock::time_point now) {
    std::string record;
    rpc::RecordReader::Status status = records_.Next(channel_.Input(), record);
    if (status == rpc::RecordReader::Status::TooLong) broken_ = true;
    if (status != rpc::RecordReader::Status::Record) return false;
    rpc::CallHeader header;
    std::string_view args;
    if (!rpc::ParseCall(record, header, args)) return true;
    if (header.rpcVersion != rpc::kRpcVersion) {
        Reply(rpc::RpcMismatchReply(header.xid));
    } else if (header.program != program_->Number()) {
        Reply(rpc::AcceptedReply(header.xid, rpc::AcceptStat::ProgUnavail));
    } else if (header.version != program_->Version()) {
        XdrWriter range;
        range.U32(program_->Version()).U32(program_->Version());
        Reply(rpc::AcceptedReply(header.xid, rpc::AcceptStat::ProgMismatch, range.Bytes()));
    } else {
        parked_ = Parked{header, std::string(args), now, now};
    }
    return true;
}

void RpcConnection::Reply(const std::string& record) {
    channel_.Send(rpc::Frame(record));
}

std::optional<Clock::time_point> RpcConnection::NextDue() const {
    if (!parked_ || channel_.Pending() >= kOutputHighWater) return std::nullopt;
    return parked_->wakeAt;
}

bool RpcConnection::Finished() const {
    if (channel_.Failed() || broken_) return true;
    return channel_.InputEnded() && drained_ && channel_.Pending() == 0;
}

} // namespace ampsim
