#pragma once
// A HiSLIP session (IVI-6.1, protocol version 1.0): the synchronous channel carries the messages
// (Data, DataEnd) and the device clear's end; the asynchronous channel carries the status query,
// the device clear's start and the instrument's service requests. Open makes both (Initialize,
// AsyncInitialize) and tells the instrument the largest message this client takes
// (AsyncMaximumMessageSize); a message written is cut to the instrument's largest.
//
// Threads: as MessageSession says. The asynchronous channel is read by a thread of the session's
// own, from a successful Open until Close. That thread calls OnServiceRequest for each
// AsyncServiceRequest, and OnProtocolError for an Error that no call waits for and when the
// channel is lost or the instrument sends FatalError (the session then ends). The answers to the
// caller's own asynchronous requests reach the caller through a mailbox.
#include "connection/HislipMessage.h"
#include "connection/MessageSession.h"
#include "connection/TcpChannel.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class HislipClient final : public MessageSession {
public:
    static constexpr uint16_t ProtocolVersion = 0x0100; // 1.0: the major number in the high byte
    static constexpr uint16_t VendorId = 'C' << 8 | 'V';

    HislipClient();
    ~HislipClient() override;

    bool Open(const SessionTarget& target) override;
    bool Write(const std::string& message, int timeoutMs) override;
    // Reads up to DataEnd; HiSLIP marks a message's end itself, so the termination character is not
    // looked for. In synchronized mode a reply carries the message ID of the DataEnd that asked for
    // it: one with an earlier ID (the reply a Read that gave up left behind) is skipped.
    bool Read(std::string& message, int timeoutMs) override;
    bool ReadStatusByte(uint8_t& status, int timeoutMs) override;
    bool Clear(int timeoutMs) override;
    void Close() override;
    bool IsOpen() const override { return open_.load(); }

private:
    using Got = TcpChannel::Got;

    bool OpenLocked(const SessionTarget& target);
    // Sends request on channel and reads one message, which must be of type expected (Open only).
    bool Exchange(TcpChannel& channel, hislip::MessageReader& reader, const std::string& request,
                  uint8_t expected, int timeoutMs, hislip::Message& reply);
    // The next message from channel; Got::Bytes when one came, else why says why not. A bad header
    // is answered with FatalError, as the protocol asks, and gives Got::Failed.
    Got ReceiveMessage(TcpChannel& channel, hislip::MessageReader& reader, hislip::Message& message,
                       unsigned start, int timeoutMs, std::string& why);
    // The next message on the synchronous channel; a FatalError or a lost channel ends the session.
    bool SyncMessage(hislip::Message& message, unsigned start, int timeoutMs);
    bool SendAsync(const std::string& bytes, int timeoutMs);
    // Waits for the asynchronous reply of type; an Error in its place fails the wait.
    bool AwaitAsync(uint8_t type, unsigned start, int timeoutMs, hislip::Message& reply);
    void DropAsyncReplies();
    // The asynchronous channel's reader thread, and its end (why empty: Close ended it).
    void ReadAsync();
    void EndAsync(const std::string& why);
    void Report(const std::string& text);

    // A failure that ends the session: both channels are closed.
    bool Break(const std::string& reason);
    std::string ClosedReason();
    // Closes both channels and ends the reader thread. callLock_ held.
    void Teardown();

    TcpChannel sync_;
    TcpChannel async_;
    std::thread asyncThread_;
    std::mutex callLock_; //!< Held by every call and by Close: one exchange at a time.
    // Under callLock_:
    hislip::MessageReader syncReader_;
    uint64_t serverMaxMessage_ = 0;
    uint32_t messageId_ = hislip::FirstMessageId;
    uint32_t lastSentId_ = hislip::FirstMessageId - 2;
    bool rmtDelivered_ = false;
    bool overlapped_ = false; //!< The mode InitializeResponse or the last device clear set.
    // The reader thread's (the caller's during Open):
    hislip::MessageReader asyncReader_;
    std::mutex asyncSendLock_; //!< Keeps messages sent on the asynchronous channel whole.

    std::mutex asyncLock_; //!< Protects the mailbox fields below.
    std::condition_variable asyncArrived_;
    std::deque<hislip::Message> asyncReplies_;
    std::string asyncEnd_;   //!< Why the reader thread ended; empty while it runs.
    bool awaiting_ = false;  //!< A call waits for an asynchronous reply.
    bool stopWaits_ = false; //!< Set by Close: a waiting call gives up.

    std::atomic<bool> open_{false};
    std::atomic<unsigned> closes_{0}; //!< Counts Close calls, so an Open under way sees one.
};
