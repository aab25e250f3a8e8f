#include "connection/Vxi11Messages.h"

#include "connection/OncRpc.h"

#include <utility>

using oncrpc::XdrReader;
using oncrpc::XdrWriter;

namespace vxi11 {

namespace {
// Ends a decoder: false with the reader's reason, named for the call.
bool Finish(XdrReader& in, bool ok, const char* call, std::string& failure) {
    if (ok) return true;
    failure = std::string(call) + " reply: " + in.Failure();
    return false;
}
} // namespace

std::string DeviceErrorText(int32_t code) {
    static const std::pair<int32_t, const char*> names[] = {
        {0, "no error"},
        {1, "syntax error"},
        {3, "device not accessible"},
        {4, "invalid link identifier"},
        {5, "parameter error"},
        {6, "channel not established"},
        {8, "operation not supported"},
        {9, "out of resources"},
        {11, "device locked by another link"},
        {12, "no lock held by this link"},
        {15, "I/O timeout"},
        {17, "I/O error"},
        {21, "invalid address"},
        {23, "abort"},
        {29, "channel already established"},
    };
    for (const auto& [value, name] : names)
        if (value == code) return std::string(name) + " (" + std::to_string(code) + ")";
    return "device error " + std::to_string(code);
}

std::string EncodeGetPort(uint32_t program, uint32_t version) {
    XdrWriter out;
    out.PutUint32(program);
    out.PutUint32(version);
    out.PutUint32(IpProtoTcp);
    out.PutUint32(0);
    return out.Bytes();
}

bool DecodeGetPort(std::string_view results, uint32_t& port, std::string& failure) {
    XdrReader in(results);
    return Finish(in, in.GetUint32(port), "GETPORT", failure);
}

std::string EncodeCreateLink(int32_t clientId, uint32_t lockTimeoutMs, std::string_view device) {
    XdrWriter out;
    out.PutInt32(clientId);
    out.PutBool(false); // lockDevice
    out.PutUint32(lockTimeoutMs);
    out.PutString(device);
    return out.Bytes();
}

bool DecodeCreateLink(std::string_view results, LinkReply& reply, std::string& failure) {
    XdrReader in(results);
    const bool ok = in.GetInt32(reply.error) && in.GetInt32(reply.link) && in.GetUint32(reply.abortPort) &&
                    in.GetUint32(reply.maxRecvSize);
    return Finish(in, ok, "create_link", failure);
}

std::string EncodeWrite(int32_t link, uint32_t ioTimeoutMs, uint32_t lockTimeoutMs, int32_t flags,
                        std::string_view data) {
    XdrWriter out;
    out.PutInt32(link);
    out.PutUint32(ioTimeoutMs);
    out.PutUint32(lockTimeoutMs);
    out.PutInt32(flags);
    out.PutOpaque(data);
    return out.Bytes();
}

bool DecodeWrite(std::string_view results, WriteReply& reply, std::string& failure) {
    XdrReader in(results);
    return Finish(in, in.GetInt32(reply.error) && in.GetUint32(reply.size), "device_write", failure);
}

std::string EncodeRead(int32_t link, uint32_t requestSize, uint32_t ioTimeoutMs, uint32_t lockTimeoutMs,
                       int32_t flags, char termChar) {
    XdrWriter out;
    out.PutInt32(link);
    out.PutUint32(requestSize);
    out.PutUint32(ioTimeoutMs);
    out.PutUint32(lockTimeoutMs);
    out.PutInt32(flags);
    out.PutUint32(static_cast<unsigned char>(termChar)); // a char travels as an XDR int
    return out.Bytes();
}

bool DecodeRead(std::string_view results, ReadReply& reply, std::string& failure) {
    XdrReader in(results);
    const bool ok = in.GetInt32(reply.error) && in.GetInt32(reply.reason) && in.GetOpaque(reply.data);
    return Finish(in, ok, "device_read", failure);
}

std::string EncodeGeneric(int32_t link, int32_t flags, uint32_t lockTimeoutMs, uint32_t ioTimeoutMs) {
    XdrWriter out;
    out.PutInt32(link);
    out.PutInt32(flags);
    out.PutUint32(lockTimeoutMs);
    out.PutUint32(ioTimeoutMs);
    return out.Bytes();
}

bool DecodeReadStb(std::string_view results, StatusReply& reply, std::string& failure) {
    XdrReader in(results);
    uint32_t status = 0;
    const bool ok = in.GetInt32(reply.error) && in.GetUint32(status);
    reply.status = static_cast<uint8_t>(status); // an unsigned char travels as an XDR int
    return Finish(in, ok, "device_readstb", failure);
}

std::string EncodeLink(int32_t link) {
    XdrWriter out;
    out.PutInt32(link);
    return out.Bytes();
}

bool DecodeError(std::string_view results, int32_t& error, std::string& failure) {
    XdrReader in(results);
    return Finish(in, in.GetInt32(error), "Device_Error", failure);
}

} // namespace vxi11
