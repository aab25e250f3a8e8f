#pragma once
// One conversation with a client: a TCP connection or the pty master. Frames the bytes it reads
// into command lines, runs each on the shared model when its reply is due, and writes the replies
// without ever blocking: output is produced only while the peer drains it, and reading pauses while
// too many commands wait, so a client that does not read costs bounded memory and no other client
// waits for it. Single-threaded; the server calls everything from its poll loop.
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "Conversation.h"
#include "Instrument.h"
#include "Io.h"

namespace ampsim {

struct PeerSettings {
    std::chrono::milliseconds delay{0}; // a reply is due this long after its command arrived
    unsigned closeAfter = 0;            // cut the conversation after this many commands; 0 = never
    std::string eol = "\r\n";           // ends each reply line
    std::string prompt;                 // follows each reply, with no line end
};

class Peer : public Conversation {
public:
    using Kind = LinkKind;

    static constexpr std::size_t kMaxLine = 64 * 1024;              // longer lines are discarded
    static constexpr std::size_t kMaxQueuedInput = 1024 * 1024;     // reading pauses above this
    static constexpr std::size_t kOutputHighWater = 256 * 1024;     // commands wait above this
    static constexpr std::size_t kOutputHardCap = 16 * 1024 * 1024; // the peer is dropped above this

    // Takes ownership of handle (non-blocking) and closes it on destruction. model must outlive the
    // peer.
    Peer(IoHandle handle, Kind kind, Instrument& model, PeerSettings settings);
    ~Peer() override;
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    IoHandle Handle() const override { return handle_; }
    // The poll events (PollSet.h) this peer waits for now.
    unsigned PollEvents() const override;
    // Reads what has arrived (call when the handle is readable, hung up or in error); now stamps
    // the commands.
    void ReadInput(Clock::time_point now) override;
    // Runs the commands that are due, produces reply output and writes what the peer takes.
    void Advance(Clock::time_point now) override;
    // When Advance has work that only time can release (a delayed reply); none otherwise.
    std::optional<Clock::time_point> NextDue() const override;
    // The conversation is over: a socket is to be closed, the pty to be reset.
    bool Finished() const override;
    // Forgets the conversation (input, queued commands, unsent output, command count); keeps the
    // handle.
    void Reset();
    // For the pty, when its client has gone: as Reset(), except that a reply line only partly
    // written keeps its rest, which goes out first when the peer is next advanced. The terminal
    // keeps what was written, so a line cut short would run into the next client's first reply.
    void HangUp();
    // For the pty, whose client stays after a close: a finished conversation starts afresh with
    // the commands already received; after an I/O failure, as Reset().
    void Restart();

private:
    struct Command {
        std::string line;
        Clock::time_point due;
        bool tooLong = false;
        // Not a command but reply lines held back (Reply::lateMs, repeatMs), sent when due.
        std::vector<std::string> held;
        unsigned repeatMs = 0; // the held lines go out once more this long after
    };

    void Frame(const char* data, std::size_t size, Clock::time_point now);
    void EndLine(Clock::time_point now);
    void Execute(const Command& command, Clock::time_point now);
    void Hold(std::vector<std::string> lines, Clock::time_point due, unsigned repeatMs);
    void ProduceRun();
    void FinishReply();
    void AppendLine(const std::string& line);
    bool Flush();
    bool Idle() const;
    std::size_t OutPending() const { return out_.size() - outSent_; }
    bool RunActive() const { return runNext_ <= run_.count; }

    IoHandle handle_;
    Kind kind_;
    Instrument& model_;
    PeerSettings settings_;

    std::string line_;        // the line being received
    bool discarding_ = false; // the line being received is too long; drop bytes up to its LF
    bool inputEnded_ = false;
    bool failed_ = false;  // an I/O error or the output cap ended the conversation
    bool closing_ = false; // close once the output is written
    std::deque<Command> queue_;
    std::size_t queuedBytes_ = 0;
    unsigned handled_ = 0;

    std::string out_;
    std::size_t outSent_ = 0;
    bool midLine_ = false; // the last byte written was not a line end; survives Reset()
    LineRun run_;
    std::uint64_t runNext_ = 1;
    std::string tail_;         // sent without a line end once the run is over
    bool tailPending_ = false; // tail_ and tailCloses_ still to be applied
    bool promptOwed_ = false;  // --prompt follows the reply under way
    bool tailCloses_ = false;
};

} // namespace ampsim
