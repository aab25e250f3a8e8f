#include "Peer.h"

#include <cstring>
#include <utility>

#include "PollSet.h"

namespace ampsim {
namespace {

constexpr std::string_view kLineTooLong = "ERROR_LINE_TOO_LONG";
constexpr std::string_view kCloseAfterPartial = "PARTI";
constexpr int kReadsPerTurn = 16; // bounds the time one busy peer holds the loop

bool IsBlankLine(const std::string& line) {
    return line.empty() || line == "\r";
}

} // namespace

Peer::Peer(IoHandle handle, Kind kind, Instrument& model, PeerSettings settings)
    : handle_(handle), kind_(kind), model_(model), settings_(std::move(settings)) {}

// Closing a socket with unread input makes the system answer with a reset, which can destroy the
// reply (or the partial line of DROP) before the client reads it; so the end is announced first
// and the input read away.
Peer::~Peer() {
    if (kind_ == Kind::Socket && !failed_) EndSending(handle_);
    CloseIo(handle_);
}

unsigned Peer::PollEvents() const {
    unsigned events = 0;
    if (!inputEnded_ && !failed_ && !closing_ && queuedBytes_ < kMaxQueuedInput) events |= kPollIn;
    if (OutPending() > 0) events |= kPollOut;
    return events;
}

void Peer::ReadInput(Clock::time_point now) {
    char buffer[64 * 1024];
    for (int i = 0; i < kReadsPerTurn && queuedBytes_ < kMaxQueuedInput && !inputEnded_; ++i) {
        IoResult got = ReadSome(handle_, kind_, buffer, sizeof buffer);
        if (got.status == IoStatus::Data) {
            Frame(buffer, got.bytes, now);
        } else if (got.status == IoStatus::Ended) {
            inputEnded_ = true;
        } else if (got.status != IoStatus::Interrupted) {
            if (got.status == IoStatus::Failed) failed_ = true;
            return;
        }
    }
}

void Peer::Frame(const char* data, std::size_t size, Clock::time_point now) {
    while (size > 0) {
        // A command ends as the replies do: at CR for an instrument that speaks CR (--eol cr),
        // else at LF.
        const char end = settings_.eol == "\r" ? '\r' : '\n';
        const char* lf = static_cast<const char*>(std::memchr(data, end, size));
        std::size_t part = lf ? static_cast<std::size_t>(lf - data) : size;
        if (!discarding_) {
            line_.append(data, part);
            if (line_.size() > kMaxLine) {
                discarding_ = true;
                line_.clear();
                line_.shrink_to_fit();
            }
        }
        if (!lf) return;
        EndLine(now);
        data += part + 1;
        size -= part + 1;
    }
}

void Peer::EndLine(Clock::time_point now) {
    Clock::time_point due = now + settings_.delay;
    if (discarding_) {
        queue_.push_back(Command{std::string(), due, true, {}, 0});
        discarding_ = false;
    } else if (!IsBlankLine(line_)) {
        queuedBytes_ += line_.size();
        queue_.push_back(Command{std::move(line_), due, false, {}, 0});
    }
    line_.clear();
}

void Peer::Advance(Clock::time_point now) {
    while (Flush() && !closing_ && OutPending() < kOutputHighWater) {
        if (RunActive()) {
            ProduceRun();
        } else if (tailPending_) {
            FinishReply();
        } else if (promptOwed_) {
            // After the whole reply, its run of lines included; not on a link being closed.
            out_ += settings_.prompt;
            promptOwed_ = false;
        } else if (!queue_.empty() && queue_.front().due <= now) {
            Command command = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= command.line.size();
            Execute(command, now);
        } else {
            return;
        }
    }
}

// Held lines go first in the queue: the commands behind them wait, as on an instrument that
// answers one command at a time.
void Peer::Hold(std::vector<std::string> lines, Clock::time_point due, unsigned repeatMs) {
    Command held{std::string(), due, false, std::move(lines), repeatMs};
    queue_.push_front(std::move(held));
}

void Peer::Execute(const Command& command, Clock::time_point now) {
    if (command.tooLong) {
        AppendLine(std::string(kLineTooLong));
        return;
    }
    if (!command.held.empty()) {
        for (const std::string& line : command.held)
            AppendLine(line);
        if (command.repeatMs != 0) Hold(command.held, now + std::chrono::milliseconds(command.repeatMs), 0);
        return;
    }
    Reply reply = model_.Handle(command.line);
    ++handled_;
    if (reply.lateMs != 0 || reply.repeatMs != 0) {
        const unsigned lateMs = reply.lateMs;
        if (lateMs == 0) {
            for (const std::string& line : reply.lines)
                AppendLine(line);
            Hold(std::move(reply.lines), now + std::chrono::milliseconds(reply.repeatMs), 0);
        } else {
            Hold(std::move(reply.lines), now + std::chrono::milliseconds(lateMs), reply.repeatMs);
        }
        return;
    }
    for (const std::string& line : reply.lines)
        AppendLine(line);
    run_ = std::move(reply.run);
    runNext_ = 1;
    tail_ = std::move(reply.partial);
    tailCloses_ = reply.close;
    if (!tailCloses_ && settings_.closeAfter != 0 && handled_ == settings_.closeAfter) {
        tail_ = kCloseAfterPartial;
        tailCloses_ = true;
    }
    tailPending_ = !tail_.empty() || tailCloses_;
    promptOwed_ = !settings_.prompt.empty();
}

void Peer::ProduceRun() {
    while (RunActive() && OutPending() < kOutputHighWater)
        AppendLine(run_.Line(runNext_++));
}

void Peer::FinishReply() {
    out_ += tail_;
    closing_ = tailCloses_;
    tail_.clear();
    tailPending_ = false;
    tailCloses_ = false;
}

void Peer::AppendLine(const std::string& line) {
    out_ += line;
    out_ += settings_.eol;
    if (OutPending() > kOutputHardCap) failed_ = true;
}

// Writes what the peer takes; false when the conversation failed. Everything unsent goes in one
// call, so each reply line leaves in a single segment unless the peer's buffer is full.
bool Peer::Flush() {
    while (!failed_ && OutPending() > 0) {
        const char* data = out_.data() + outSent_;
        IoResult put = WriteSome(handle_, kind_, data, OutPending());
        if (put.status == IoStatus::Data) {
            outSent_ += put.bytes;
            midLine_ = out_[outSent_ - 1] != '\n';
        } else if (put.status == IoStatus::Interrupted) {
            continue;
        } else if (put.status == IoStatus::WouldBlock) {
            break;
        } else {
            failed_ = true;
        }
    }
    if (outSent_ == out_.size() || failed_) {
        out_.clear();
        outSent_ = 0;
    } else if (outSent_ >= kOutputHighWater) {
        out_.erase(0, outSent_);
        outSent_ = 0;
    }
    return !failed_;
}

std::optional<Clock::time_point> Peer::NextDue() const {
    if (queue_.empty() || failed_ || closing_ || RunActive() || tailPending_ ||
        OutPending() >= kOutputHighWater)
        return std::nullopt;
    return queue_.front().due;
}

bool Peer::Idle() const {
    return queue_.empty() && !RunActive() && !tailPending_ && OutPending() == 0;
}

bool Peer::Finished() const {
    if (failed_) return true;
    if (closing_) return OutPending() == 0;
    return inputEnded_ && Idle();
}

void Peer::Restart() {
    if (failed_) {
        Reset();
        return;
    }
    closing_ = false;
    handled_ = 0;
}

void Peer::Reset() {
    line_.clear();
    discarding_ = inputEnded_ = failed_ = closing_ = false;
    queue_.clear();
    queuedBytes_ = 0;
    handled_ = 0;
    out_.clear();
    outSent_ = 0;
    run_ = LineRun{};
    runNext_ = 1;
    tail_.clear();
    tailPending_ = tailCloses_ = false;
}

// Reply lines enter out_ whole, so the rest of a line cut short is there, up to its LF; a partial
// line (DROP, --close-after) has no LF and is kept to its end.
void Peer::HangUp() {
    std::string rest;
    if (midLine_) {
        std::size_t lf = out_.find('\n', outSent_);
        rest = out_.substr(outSent_, lf == std::string::npos ? std::string::npos : lf + 1 - outSent_);
    }
    Reset();
    out_ = std::move(rest);
}

} // namespace ampsim
