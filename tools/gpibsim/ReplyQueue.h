#pragma once
// The replies a simulated device holds for gpib_recv: one message per reply line, each ending in
// LF as a GPIB instrument ends its response messages. Long runs (MULTI?, FLOOD) are produced line
// by line as they are read instead of held in memory. Not thread-safe: the device's lock guards it.
#include "AmpModel.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace gpibsim {

class ReplyQueue {
public:
    // Queues the reply's lines, then its run, then its partial line (without LF). A request to
    // close the connection means nothing on a bus and is dropped.
    void Push(const ampsim::Reply& reply);
    bool Empty() const { return items_.empty(); }
    // Takes up to maxBytes of the oldest message; the rest of a longer one stays first in line.
    std::string Take(std::size_t maxBytes);

private:
    struct Item {
        std::string text;    // a message, or (run.count != 0) nothing yet
        ampsim::LineRun run; // lines run.Line(next) .. run.Line(run.count)
        std::uint64_t next = 1;
    };
    void ExpandFrontRun();

    std::deque<Item> items_;
};

} // namespace gpibsim
