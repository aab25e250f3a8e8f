#pragma once
// One ONC RPC program as an RpcConnection serves it. A procedure may have nothing to answer yet
// (a VXI-11 read waiting for its reply): it says when to ask again, and the connection calls it
// once more then, with the same arguments and arrival time, and takes no other call meanwhile,
// as a client on one TCP connection waits for each reply anyway. Single-threaded.
#include <cstdint>
#include <string>
#include <string_view>

#include "Conversation.h"

namespace ampsim {

struct RpcOutcome {
    enum class Kind { Results, ProcUnavail, GarbageArgs, Wait };
    Kind kind = Kind::Results;
    std::string results;           // Results: the procedure's XDR-encoded results
    Clock::time_point wakeAt = {}; // Wait: when to call again
};

class RpcProgram {
public:
    virtual ~RpcProgram() = default;
    virtual std::uint32_t Number() const = 0;
    virtual std::uint32_t Version() const = 0;
    // Carries out one call that arrived at arrived.
    virtual RpcOutcome Call(std::uint32_t procedure, std::string_view args, Clock::time_point arrived,
                            Clock::time_point now) = 0;
};

} // namespace ampsim
