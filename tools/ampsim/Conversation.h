#pragma once
// What the server's poll loop drives: one client's conversation on one handle, whatever protocol
// it speaks (the line protocol, ONC RPC for VXI-11, HiSLIP). Single-threaded; the server calls
// everything from its loop, in this order each turn: PollEvents, then ReadInput when the handle is
// readable, hung up or in error, then Advance, then Finished.
#include <chrono>
#include <optional>

#include "Io.h"

namespace ampsim {

using Clock = std::chrono::steady_clock;

class Conversation {
public:
    virtual ~Conversation() = default;

    virtual IoHandle Handle() const = 0;
    // The poll events (PollSet.h) this conversation waits for now.
    virtual unsigned PollEvents() const = 0;
    // Reads what has arrived; now stamps it.
    virtual void ReadInput(Clock::time_point now) = 0;
    // Does what is due and writes what the peer takes, never blocking.
    virtual void Advance(Clock::time_point now) = 0;
    // When Advance has work that only time can release; none otherwise.
    virtual std::optional<Clock::time_point> NextDue() const = 0;
    // The conversation is over and its handle is to be closed.
    virtual bool Finished() const = 0;
};

} // namespace ampsim
