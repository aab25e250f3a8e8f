#pragma once
// Drives one ampsim conversation (an RPC connection, a HiSLIP channel) by hand: the conversation
// owns one end of a local socket pair and the test holds the other, sends the client's bytes and
// turns the conversation's loop with a clock the test sets. Everything moves within the call, so
// no wait is needed and time passes only when the test says.
#include <memory>
#include <string>
#include <string_view>

#include "Conversation.h"

class ConversationDriver {
public:
    using Clock = ampsim::Clock;

    ConversationDriver();
    ~ConversationDriver();
    // The conversation's end, for its constructor; the conversation owns it from then on.
    ampsim::IoHandle ServerEnd() const { return serverEnd_; }
    void Attach(std::unique_ptr<ampsim::Conversation> conversation) {
        conversation_ = std::move(conversation);
    }
    ampsim::Conversation& Conversation() { return *conversation_; }

    // Sends bytes as the client, turns the loop at now, and returns what the conversation wrote.
    std::string Exchange(std::string_view bytes, Clock::time_point now = Clock::time_point{});
    // Turns the loop at now without sending; returns what was written.
    std::string Turn(Clock::time_point now);
    // The client ends its sending (shutdown), as a peer that leaves does.
    void EndSending();
    // The conversation is finished (the server would close it now).
    bool Finished() const { return conversation_->Finished(); }

private:
    int clientEnd_ = -1;
    int serverEnd_ = -1;
    std::unique_ptr<ampsim::Conversation> conversation_;
};

// Big-endian bytes of a number, for writing protocol bytes out by hand.
std::string Be32(unsigned value);
std::string Be64(unsigned long long value);
