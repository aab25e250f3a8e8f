#pragma once
// The bodies of the VXI-11 calls this client makes, in XDR: the portmapper's GETPORT and the core
// channel's (program DEVICE_CORE) create_link, device_write, device_read, device_readstb,
// device_clear and destroy_link. Encoders give the call's arguments; decoders read a reply's
// results and fail with a reason when they are cut short.
#include <cstdint>
#include <string>
#include <string_view>

namespace vxi11 {

constexpr uint32_t PortmapProgram = 100000;
constexpr uint32_t PortmapVersion = 2;
constexpr uint32_t PortmapGetPort = 3;
constexpr uint16_t PortmapPort = 111;
constexpr uint32_t IpProtoTcp = 6;

constexpr uint32_t CoreProgram = 0x0607AF;
constexpr uint32_t CoreVersion = 1;
enum Procedure : uint32_t {
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    DeviceReadStb = 13,
    DeviceClear = 15,
    DestroyLink = 23,
};

// Device_Flags.
constexpr int32_t FlagWaitLock = 0x01;
constexpr int32_t FlagEnd = 0x08;
constexpr int32_t FlagTermCharSet = 0x80;
// Why a device_read ended (its reason bits).
constexpr int32_t ReasonRequestCount = 0x01;
constexpr int32_t ReasonTermChar = 0x02;
constexpr int32_t ReasonEnd = 0x04;

// "I/O timeout (15)" for the device error codes VXI-11 names, "device error N" for others.
std::string DeviceErrorText(int32_t code);

// PMAPPROC_GETPORT's mapping: the program, its version, TCP, port 0.
std::string EncodeGetPort(uint32_t program, uint32_t version);
bool DecodeGetPort(std::string_view results, uint32_t& port, std::string& failure);

struct LinkReply {
    int32_t error = 0;
    int32_t link = 0;
    uint32_t abortPort = 0;
    uint32_t maxRecvSize = 0;
};
std::string EncodeCreateLink(int32_t clientId, uint32_t lockTimeoutMs, std::string_view device);
bool DecodeCreateLink(std::string_view results, LinkReply& reply, std::string& failure);

std::string EncodeWrite(int32_t link, uint32_t ioTimeoutMs, uint32_t lockTimeoutMs, int32_t flags,
                        std::string_view data);
struct WriteReply {
    int32_t error = 0;
    uint32_t size = 0;
};
bool DecodeWrite(std::string_view results, WriteReply& reply, std::string& failure);

// termChar is sent as its byte; it counts only with FlagTermCharSet in flags.
std::string EncodeRead(int32_t link, uint32_t requestSize, uint32_t ioTimeoutMs, uint32_t lockTimeoutMs,
                       int32_t flags, char termChar);
struct ReadReply {
    int32_t error = 0;
    int32_t reason = 0;
    std::string data;
};
bool DecodeRead(std::string_view results, ReadReply& reply, std::string& failure);

// Device_GenericParms, for device_readstb and device_clear.
std::string EncodeGeneric(int32_t link, int32_t flags, uint32_t lockTimeoutMs, uint32_t ioTimeoutMs);
struct StatusReply {
    int32_t error = 0;
    uint8_t status = 0;
};
bool DecodeReadStb(std::string_view results, StatusReply& reply, std::string& failure);

// destroy_link's argument: the link alone.
std::string EncodeLink(int32_t link);
// Device_Error, the reply of device_clear and destroy_link.
bool DecodeError(std::string_view results, int32_t& error, std::string& failure);

} // namespace vxi11
