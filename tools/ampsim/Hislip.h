#pragma once
// HiSLIP's message layout: a 16-byte header ("HS", message type, control code, a 32-bit message
// parameter, a 64-bit payload length, all big-endian) and the payload. Only the numbers live here;
// what a server does with them is HislipChannel's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ampsim::hislip {

enum Type : std::uint8_t {
    kInitialize = 0,
    kInitializeResponse = 1,
    kFatalError = 2,
    kError = 3,
    kAsyncLock = 4,
    kAsyncLockResponse = 5,
    kData = 6,
    kDataEnd = 7,
    kDeviceClearComplete = 8,
    kDeviceClearAcknowledge = 9,
    kAsyncRemoteLocalControl = 10,
    kAsyncRemoteLocalResponse = 11,
    kTrigger = 12,
    kInterrupted = 13,
    kAsyncInterrupted = 14,
    kAsyncMaximumMessageSize = 15,
    kAsyncMaximumMessageSizeResponse = 16,
    kAsyncInitialize = 17,
    kAsyncInitializeResponse = 18,
    kAsyncDeviceClear = 19,
    kAsyncServiceRequest = 20,
    kAsyncStatusQuery = 21,
    kAsyncStatusResponse = 22,
    kAsyncDeviceClearAcknowledge = 23,
    kAsyncLockInfo = 24,
    kAsyncLockInfoResponse = 25,
    kFirstVendorType = 128,
};

// The control code of Error.
enum ErrorCode : std::uint8_t {
    kUnidentifiedError = 0,
    kUnrecognizedMessageType = 1,
    kUnrecognizedControlCode = 2,
    kUnrecognizedVendorMessage = 3,
    kMessageTooLarge = 4,
};

// The control code of FatalError; the connection is closed after it.
enum FatalCode : std::uint8_t {
    kUnidentifiedFatal = 0,
    kPoorlyFormedHeader = 1,
    kChannelsNotEstablished = 2,
    kInvalidInitialization = 3,
    kTooManyClients = 4,
};

inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::uint16_t kProtocolVersion = 0x0100; // 1.0: major, minor

struct Header {
    std::uint8_t type = 0;
    std::uint8_t control = 0;
    std::uint32_t parameter = 0;
    std::uint64_t length = 0;
};

enum class HeaderStatus { Complete, Partial, BadPrologue };
HeaderStatus ParseHeader(std::string_view bytes, Header& header);

std::string Message(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                    std::string_view payload = {});
// A message whose payload is one 64-bit number (the maximum message sizes).
std::string SizeMessage(std::uint8_t type, std::uint64_t size);

} // namespace ampsim::hislip
