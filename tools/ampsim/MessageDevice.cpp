#include "MessageDevice.h"

#include <algorithm>

namespace ampsim {
namespace {

constexpr std::string_view kOperationComplete = "*OPC";

} // namespace

bool MessageDevice::Command(std::string_view message, Clock::time_point now) {
    if (message.ends_with('\n')) message.remove_suffix(1);
    if (message.ends_with('\r')) message.remove_suffix(1);
    if (message == kOperationComplete) {
        const bool raised = !serviceRequested_;
        serviceRequested_ = true;
        return raised;
    }
    Reply reply = model_.Handle(message);
    if (reply.lines.empty() && reply.run.count == 0 && reply.partial.empty()) return false;
    Queued queued;
    for (const std::string& line : reply.lines)
        queued.text += line + "\n";
    queued.run = std::move(reply.run);
    queued.tail = std::move(reply.partial);
    queued.due = now + delay_;
    replies_.push_back(std::move(queued));
    return false;
}

std::optional<Clock::time_point> MessageDevice::ReplyDue() const {
    if (replies_.empty()) return std::nullopt;
    return replies_.front().due;
}

bool MessageDevice::ReplyReady(Clock::time_point now) const {
    return !replies_.empty() && replies_.front().due <= now;
}

void MessageDevice::Produce(Queued& reply, std::size_t want) {
    while (reply.text.size() <= want && reply.next <= reply.run.count)
        reply.text += reply.run.Line(reply.next++) + "\n";
    if (reply.text.size() <= want && !reply.tailAdded) {
        reply.text += reply.tail;
        reply.tailAdded = true;
    }
}

MessageDevice::Piece MessageDevice::Take(std::size_t max, int stop) {
    Piece piece;
    if (replies_.empty()) return piece;
    Queued& reply = replies_.front();
    Produce(reply, max);
    std::size_t size = std::min(max, reply.text.size());
    if (stop != kNoStop) {
        std::size_t at = reply.text.find(static_cast<char>(stop));
        if (at < size) {
            size = at + 1;
            piece.stopped = true;
        }
    }
    piece.bytes = reply.text.substr(0, size);
    reply.text.erase(0, size);
    piece.end = reply.text.empty() && reply.tailAdded;
    if (piece.end) replies_.pop_front();
    return piece;
}

std::uint8_t MessageDevice::StatusByte(Clock::time_point now) const {
    std::uint8_t status = 0;
    if (ReplyReady(now)) status |= kMessageAvailable;
    if (serviceRequested_) status |= kRequestService;
    return status;
}

} // namespace ampsim
