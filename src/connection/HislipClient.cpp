#include "connection/HislipClient.h"

#include "platform/Tick.h"

#include <algorithm>
#include <chrono>

using namespace hislip;

namespace {
// How long a FatalError before closing may take to go: the stream is being given up anyway.
constexpr int RefuseTimeoutMs = 100;
// Replies kept for a call that no longer waits for them; older ones go.
constexpr size_t MaxMailbox = 16;
} // namespace

HislipClient::HislipClient() = default;

HislipClient::~HislipClient() {
    Close();
}

bool HislipClient::Break(const std::string& reason) {
    open_ = false;
    sync_.Close();
    async_.Close();
    return Fail(reason);
}

void HislipClient::Report(const std::string& text) {
    if (OnProtocolError) OnProtocolError(text);
}

std::string HislipClient::ClosedReason() {
    std::lock_guard guard(asyncLock_);
    return asyncEnd_.empty() ? "closed" : asyncEnd_;
}

HislipClient::Got HislipClient::ReceiveMessage(TcpChannel& channel, MessageReader& reader, Message& message,
                                               unsigned start, int timeoutMs, std::string& why) {
    for (;;) {
        const MessageReader::Status status = reader.Next(message);
        if (status == MessageReader::Status::Message) return Got::Bytes;
        if (status == MessageReader::Status::Malformed) {
            why = reader.Failure();
            std::string ignored;
            std::lock_guard guard(asyncSendLock_);
            channel.Send(Encode(FatalError, PoorlyFormedHeader, 0, why), RefuseTimeoutMs, ignored);
            return Got::Failed;
        }
        std::string bytes;
        const Got got = channel.Receive(bytes, RemainingMs(timeoutMs, start), why);
        if (got != Got::Bytes) {
            if (got == Got::Ended && reader.MidMessage())
                why = "the instrument closed the channel in the middle of a message";
            return got;
        }
        reader.Append(bytes);
    }
}

bool HislipClient::Exchange(TcpChannel& channel, MessageReader& reader, const std::string& request,
                            uint8_t expected, int timeoutMs, Message& reply) {
    const unsigned start = GetTickCount();
    const std::string asked = TypeName(static_cast<uint8_t>(request[2]));
    std::string why;
    if (!channel.Send(request, timeoutMs, why)) return Fail(asked + ": " + why);
    const Got got = ReceiveMessage(channel, reader, reply, start, timeoutMs, why);
    if (got == Got::TimedOut) return Fail(asked + ": no reply within " + Ms(timeoutMs));
    if (got != Got::Bytes) return Fail(asked + ": " + why);
    const uint8_t type = reply.header.type;
    if (type == FatalError || type == Error) return Fail(asked + " refused: " + DescribeError(reply));
    if (type != expected)
        return Fail(asked + ": " + TypeName(expected) + " expected, " + TypeName(type) + " came");
    return true;
}

bool HislipClient::Open(const SessionTarget& target) {
    const unsigned closes = closes_.load();
    std::lock_guard call(callLock_);
    Teardown();
    sync_.Rearm();
    async_.Rearm();
    Fail("");
    if (closes_.load() != closes) return Fail("closed");
    if (OpenLocked(target)) return true;
    const std::string failure = Failure();
    Teardown();
    return Fail(failure);
}

bool HislipClient::OpenLocked(const SessionTarget& target) {
    const int timeout = target.timeoutMs;
    const int port = target.port > 0 ? target.port : DefaultPort;
    const std::string subAddress = target.device.empty() ? "hislip0" : target.device;
    syncReader_.Reset();
    asyncReader_.Reset();
    {
        std::lock_guard guard(asyncLock_);
        asyncReplies_.clear();
        asyncEnd_.clear();
        awaiting_ = stopWaits_ = false;
    }
    std::string why;
    Message reply;
    if (!sync_.Connect(target.host, port, timeout, why)) return Fail("synchronous channel: " + why);
    const uint32_t hello = uint32_t{ProtocolVersion} << 16 | VendorId;
    if (!Exchange(sync_, syncReader_, Encode(Initialize, 0, hello, subAddress), InitializeResponse, timeout,
                  reply))
        return false;
    overlapped_ = (reply.header.control & OverlapMode) != 0;
    const uint32_t sessionId = reply.header.parameter & 0xFFFF;
    if (!async_.Connect(target.host, port, timeout, why)) return Fail("asynchronous channel: " + why);
    if (!Exchange(async_, asyncReader_, Encode(AsyncInitialize, 0, sessionId), AsyncInitializeResponse,
                  timeout, reply))
        return false;
    if (!Exchange(async_, asyncReader_, Encode(AsyncMaximumMessageSize, 0, 0, EncodeSize(MaxPayload)),
                  AsyncMaximumMessageSizeResponse, timeout, reply))
        return false;
    if (!DecodeSize(reply.payload, serverMaxMessage_))
        return Fail("AsyncMaximumMessageSizeResponse carries " + std::to_string(reply.payload.size()) +
                    " bytes, not a size of 8");
    messageId_ = FirstMessageId;
    lastSentId_ = FirstMessageId - 2;
    rmtDelivered_ = false;
    open_ = true;
    asyncThread_ = std::thread([this] { ReadAsync(); });
    return true;
}

bool HislipClient::Write(const std::string& message, int timeoutMs) {
    std::lock_guard call(callLock_);
    Fail("");
    if (!open_) return Fail("the session is closed");
    // The instrument's largest message counts its header too, where an instrument means it so.
    const uint64_t room = serverMaxMessage_ > HeaderSize ? serverMaxMessage_ - HeaderSize : 1;
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(room, MaxMessage));
    std::string out;
    size_t at = 0;
    do {
        const size_t n = std::min(chunk, message.size() - at);
        const bool last = at + n == message.size();
        out += Encode(last ? DataEnd : Data, rmtDelivered_ ? RmtDelivered : 0, messageId_,
                      {message.data() + at, n});
        rmtDelivered_ = false;
        lastSentId_ = messageId_;
        messageId_ += 2;
        at += n;
    } while (at < message.size());
    std::string why;
    // One send for the whole message: a part sent leaves the stream out of step for good.
    if (!sync_.Send(out, timeoutMs, why)) return Break("Data: " + why);
    return true;
}

bool HislipClient::SyncMessage(Message& message, unsigned start, int timeoutMs) {
    std::string why;
    const Got got = ReceiveMessage(sync_, syncReader_, message, start, timeoutMs, why);
    if (got == Got::Bytes) return message.header.type != FatalError || Break(DescribeError(message));
    if (got == Got::TimedOut) return Fail("no reply within " + Ms(timeoutMs));
    if (got == Got::Closed) return Fail(ClosedReason());
    return Break(why);
}

bool HislipClient::Read(std::string& message, int timeoutMs) {
    std::lock_guard call(callLock_);
    message.clear();
    Fail("");
    if (!open_) return Fail("the session is closed");
    const unsigned start = GetTickCount();
    for (;;) {
        Message part;
        if (!SyncMessage(part, start, timeoutMs)) return false;
        const uint8_t type = part.header.type;
        if (type == Error) return Fail(DescribeError(part));
        if (type == Interrupted) { // what came before it belongs to a reply the instrument dropped
            message.clear();
            continue;
        }
        if (type != Data && type != DataEnd)
            return Fail("an unexpected " + TypeName(type) + " on the synchronous channel");
        if (!overlapped_ && part.header.parameter != lastSentId_ && part.header.parameter != UnrequestedId)
            continue; // the reply to an earlier message, left by a Read that gave up
        if (part.payload.size() > MaxMessage - message.size())
            return Fail("a message longer than " + std::to_string(MaxMessage) + " bytes");
        message += part.payload;
        if (type == DataEnd) {
            rmtDelivered_ = true;
            return true;
        }
    }
}

bool HislipClient::SendAsync(const std::string& bytes, int timeoutMs) {
    std::string why;
    bool sent = false;
    {
        std::lock_guard guard(asyncSendLock_);
        sent = async_.Send(bytes, timeoutMs, why);
    }
    return sent || Break(TypeName(static_cast<uint8_t>(bytes[2])) + ": " + why);
}

void HislipClient::DropAsyncReplies() {
    std::lock_guard guard(asyncLock_);
    asyncReplies_.clear();
}

bool HislipClient::AwaitAsync(uint8_t type, unsigned start, int timeoutMs, Message& reply) {
    std::unique_lock lock(asyncLock_);
    awaiting_ = true;
    for (;;) {
        while (!asyncReplies_.empty()) {
            reply = std::move(asyncReplies_.front());
            asyncReplies_.pop_front();
            if (reply.header.type == type || reply.header.type == Error) break;
        }
        if (reply.header.type == type || reply.header.type == Error) {
            awaiting_ = false;
            lock.unlock();
            return reply.header.type == type || Fail(DescribeError(reply));
        }
        std::string why = stopWaits_ ? "closed" : asyncEnd_;
        const int left = RemainingMs(timeoutMs, start);
        if (why.empty() && left == 0) why = TypeName(type) + ": no reply within " + Ms(timeoutMs);
        if (!why.empty()) {
            awaiting_ = false;
            lock.unlock();
            return Fail(why);
        }
        if (left < 0)
            asyncArrived_.wait(lock);
        else
            asyncArrived_.wait_for(lock, std::chrono::milliseconds(left));
    }
}

bool HislipClient::ReadStatusByte(uint8_t& status, int timeoutMs) {
    std::lock_guard call(callLock_);
    Fail("");
    if (!open_) return Fail("the session is closed");
    const unsigned start = GetTickCount();
    DropAsyncReplies();
    Message reply;
    // The message ID of the last message sent lets the instrument tell which reply its MAV bit is about.
    if (!SendAsync(Encode(AsyncStatusQuery, rmtDelivered_ ? RmtDelivered : 0, lastSentId_), timeoutMs) ||
        !AwaitAsync(AsyncStatusResponse, start, timeoutMs, reply))
        return false;
    status = reply.header.control;
    return true;
}

bool HislipClient::Clear(int timeoutMs) {
    std::lock_guard call(callLock_);
    Fail("");
    if (!open_) return Fail("the session is closed");
    const unsigned start = GetTickCount();
    DropAsyncReplies();
    Message message;
    if (!SendAsync(Encode(AsyncDeviceClear, 0, 0), timeoutMs) ||
        !AwaitAsync(AsyncDeviceClearAcknowledge, start, timeoutMs, message))
        return false;
    // We ask for the mode the instrument prefers.
    std::string why;
    const uint8_t features = message.header.control & OverlapMode;
    if (!sync_.Send(Encode(DeviceClearComplete, features, 0), RemainingMs(timeoutMs, start), why))
        return Break("DeviceClearComplete: " + why);
    // What the instrument sent before the clear (replies, Interrupted) is dropped.
    do {
        if (!SyncMessage(message, start, timeoutMs)) return false;
    } while (message.header.type != DeviceClearAcknowledge);
    overlapped_ = (message.header.control & OverlapMode) != 0;
    messageId_ = FirstMessageId;
    lastSentId_ = FirstMessageId - 2;
    rmtDelivered_ = false;
    return true;
}

void HislipClient::ReadAsync() {
    for (;;) {
        Message message;
        std::string why;
        const Got got = ReceiveMessage(async_, asyncReader_, message, GetTickCount(), -1, why);
        if (got != Got::Bytes) return EndAsync(got == Got::Closed ? "" : why);
        const uint8_t type = message.header.type;
        if (type == AsyncServiceRequest) {
            if (OnServiceRequest) OnServiceRequest();
            continue;
        }
        if (type == FatalError) return EndAsync(DescribeError(message));
        if (type == AsyncInterrupted) continue; // the synchronous channel's Interrupted tells the reader
        std::string unclaimed;                  // an Error that no call waits for goes to the owner
        {
            std::lock_guard guard(asyncLock_);
            if (type == Error && !awaiting_) {
                unclaimed = DescribeError(message);
            } else {
                asyncReplies_.push_back(std::move(message));
                if (asyncReplies_.size() > MaxMailbox) asyncReplies_.pop_front();
            }
        }
        asyncArrived_.notify_all();
        if (!unclaimed.empty()) Report(unclaimed);
    }
}

void HislipClient::EndAsync(const std::string& why) {
    {
        std::lock_guard guard(asyncLock_);
        asyncEnd_ = why.empty() ? "closed" : "asynchronous channel: " + why;
    }
    asyncArrived_.notify_all();
    if (why.empty()) return;
    // The session needs both channels: a call blocked on the synchronous one gives up now.
    open_ = false;
    sync_.Cancel();
    Report("asynchronous channel: " + why);
}

void HislipClient::Close() {
    ++closes_;
    sync_.Cancel();
    async_.Cancel();
    {
        std::lock_guard guard(asyncLock_);
        stopWaits_ = true;
    }
    asyncArrived_.notify_all();
    std::lock_guard call(callLock_);
    Teardown();
}

void HislipClient::Teardown() {
    open_ = false;
    sync_.Close();
    async_.Close();
    if (asyncThread_.joinable()) asyncThread_.join();
}
