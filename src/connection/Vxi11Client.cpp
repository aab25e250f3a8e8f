#include "connection/Vxi11Client.h"

#include "connection/Vxi11Messages.h"
#include "platform/Tick.h"

#include <algorithm>

using namespace vxi11;
using oncrpc::RecordReader;
using oncrpc::RpcCall;

namespace {
// create_link's client id is for the device's own use; we have nothing to tell it.
constexpr int32_t ClientId = 0;
// VXI-11's smallest maxRecvSize: what a link that claims 0 is taken to mean.
constexpr uint32_t MinRecvSize = 1024;
} // namespace

Vxi11Client::Vxi11Client() = default;

Vxi11Client::~Vxi11Client() {
    Close();
}

bool Vxi11Client::Break(TcpChannel& channel, const std::string& reason) {
    channel.Close();
    if (&channel == &core_) {
        linked_ = false;
        open_ = false;
    }
    return Fail(reason);
}

bool Vxi11Client::DeviceOk(const char* call, int32_t error) {
    return error == 0 || Fail(std::string(call) + ": " + DeviceErrorText(error));
}

bool Vxi11Client::Call(TcpChannel& channel, RecordReader& reader, const RpcCall& call,
                       const std::string& arguments, int timeoutMs, std::string& results) {
    const unsigned start = GetTickCount();
    std::string why;
    // A request cut part-way leaves the stream out of step for good.
    if (!channel.Send(oncrpc::FrameRecord(oncrpc::EncodeCall(call, arguments)), timeoutMs, why))
        return Break(channel, why);
    for (;;) {
        std::string record;
        const RecordReader::Status status = reader.Next(record);
        if (status == RecordReader::Status::Malformed)
            return Break(channel, "RPC record: " + reader.Failure());
        if (status == RecordReader::Status::Record) {
            oncrpc::ReplyCheck check;
            if (oncrpc::DecodeReply(record, call.xid, check)) {
                results.assign(check.results);
                return true;
            }
            if (check.otherXid) continue; // the late reply of a call that gave up
            return Fail(check.failure);
        }
        std::string bytes;
        const TcpChannel::Got got = channel.Receive(bytes, RemainingMs(timeoutMs, start), why);
        if (got == TcpChannel::Got::Bytes) {
            reader.Append(bytes);
            continue;
        }
        if (got == TcpChannel::Got::TimedOut) return Fail("no reply within " + Ms(timeoutMs));
        if (got == TcpChannel::Got::Closed) return Fail("closed");
        if (got == TcpChannel::Got::Ended && reader.MidRecord())
            why = "the instrument closed the connection in the middle of a reply";
        return Break(channel, why);
    }
}

bool Vxi11Client::CoreCall(uint32_t procedure, const std::string& arguments, int timeoutMs,
                           std::string& results) {
    static const std::pair<uint32_t, const char*> names[] = {
        {CreateLink, "create_link"},       {DeviceWrite, "device_write"}, {DeviceRead, "device_read"},
        {DeviceReadStb, "device_readstb"}, {DeviceClear, "device_clear"}, {DestroyLink, "destroy_link"},
    };
    if (!core_.IsOpen()) return Fail("the session is closed");
    if (Call(core_, coreReader_, {xid_++, CoreProgram, CoreVersion, procedure}, arguments, timeoutMs,
             results))
        return true;
    const char* name = "call";
    for (const auto& [number, text] : names)
        if (number == procedure) name = text;
    return Fail(std::string(name) + ": " + Failure());
}

bool Vxi11Client::Open(const SessionTarget& target) {
    const unsigned closes = closes_.load();
    std::lock_guard call(callLock_);
    Teardown();
    portmap_.Rearm();
    core_.Rearm();
    Fail("");
    if (closes_.load() != closes) return Fail("closed");
    if (OpenLocked(target)) return true;
    const std::string failure = Failure();
    Teardown();
    return Fail(failure);
}

bool Vxi11Client::OpenLocked(const SessionTarget& target) {
    termChar_ = target.termChar;
    lockTimeoutMs_ = target.lockTimeoutMs;
    xid_ = GetTickCount() * 2654435761u; // differs from a session before, whose late replies may come
    const int timeout = target.timeoutMs;
    std::string why, results;
    if (!portmap_.Connect(target.host, target.port > 0 ? target.port : PortmapPort, timeout, why))
        return Fail("portmapper: " + why);
    RecordReader portmapReader;
    const bool asked = Call(portmap_, portmapReader, {xid_++, PortmapProgram, PortmapVersion, PortmapGetPort},
                            EncodeGetPort(CoreProgram, CoreVersion), timeout, results);
    portmap_.Close();
    if (!asked) return Fail("portmapper GETPORT: " + Failure());
    uint32_t port = 0;
    if (!DecodeGetPort(results, port, why)) return Fail(why);
    if (port == 0)
        return Fail("the portmapper knows no VXI-11 core channel (program 0x0607AF version 1, TCP)");
    if (port > 65535) return Fail("the portmapper gave the core channel port " + std::to_string(port));
    if (!core_.Connect(target.host, static_cast<int>(port), timeout, why))
        return Fail("core channel: " + why);
    coreReader_ = RecordReader();
    const std::string device = target.device.empty() ? "inst0" : target.device;
    LinkReply reply;
    if (!CoreCall(CreateLink, EncodeCreateLink(ClientId, lockTimeoutMs_, device), timeout, results))
        return false;
    if (!DecodeCreateLink(results, reply, why)) return Fail(why);
    if (!DeviceOk(("create_link \"" + device + "\"").c_str(), reply.error)) return false;
    link_ = reply.link;
    linked_ = true;
    maxRecvSize_ = reply.maxRecvSize > 0 ? reply.maxRecvSize : MinRecvSize;
    open_ = true;
    return true;
}

bool Vxi11Client::Write(const std::string& message, int timeoutMs) {
    std::lock_guard call(callLock_);
    Fail("");
    if (!open_) return Fail("the session is closed");
    const unsigned start = GetTickCount();
    const size_t chunkMax = maxRecvSize_;
    size_t at = 0;
    do {
        const int left = RemainingMs(timeoutMs, start);
        if (left == 0)
            return Fail("device_write: timed out after " + std::to_string(at) + " of " +
                        std::to_string(message.size()) + " bytes");
        const size_t chunk = std::min(chunkMax, message.size() - at);
        const int32_t flags = at + chunk == message.size() ? FlagEnd : 0;
        std::string results, why;
        WriteReply reply;
        if (!CoreCall(DeviceWrite,
                      EncodeWrite(link_, left, lockTimeoutMs_, flags, {message.data() + at, chunk}), left,
                      results))
            return false;
        if (!DecodeWrite(results, reply, why)) return Fail(why);
        if (!DeviceOk("device_write", reply.error)) return false;
        if (reply.size > chunk)
            return Fail("device_write: the instrument took " + std::to_string(reply.size) + " of " +
                        std::to_string(chunk) + " bytes");
        at += reply.size;
    } while (at < message.size());
    return true;
}

bool Vxi11Client::Read(std::string& message, int timeoutMs) {
    std::lock_guard call(callLock_);
    message.clear();
    Fail("");
    return open_ ? ReadLocked(message, timeoutMs) : Fail("the session is closed");
}

bool Vxi11Client::ReadLocked(std::string& message, int timeoutMs) {
    const unsigned start = GetTickCount();
    const int32_t flags = termChar_ >= 0 ? FlagTermCharSet : 0;
    const char termChar = termChar_ >= 0 ? static_cast<char>(termChar_) : '\0';
    for (;;) {
        const int left = RemainingMs(timeoutMs, start);
        if (left == 0) return Fail("device_read: timed out before the message ended");
        if (message.size() >= MaxMessage)
            return Fail("device_read: a message longer than " + std::to_string(MaxMessage) + " bytes");
        const auto request =
            static_cast<uint32_t>(std::min<size_t>(RequestSize, MaxMessage - message.size()));
        std::string results, why;
        ReadReply reply;
        if (!CoreCall(DeviceRead, EncodeRead(link_, request, left, lockTimeoutMs_, flags, termChar), left,
                      results))
            return false;
        if (!DecodeRead(results, reply, why)) return Fail(why);
        message += reply.data;
        if (!DeviceOk("device_read", reply.error)) return false;
        if (reply.reason & (ReasonEnd | ReasonTermChar)) return true;
    }
}

bool Vxi11Client::ReadStatusByte(uint8_t& status, int timeoutMs) {
    std::lock_guard call(callLock_);
    Fail("");
    if (!open_) return Fail("the session is closed");
    std::string results, why;
    StatusReply reply;
    if (!CoreCall(DeviceReadStb, EncodeGeneric(link_, 0, lockTimeoutMs_, timeoutMs), timeoutMs, results))
        return false;
    if (!DecodeReadStb(results, reply, why)) return Fail(why);
    if (!DeviceOk("device_readstb", reply.error)) return false;
    status = reply.status;
    return true;
}

bool Vxi11Client::Clear(int timeoutMs) {
    std::lock_guard call(callLock_);
    Fail("");
    if (!open_) return Fail("the session is closed");
    std::string results, why;
    int32_t error = 0;
    if (!CoreCall(DeviceClear, EncodeGeneric(link_, 0, lockTimeoutMs_, timeoutMs), timeoutMs, results))
        return false;
    if (!DecodeError(results, error, why)) return Fail(why);
    return DeviceOk("device_clear", error);
}

void Vxi11Client::Close() {
    ++closes_;
    portmap_.Cancel();
    core_.Cancel();
    std::lock_guard call(callLock_);
    const std::string failure = Failure(); // why the last call failed stays readable after Close
    Teardown();
    Fail(failure);
}

void Vxi11Client::Teardown() {
    if (linked_ && core_.IsOpen()) {
        // A call that Close released left the stream in step (a late reply is skipped by its xid).
        core_.Rearm();
        std::string results;
        CoreCall(DestroyLink, EncodeLink(link_), CloseTimeoutMs, results);
    }
    linked_ = false;
    open_ = false;
    core_.Close();
    portmap_.Close();
}
