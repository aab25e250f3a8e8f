#include "Instrument.h"

#include <utility>

namespace ampsim {

std::optional<Reply> CommandGate::Admit(std::string_view& line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return Reply{};
    ++commands_;
    if (busyEvery_ != 0 && commands_ % busyEvery_ == 0) return ReplyLine(std::string(kErrorAmpBusy));
    return std::nullopt;
}

double Noise::Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<double>(state_) / 2147483648.0 - 1.0;
}

Reply ReplyLine(std::string line) {
    Reply reply;
    reply.lines.push_back(std::move(line));
    return reply;
}

} // namespace ampsim
