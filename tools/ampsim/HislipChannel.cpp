#include "HislipChannel.h"

#include <algorithm>
#include <string_view>

namespace ampsim {
namespace {

using namespace hislip;

// Messages wait while this much output is unsent, so a client that does not read costs bounded memory.
constexpr std::size_t kOutputHighWater = std::size_t{256} * 1024;
constexpr std::uint64_t kMaxReplyPiece = std::uint64_t{64} * 1024;
constexpr std::uint64_t kMaxSkippedPayload = 1ull << 30;
// Reading pauses while a whole largest message waits (sent ahead of a reply not yet due), and so
// does the poll for it: a full buffer would otherwise wake the loop at once, every turn.
constexpr std::size_t kInputLimit = kHeaderSize + HislipChannel::kMaxMessage;
constexpr std::uint8_t kSynchronizedMode = 0; // control code of the responses that state the mode
constexpr std::uint8_t kLockRequest = 1;
constexpr std::uint8_t kLockSuccess = 1;
constexpr std::uint8_t kLockError = 3;

// "hislip" and a decimal number, in any case, as VISA resource names write it; empty means hislip0.
bool IsSubAddress(std::string_view name) {
    if (name.empty()) return true;
    if (name.size() < 7 || name.size() > 11) return false;
    for (std::size_t i = 0; i < 6; ++i)
        if ((name[i] | 0x20) != "hislip"[i]) return false;
    return std::all_of(name.begin() + 6, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsDataMessage(std::uint8_t type) {
    return type == kData || type == kDataEnd;
}

std::string TypeText(std::uint8_t type) {
    return "message type " + std::to_string(type);
}

} // namespace

HislipChannel::HislipChannel(IoHandle handle, HislipSessions& sessions)
    : channel_(handle), sessions_(sessions) {}

HislipChannel::~HislipChannel() {
    if (!session_) return;
    session_->ended = true;
    if (session_->sync == this) session_->sync = nullptr;
    if (session_->async == this) session_->async = nullptr;
}

unsigned HislipChannel::PollEvents() const {
    return channel_.PollEvents(!fatal_ && channel_.Pending() < kOutputHighWater &&
                               channel_.Buffered() < kInputLimit);
}

void HislipChannel::ReadInput(Clock::time_point) {
    channel_.Read(kInputLimit);
}

void HislipChannel::Advance(Clock::time_point now) {
    drained_ = false;
    while (channel_.Flush() && !fatal_ && channel_.Pending() < kOutputHighWater) {
        if (replyId_) {
            if (!ProduceReply(now)) break;
        } else if (!HandleNext(now)) {
            drained_ = true;
            break;
        }
    }
    // The peer is gone in the middle of a message: it cannot be carried out, and says the header
    // (or what followed it) was not what its length promised.
    if (drained_ && channel_.InputEnded() && !channel_.Input().empty() && !fatal_)
        Fatal(kPoorlyFormedHeader, "the connection ended inside a message");
    if (Over() && session_) session_->ended = true;
}

bool HislipChannel::HandleNext(Clock::time_point now) {
    std::string& input = channel_.Input();
    if (discard_ != 0) {
        const std::size_t skipped = static_cast<std::size_t>(std::min<std::uint64_t>(discard_, input.size()));
        input.erase(0, skipped);
        discard_ -= skipped;
        return discard_ == 0;
    }
    Header header;
    HeaderStatus status = ParseHeader(input, header);
    if (status == HeaderStatus::BadPrologue) {
        Fatal(kPoorlyFormedHeader, "a message does not start with the prologue HS");
        return false;
    }
    if (status == HeaderStatus::Partial) return false;
    if (header.length > (IsDataMessage(header.type) ? kMaxMessage : kMaxControlPayload)) {
        // A Data message too large is skipped as it streams past; a length no client could mean
        // to send (2^63) would hold the channel skipping for ever, so it ends the stream instead.
        if (!IsDataMessage(header.type) || header.length > kMaxSkippedPayload) {
            Fatal(kPoorlyFormedHeader,
                  TypeText(header.type) + " with a payload of " + std::to_string(header.length) + " bytes");
            return false;
        }
        Error(kMessageTooLarge, "the largest message taken is " + std::to_string(kMaxMessage) + " bytes");
        input.erase(0, kHeaderSize);
        discard_ = header.length;
        return true;
    }
    if (input.size() - kHeaderSize < header.length) return false;
    std::string payload = input.substr(kHeaderSize, static_cast<std::size_t>(header.length));
    input.erase(0, kHeaderSize + static_cast<std::size_t>(header.length));
    Dispatch(header, payload, now);
    return true;
}

void HislipChannel::Dispatch(const Header& header, const std::string& payload, Clock::time_point now) {
    if (header.type == kFatalError) {
        fatal_ = true; // the client gives up on the connection
        return;
    }
    if (header.type == kError) return; // the client saw something wrong; nothing to carry out
    if (role_ == Role::Sync) return OnSync(header, payload, now);
    if (role_ == Role::Async) return OnAsync(header, payload, now);
    if (header.type == kInitialize) return Initialize(header, payload);
    if (header.type == kAsyncInitialize) return AsyncInitialize(header);
    Fatal(kInvalidInitialization, TypeText(header.type) + " before Initialize or AsyncInitialize");
}

// The parameter's upper half is the client's protocol version, the lower its vendor id; either
// is accepted, and the server states its own version in the reply.
void HislipChannel::Initialize(const Header&, const std::string& payload) {
    if (!IsSubAddress(payload))
        return Fatal(kUnidentifiedFatal, "no device '" + payload + "' here (hislip0, ...)");
    session_ = sessions_.Open();
    if (!session_) return Fatal(kTooManyClients, "every session id is in use");
    role_ = Role::Sync;
    session_->sync = this;
    Send(Message(kInitializeResponse, kSynchronizedMode,
                 static_cast<std::uint32_t>(kProtocolVersion) << 16 | session_->id));
}

void HislipChannel::AsyncInitialize(const Header& header) {
    std::shared_ptr<HislipSession> session = sessions_.Find(static_cast<std::uint16_t>(header.parameter));
    if (!session || session->async || session->ended)
        return Fatal(kInvalidInitialization, "no session " + std::to_string(header.parameter & 0xffff) +
                                                 " waits for its asynchronous channel");
    session_ = std::move(session);
    role_ = Role::Async;
    session_->async = this;
    Send(Message(kAsyncInitializeResponse, 0, kVendorId));
}

void HislipChannel::OnSync(const Header& header, const std::string& payload, Clock::time_point now) {
    if (!session_->async) return Fatal(kChannelsNotEstablished, "the asynchronous channel is not open yet");
    if (clearing_ && header.type != kDeviceClearComplete) return; // dropped, as the clear asks
    switch (header.type) {
    case kData:
    case kDataEnd:
        if (command_.size() + payload.size() > kMaxMessage) {
            command_.clear();
            return Error(kMessageTooLarge, "a command longer than " + std::to_string(kMaxMessage) + " bytes");
        }
        command_ += payload;
        if (header.type == kDataEnd) Command(header.parameter, now);
        return;
    case kDeviceClearComplete:
        clearing_ = false;
        command_.clear();
        return Send(Message(kDeviceClearAcknowledge, kSynchronizedMode, 0));
    case kTrigger:
        return; // the amplifier has nothing to trigger
    default:
        if (header.type >= kFirstVendorType) return Error(kUnrecognizedVendorMessage, TypeText(header.type));
        return Error(kUnrecognizedMessageType, TypeText(header.type) + " on the synchronous channel");
    }
}

void HislipChannel::OnAsync(const Header& header, const std::string& payload, Clock::time_point now) {
    HislipSession& session = *session_;
    switch (header.type) {
    case kAsyncLock: {
        const bool held = session.locked;
        session.locked = header.control == kLockRequest;
        return Send(Message(kAsyncLockResponse, session.locked || held ? kLockSuccess : kLockError, 0));
    }
    case kAsyncRemoteLocalControl:
        return Send(Message(kAsyncRemoteLocalResponse, 0, 0));
    case kAsyncMaximumMessageSize: {
        if (payload.size() != 8) return Error(kUnidentifiedError, "the maximum message size takes 8 bytes");
        std::uint64_t size = 0;
        for (char c : payload)
            size = size << 8 | static_cast<unsigned char>(c);
        session.clientMaxMessage = size;
        return Send(SizeMessage(kAsyncMaximumMessageSizeResponse, kMaxMessage));
    }
    case kAsyncDeviceClear:
        session.device.Clear();
        if (session.sync) session.sync->BeginClear();
        return Send(Message(kAsyncDeviceClearAcknowledge, kSynchronizedMode, 0));
    case kAsyncStatusQuery: {
        const std::uint8_t status = session.device.StatusByte(now);
        session.device.ClearServiceRequest();
        return Send(Message(kAsyncStatusResponse, status, 0));
    }
    case kAsyncLockInfo:
        return Send(Message(kAsyncLockInfoResponse, session.locked ? 1 : 0, session.locked ? 1 : 0));
    default:
        if (header.type >= kFirstVendorType) return Error(kUnrecognizedVendorMessage, TypeText(header.type));
        return Error(kUnrecognizedMessageType, TypeText(header.type) + " on the asynchronous channel");
    }
}

void HislipChannel::Command(std::uint32_t messageId, Clock::time_point now) {
    const bool requested = session_->device.Command(command_, now);
    command_.clear();
    replyId_ = messageId;
    if (requested && session_->async)
        session_->async->Send(Message(kAsyncServiceRequest, session_->device.StatusByte(now), 0));
}

bool HislipChannel::ProduceReply(Clock::time_point now) {
    MessageDevice& device = session_->device;
    if (!device.ReplyDue()) { // the command had no reply
        replyId_.reset();
        return true;
    }
    if (!device.ReplyReady(now)) return false;
    const std::uint64_t piece = std::clamp<std::uint64_t>(session_->clientMaxMessage, 1, kMaxReplyPiece);
    MessageDevice::Piece taken = device.Take(static_cast<std::size_t>(piece));
    Send(Message(taken.end ? kDataEnd : kData, 0, *replyId_, taken.bytes));
    if (taken.end) replyId_.reset();
    return true;
}

void HislipChannel::BeginClear() {
    clearing_ = true;
    replyId_.reset();
    command_.clear();
}

void HislipChannel::Error(ErrorCode code, const std::string& text) {
    Send(Message(kError, code, 0, text));
}

void HislipChannel::Fatal(FatalCode code, const std::string& text) {
    Send(Message(kFatalError, code, 0, text));
    fatal_ = true;
}

std::optional<Clock::time_point> HislipChannel::NextDue() const {
    if (!replyId_ || fatal_ || channel_.Pending() >= kOutputHighWater) return std::nullopt;
    return session_->device.ReplyDue();
}

bool HislipChannel::Over() const {
    if (channel_.Failed()) return true;
    if (fatal_) return channel_.Pending() == 0;
    return channel_.InputEnded() && drained_ && !replyId_ && channel_.Pending() == 0;
}

bool HislipChannel::Finished() const {
    return Over() || (session_ && session_->ended);
}

} // namespace ampsim
