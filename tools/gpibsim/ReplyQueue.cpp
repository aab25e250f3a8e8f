#include "ReplyQueue.h"

namespace gpibsim {

void ReplyQueue::Push(const ampsim::Reply& reply) {
    for (const std::string& line : reply.lines)
        items_.push_back(Item{line + "\n", {}, 1});
    if (reply.run.count != 0) items_.push_back(Item{{}, reply.run, 1});
    if (!reply.partial.empty()) items_.push_back(Item{reply.partial, {}, 1});
}

// Turns the next line of a run at the front into a message of its own before the run.
void ReplyQueue::ExpandFrontRun() {
    Item& run = items_.front();
    if (run.run.count == 0) return;
    std::string line = run.run.Line(run.next) + "\n";
    if (++run.next > run.run.count) items_.pop_front();
    items_.push_front(Item{std::move(line), {}, 1});
}

std::string ReplyQueue::Take(std::size_t maxBytes) {
    if (items_.empty()) return {};
    ExpandFrontRun();
    std::string& text = items_.front().text;
    if (text.size() <= maxBytes) {
        std::string whole = std::move(text);
        items_.pop_front();
        return whole;
    }
    std::string head = text.substr(0, maxBytes);
    text.erase(0, maxBytes);
    return head;
}

} // namespace gpibsim
