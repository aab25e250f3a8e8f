#include "ByteChannel.h"

#include "PollSet.h"

namespace ampsim {
namespace {

constexpr int kReadsPerTurn = 16; // bounds the time one busy peer holds the loop
constexpr std::size_t kCompactAt = std::size_t{64} * 1024;

} // namespace

// The end is announced and unread input read away first, as for a line client: closing with
// unread input makes the system answer with a reset that can destroy the last reply.
ByteChannel::~ByteChannel() {
    if (!failed_) EndSending(handle_);
    CloseIo(handle_);
}

void ByteChannel::Read(std::size_t limit) {
    char buffer[64 * 1024];
    for (int i = 0; i < kReadsPerTurn && input_.size() < limit && !ended_ && !failed_; ++i) {
        IoResult got = ReadSome(handle_, LinkKind::Socket, buffer, sizeof buffer);
        if (got.status == IoStatus::Data)
            input_.append(buffer, got.bytes);
        else if (got.status == IoStatus::Ended)
            ended_ = true;
        else if (got.status == IoStatus::Failed)
            failed_ = true;
        else if (got.status == IoStatus::WouldBlock)
            return;
    }
}

void ByteChannel::Send(std::string_view bytes) {
    if (failed_) return;
    out_.append(bytes);
    Flush();
}

bool ByteChannel::Flush() {
    while (!failed_ && Pending() > 0) {
        IoResult put = WriteSome(handle_, LinkKind::Socket, out_.data() + sent_, Pending());
        if (put.status == IoStatus::Data)
            sent_ += put.bytes;
        else if (put.status == IoStatus::WouldBlock)
            break;
        else if (put.status != IoStatus::Interrupted)
            failed_ = true;
    }
    if (sent_ == out_.size() || failed_) {
        out_.clear();
        sent_ = 0;
    } else if (sent_ >= kCompactAt) {
        out_.erase(0, sent_);
        sent_ = 0;
    }
    return !failed_;
}

unsigned ByteChannel::PollEvents(bool wantInput) const {
    unsigned events = 0;
    if (wantInput && !ended_ && !failed_) events |= kPollIn;
    if (Pending() > 0) events |= kPollOut;
    return events;
}

} // namespace ampsim
