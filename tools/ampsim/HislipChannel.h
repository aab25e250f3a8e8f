#pragma once
// One TCP connection to the HiSLIP port. Its first message says what it is: Initialize opens a
// session and makes it the synchronous channel (commands as Data/DataEnd, replies as Data/DataEnd
// with the command's message id); AsyncInitialize with that session's id makes it the
// asynchronous one (device clear, status queries, locks, service requests). The server works in
// synchronized mode and answers one command at a time.
//
// Malformed input gets the standard's answer: an Error for a message it cannot carry out (unknown
// type, a Data message over the maximum size, whose payload is then skipped), a FatalError and the
// connection's end for a stream it can no longer follow (a wrong prologue, a control message with
// an outsized payload, a Data message of more than a GiB, a header cut short at the end, a wrong
// initialization), after which the session's other channel closes too. Single-threaded; the server's loop
// calls everything.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ByteChannel.h"
#include "Conversation.h"
#include "Hislip.h"
#include "HislipSession.h"

namespace ampsim {

class HislipChannel : public Conversation {
public:
    static constexpr std::uint64_t kMaxMessage = std::uint64_t{1}
                                                 << 20;      // the payload a Data message may carry
    static constexpr std::uint64_t kMaxControlPayload = 256; // that of any other message
    static constexpr std::uint16_t kVendorId = 0x4153;       // "AS"

    // Takes ownership of the non-blocking socket handle; sessions must outlive the channel.
    HislipChannel(IoHandle handle, HislipSessions& sessions);
    ~HislipChannel() override;

    IoHandle Handle() const override { return channel_.Handle(); }
    unsigned PollEvents() const override;
    void ReadInput(Clock::time_point now) override;
    void Advance(Clock::time_point now) override;
    std::optional<Clock::time_point> NextDue() const override;
    bool Finished() const override;

    // For the session's other channel: sends a whole message now.
    void Send(const std::string& message) { channel_.Send(message); }
    // For the asynchronous channel, on AsyncDeviceClear: the reply being sent and the command
    // being received go, and messages are dropped until DeviceClearComplete.
    void BeginClear();

private:
    enum class Role { Unbound, Sync, Async };

    // Carries out the message at the front of the input; false when no whole one is there.
    bool HandleNext(Clock::time_point now);
    void Dispatch(const hislip::Header& header, const std::string& payload, Clock::time_point now);
    void Initialize(const hislip::Header& header, const std::string& payload);
    void AsyncInitialize(const hislip::Header& header);
    void OnSync(const hislip::Header& header, const std::string& payload, Clock::time_point now);
    void OnAsync(const hislip::Header& header, const std::string& payload, Clock::time_point now);
    void Command(std::uint32_t messageId, Clock::time_point now);
    // Sends the next piece of the owed reply; false while it is not yet due.
    bool ProduceReply(Clock::time_point now);
    void Error(hislip::ErrorCode code, const std::string& text);
    void Fatal(hislip::FatalCode code, const std::string& text);
    // This connection is over by itself (the session's end aside).
    bool Over() const;

    ByteChannel channel_;
    HislipSessions& sessions_;
    std::shared_ptr<HislipSession> session_;
    Role role_ = Role::Unbound;
    std::uint64_t discard_ = 0;            // payload bytes of a refused Data message still to skip
    bool fatal_ = false;                   // a FatalError went (or came): close once it is written
    bool drained_ = false;                 // the last Advance found no whole message left
    bool clearing_ = false;                // synchronous: between AsyncDeviceClear and DeviceClearComplete
    std::string command_;                  // synchronous: the Data payloads of the command so far
    std::optional<std::uint32_t> replyId_; // synchronous: a reply is owed to this message id
};

} // namespace ampsim
