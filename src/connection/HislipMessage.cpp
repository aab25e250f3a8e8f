#include "connection/HislipMessage.h"

#include <array>

namespace hislip {

namespace {
uint64_t BigEndian(std::string_view bytes) {
    uint64_t value = 0;
    for (const char c : bytes)
        value = value << 8 | static_cast<unsigned char>(c);
    return value;
}

void PutBigEndian(std::string& out, uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<char>(value >> shift));
}

const char* FatalErrorName(uint8_t code) {
    static const std::array<const char*, 6> names{
        "unidentified error",
        "poorly formed message header",
        "attempt to use connection without both channels established",
        "invalid initialization sequence",
        "server refused connection due to maximum number of clients exceeded",
        "secure connection failed",
    };
    if (code < names.size()) return names[code];
    return code >= 128 ? "device defined error" : "reserved error code";
}

const char* ErrorName(uint8_t code) {
    static const std::array<const char*, 6> names{
        "unidentified error",        "unrecognized message type",
        "unrecognized control code", "unrecognized vendor defined message",
        "message too large",         "authentication failed",
    };
    if (code < names.size()) return names[code];
    return code >= 128 ? "device defined error" : "reserved error code";
}
} // namespace

bool ParseHeader(std::string_view bytes, Header& header, std::string& failure, uint64_t maxPayload) {
    if (bytes.size() < HeaderSize) {
        failure = "HiSLIP header cut short: " + std::to_string(bytes.size()) + " of " +
                  std::to_string(HeaderSize) + " bytes";
        return false;
    }
    if (bytes[0] != 'H' || bytes[1] != 'S') {
        failure = "not a HiSLIP header (no \"HS\" prefix)";
        return false;
    }
    Header read;
    read.type = static_cast<uint8_t>(bytes[2]);
    read.control = static_cast<uint8_t>(bytes[3]);
    read.parameter = static_cast<uint32_t>(BigEndian(bytes.substr(4, 4)));
    read.length = BigEndian(bytes.substr(8, 8));
    if (read.length > maxPayload) {
        failure = TypeName(read.type) + " announces a payload of " + std::to_string(read.length) +
                  " bytes, more than the " + std::to_string(maxPayload) + " this client takes";
        return false;
    }
    header = read;
    return true;
}

std::string Encode(uint8_t type, uint8_t control, uint32_t parameter, std::string_view payload) {
    std::string out = "HS";
    out.push_back(static_cast<char>(type));
    out.push_back(static_cast<char>(control));
    PutBigEndian(out, parameter, 4);
    PutBigEndian(out, payload.size(), 8);
    out.append(payload);
    return out;
}

std::string EncodeSize(uint64_t size) {
    std::string out;
    PutBigEndian(out, size, 8);
    return out;
}

bool DecodeSize(std::string_view payload, uint64_t& size) {
    if (payload.size() != 8) return false;
    size = BigEndian(payload);
    return true;
}

std::string TypeName(uint8_t type) {
    static const std::array<const char*, 26> names{
        "Initialize",
        "InitializeResponse",
        "FatalError",
        "Error",
        "AsyncLock",
        "AsyncLockResponse",
        "Data",
        "DataEnd",
        "DeviceClearComplete",
        "DeviceClearAcknowledge",
        "AsyncRemoteLocalControl",
        "AsyncRemoteLocalResponse",
        "Trigger",
        "Interrupted",
        "AsyncInterrupted",
        "AsyncMaximumMessageSize",
        "AsyncMaximumMessageSizeResponse",
        "AsyncInitialize",
        "AsyncInitializeResponse",
        "AsyncDeviceClear",
        "AsyncServiceRequest",
        "AsyncStatusQuery",
        "AsyncStatusResponse",
        "AsyncDeviceClearAcknowledge",
        "AsyncLockInfo",
        "AsyncLockInfoResponse",
    };
    if (type < names.size()) return std::string(names[type]) + " (" + std::to_string(type) + ")";
    return "type " + std::to_string(type);
}

std::string DescribeError(const Message& message) {
    const uint8_t code = message.header.control;
    const bool fatal = message.header.type == FatalError;
    std::string text = std::string(fatal ? "FatalError " : "Error ") + std::to_string(code) + " (" +
                       (fatal ? FatalErrorName(code) : ErrorName(code)) + ")";
    if (!message.payload.empty()) text += ": " + message.payload;
    return text;
}

MessageReader::Status MessageReader::Next(Message& message) {
    if (!failure_.empty()) return Status::Malformed;
    const std::string_view unread = std::string_view(pending_).substr(read_);
    Header header;
    if (unread.size() < HeaderSize) {
        // A wrong prefix shows as soon as its two bytes are here.
        if (unread.size() >= 2 && unread.substr(0, 2) != "HS") {
            failure_ = "not a HiSLIP header (no \"HS\" prefix)";
            return Status::Malformed;
        }
        return Status::NeedMore;
    }
    if (!ParseHeader(unread, header, failure_)) return Status::Malformed;
    if (unread.size() - HeaderSize < header.length) return Status::NeedMore;
    message.header = header;
    message.payload.assign(unread.substr(HeaderSize, static_cast<size_t>(header.length)));
    read_ += HeaderSize + static_cast<size_t>(header.length);
    return Status::Message;
}

void MessageReader::Append(std::string_view bytes) {
    // What was read goes when more comes, not with each message: a burst of small messages is cut
    // without moving the rest each time.
    pending_.erase(0, read_);
    read_ = 0;
    pending_.append(bytes);
}

} // namespace hislip
