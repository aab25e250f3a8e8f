#pragma once
// One client's TCP connection to an ONC RPC program (the portmapper, or VXI-11's core channel):
// records in, calls carried out in order, replies out. A call to another program is answered
// PROG_UNAVAIL, to another version PROG_MISMATCH, of another RPC version RPC_MISMATCH; a record
// that is no call is dropped, and one over rpc::kMaxRecord ends the connection.
#include <memory>
#include <optional>
#include <string>

#include "ByteChannel.h"
#include "Conversation.h"
#include "OncRpc.h"
#include "RpcProgram.h"

namespace ampsim {

class RpcConnection : public Conversation {
public:
    // Takes ownership of the non-blocking socket handle.
    RpcConnection(IoHandle handle, std::unique_ptr<RpcProgram> program);

    IoHandle Handle() const override { return channel_.Handle(); }
    unsigned PollEvents() const override;
    void ReadInput(Clock::time_point now) override;
    void Advance(Clock::time_point now) override;
    std::optional<Clock::time_point> NextDue() const override;
    bool Finished() const override;

private:
    struct Parked {
        rpc::CallHeader header;
        std::string args;
        Clock::time_point arrived;
        Clock::time_point wakeAt;
    };

    // Runs the parked call; false while it still waits.
    bool RunParked(Clock::time_point now);
    // Takes the next record's call, which arrived now; false when no whole record is there.
    bool TakeCall(Clock::time_point now);
    void Reply(const std::string& record);

    ByteChannel channel_;
    std::unique_ptr<RpcProgram> program_;
    rpc::RecordReader records_;
    std::optional<Parked> parked_;
    bool drained_ = false; // the last Advance found no whole record left (or a part of one only)
    bool broken_ = false;  // a record too long: the stream cannot be followed any further
};

} // namespace ampsim
