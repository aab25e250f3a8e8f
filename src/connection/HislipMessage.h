#pragma once
// HiSLIP's messages (IVI-6.1): a 16-byte header, "HS", the message type, the control code, a 32-bit
// message parameter and a 64-bit payload length, all big endian, then the payload. Parsing never
// reads past its input and never allocates for a length beyond the limit: a header that is cut
// short, lacks "HS" or announces too long a payload is a failure with its reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hislip {

constexpr uint16_t DefaultPort = 4880;
constexpr size_t HeaderSize = 16;
// The largest payload this client takes, and tells the instrument (AsyncMaximumMessageSize): a
// long reply comes as several Data messages.
constexpr uint64_t MaxPayload = 4u << 20;
// The first message ID after the session starts and after a device clear; each Data, DataEnd or
// Trigger the client sends takes the next, 2 higher, wrapping at 2^32.
constexpr uint32_t FirstMessageId = 0xffffff00u;
// The message ID of a reply that no message of the client asked for.
constexpr uint32_t UnrequestedId = 0xffffffffu;
// Bit 0 of the control code of Data, DataEnd and AsyncStatusQuery: the client has delivered a whole
// response (one that ended with DataEnd) since it last sent on the synchronous channel.
constexpr uint8_t RmtDelivered = 0x01;
// Bit 0 of the control code of InitializeResponse and the device clear messages: overlapped mode.
constexpr uint8_t OverlapMode = 0x01;

enum Type : uint8_t {
    Initialize = 0,
    InitializeResponse = 1,
    FatalError = 2,
    Error = 3,
    AsyncLock = 4,
    AsyncLockResponse = 5,
    Data = 6,
    DataEnd = 7,
    DeviceClearComplete = 8,
    DeviceClearAcknowledge = 9,
    AsyncRemoteLocalControl = 10,
    AsyncRemoteLocalResponse = 11,
    Trigger = 12,
    Interrupted = 13,
    AsyncInterrupted = 14,
    AsyncMaximumMessageSize = 15,
    AsyncMaximumMessageSizeResponse = 16,
    AsyncInitialize = 17,
    AsyncInitializeResponse = 18,
    AsyncDeviceClear = 19,
    AsyncServiceRequest = 20,
    AsyncStatusQuery = 21,
    AsyncStatusResponse = 22,
    AsyncDeviceClearAcknowledge = 23,
    AsyncLockInfo = 24,
    AsyncLockInfoResponse = 25,
};
// The fatal error code a receiver sends before it closes on a header it cannot read.
constexpr uint8_t PoorlyFormedHeader = 1;

struct Header {
    uint8_t type = 0;
    uint8_t control = 0;
    uint32_t parameter = 0;
    uint64_t length = 0; //!< Of the payload.
};

struct Message {
    Header header;
    std::string payload;
};

// Reads the header at the start of bytes. False with failure set when fewer than HeaderSize bytes
// are given, the prefix is not "HS", or the payload length exceeds maxPayload.
bool ParseHeader(std::string_view bytes, Header& header, std::string& failure,
                 uint64_t maxPayload = MaxPayload);
std::string Encode(uint8_t type, uint8_t control, uint32_t parameter, std::string_view payload = {});
// A 64-bit payload (AsyncMaximumMessageSize) and its reading; false when it is not 8 bytes.
std::string EncodeSize(uint64_t size);
bool DecodeSize(std::string_view payload, uint64_t& size);

// "DataEnd (7)", "type 200".
std::string TypeName(uint8_t type);
// An Error or FatalError message as a reader wants it: "FatalError 4 (server refused connection due
// to maximum number of clients exceeded): <payload>".
std::string DescribeError(const Message& message);

// Cuts messages out of the bytes a channel delivers, in whatever pieces they come. A bad header
// ends the stream: nothing after it can be trusted.
class MessageReader {
public:
    enum class Status { Message, NeedMore, Malformed };

    void Append(std::string_view bytes);
    Status Next(Message& message);
    const std::string& Failure() const { return failure_; }
    // Whether part of a message has come (what a channel that ends now leaves cut).
    bool MidMessage() const { return pending_.size() > read_; }
    void Reset() {
        pending_.clear();
        read_ = 0;
        failure_.clear();
    }

private:
    std::string pending_; //!< Bytes that came; those before read_ are cut out already.
    size_t read_ = 0;
    std::string failure_;
};

} // namespace hislip
